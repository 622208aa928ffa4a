#include "NameLookup.h"

#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "LinkError.h"
#include "SocketErrors.h"
#include "TextEncoding.h"

#ifdef _WIN32
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#endif

namespace {

// One look-up, owned jointly by the waiter and the look-up thread.
struct TLookup {
  explicit TLookup(std::u16string Host) : Host(std::move(Host)) {}

  const std::u16string Host;
  TWakeSocket Done;
  std::mutex Lock;  // guards the result
  uint32_t Address = 0;
  bool Failed = false;
  std::string ErrorText;  // an error's message; the exception itself stays on its thread
};

void RunLookup(const std::shared_ptr<TLookup>& Lookup) {
  uint32_t Address = 0;
  bool Failed = false;
  std::string ErrorText;
  try {
    Address = ResolveIPv4(Lookup->Host);
  } catch (const std::exception& E) {
    Failed = true;
    ErrorText = E.what();
  }
  {
    std::lock_guard<std::mutex> Guard(Lookup->Lock);
    Lookup->Address = Address;
    Lookup->Failed = Failed;
    Lookup->ErrorText = std::move(ErrorText);
  }
  Lookup->Done.Signal();
}

bool ParseDotted(const std::u16string& Host, uint32_t& Address) {
  in_addr Dotted{};
  if (inet_pton(AF_INET, EncodeUtf8(Host).c_str(), &Dotted) != 1) return false;
  Address = Dotted.s_addr;
  return true;
}

}  // namespace

uint32_t ResolveIPv4Abortable(const std::u16string& Host, const TWakeSocket& Abort) {
  StartSockets();
  uint32_t Address = 0;
  if (ParseDotted(Host, Address)) return Address;
  auto Lookup = std::make_shared<TLookup>(Host);
  // Detached on purpose: joining would wait out the resolver, which is what this avoids. The
  // thread holds its own share of the look-up and ends when the resolver returns.
  std::thread([Lookup] { RunLookup(Lookup); }).detach();
  if (!WaitSignalled(Lookup->Done, Abort)) RaiseSocketError(WsaError::ConnAborted);
  std::lock_guard<std::mutex> Guard(Lookup->Lock);
  if (Lookup->Failed) throw ELinkError(Lookup->ErrorText);
  return Lookup->Address;
}
