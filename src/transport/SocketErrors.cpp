#include "SocketErrors.h"

#include <cstring>
#include <iterator>

#ifdef _WIN32
#include <windows.h>
#include "TextEncoding.h"
#else
#include <cerrno>
#include <netdb.h>
#endif

namespace {

struct TKnownError {
  int Code;
  const char* Description;
};

// The errors the link meets in practice, with the texts its log shows for them.
constexpr TKnownError KnownErrors[] = {
    {WsaError::HostNotFound, "Host not found."},
    {WsaError::TimedOut, "Connection timed out."},
    {WsaError::ConnRefused, "Connection refused."},
    {WsaError::ConnReset, "Connection reset by peer."},
    {WsaError::ConnAborted, "Software caused connection abort."},
    {WsaError::NotSocket, "Socket operation on non-socket."},
    {WsaError::NetUnreachable, "Network is unreachable."},
    {WsaError::HostUnreachable, "No route to host."},
};

#ifdef _WIN32

std::string SystemDescription(int Code) {
  wchar_t* Buffer = nullptr;
  DWORD Length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(Code), 0, reinterpret_cast<wchar_t*>(&Buffer), 0, nullptr);
  std::u16string Text(reinterpret_cast<const char16_t*>(Buffer), Length);
  LocalFree(Buffer);
  while (!Text.empty() && (Text.back() == u'\r' || Text.back() == u'\n' || Text.back() == u' '))
    Text.pop_back();
  return EncodeUtf8(Text);
}

#else

struct TErrnoPair {
  int Errno;
  int Wsa;
};

// errno values and the Windows Sockets numbers of the same conditions.
constexpr TErrnoPair ErrnoPairs[] = {
    {EINTR, 10004},
    {EBADF, 10009},
    {EACCES, 10013},
    {EFAULT, 10014},
    {EINVAL, 10022},
    {EMFILE, 10024},
    {EWOULDBLOCK, 10035},
    {EINPROGRESS, 10036},
    {EALREADY, 10037},
    {ENOTSOCK, 10038},
    {EDESTADDRREQ, 10039},
    {EMSGSIZE, 10040},
    {EPROTOTYPE, 10041},
    {ENOPROTOOPT, 10042},
    {EPROTONOSUPPORT, 10043},
    {ESOCKTNOSUPPORT, 10044},
    {EOPNOTSUPP, 10045},
    {EPFNOSUPPORT, 10046},
    {EAFNOSUPPORT, 10047},
    {EADDRINUSE, 10048},
    {EADDRNOTAVAIL, 10049},
    {ENETDOWN, 10050},
    {ENETUNREACH, 10051},
    {ENETRESET, 10052},
    {ECONNABORTED, 10053},
    {ECONNRESET, 10054},
    {ENOBUFS, 10055},
    {EISCONN, 10056},
    {ENOTCONN, 10057},
    {ESHUTDOWN, 10058},
    {ETOOMANYREFS, 10059},
    {ETIMEDOUT, 10060},
    {ECONNREFUSED, 10061},
    {ELOOP, 10062},
    {ENAMETOOLONG, 10063},
    {EHOSTDOWN, 10064},
    {EHOSTUNREACH, 10065},
    {ENOTEMPTY, 10066},
    {EUSERS, 10068},
    {EDQUOT, 10069},
    {ESTALE, 10070},
    {EREMOTE, 10071},
    // Writing to a connection the peer has reset; Windows reports this as a reset.
    {EPIPE, 10054},
};

std::string SystemDescription(int Code) {
  for (const auto& Pair : ErrnoPairs) {
    if (Pair.Wsa == Code) return std::strerror(Pair.Errno);
  }
  switch (Code) {
    case WsaError::TryAgain:
      return gai_strerror(EAI_AGAIN);
    case WsaError::NoRecovery:
      return gai_strerror(EAI_FAIL);
    case WsaError::NoData:
      return gai_strerror(EAI_NODATA);
  }
  if (Code > 0 && Code < 10000) return std::strerror(Code);
  return "";
}

#endif

}  // namespace

std::string SocketErrorDescription(int Code) {
  for (const auto& Known : KnownErrors) {
    if (Known.Code == Code) return Known.Description;
  }
  return SystemDescription(Code);
}

std::string SocketErrorMessage(int Code) {
  return "Socket Error # " + std::to_string(Code) + "\r\n" + SocketErrorDescription(Code);
}

#ifndef _WIN32

int WsaFromErrno(int Errno) {
  for (const auto& Pair : ErrnoPairs) {
    if (Pair.Errno == Errno) return Pair.Wsa;
  }
  return Errno;
}

int WsaFromGaiError(int GaiError, int Errno) {
  switch (GaiError) {
    case EAI_NONAME:
      return WsaError::HostNotFound;
    case EAI_AGAIN:
      return WsaError::TryAgain;
    case EAI_FAIL:
      return WsaError::NoRecovery;
    case EAI_NODATA:
    case EAI_ADDRFAMILY:
      return WsaError::NoData;
    case EAI_MEMORY:
      return 10055;
    case EAI_SYSTEM:
      return WsaFromErrno(Errno);
    default:
      return WsaError::NoRecovery;
  }
}

#endif
