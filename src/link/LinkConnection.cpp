#include "LinkConnection.h"

#include "LinkClient.h"
#include "LinkSSLHandler.h"

namespace {
// Longest wait for incoming bytes in one read, also the TLS layer's socket time-outs.
constexpr int32_t LinkReadTimeoutMs = 2000;
}  // namespace

TLinkConnection::TLinkConnection(const std::u16string& Host, uint16_t Port, bool WithTLS,
                                 const TTlsPolicy& Policy)
    : Policy(Policy), IdTCPClient(std::make_unique<TLinkClient>()) {
  IdTCPClient->Host = Host;
  IdTCPClient->Port = Port;
  IdTCPClient->ReadTimeout = LinkReadTimeoutMs;
  if (WithTLS) {
    IdServerIOHandlerSSLOpenSSL = std::make_unique<TLinkSSLHandler>();
    IdServerIOHandlerSSLOpenSSL->Method = this->Policy.MinVersion;
    IdServerIOHandlerSSLOpenSSL->Policy = &this->Policy;
    IdServerIOHandlerSSLOpenSSL->ReadTimeout = LinkReadTimeoutMs;
    IdTCPClient->SetIOHandler(IdServerIOHandlerSSLOpenSSL.get());
  }
}

// Closes the connection while its TLS layer still exists, then releases the TLS layer and then
// the client.
TLinkConnection::~TLinkConnection() {
  try {
    IdTCPClient->Disconnect();
  } catch (...) {
    // A connection that already failed is released all the same.
  }
  IdServerIOHandlerSSLOpenSSL.reset();
  IdTCPClient.reset();
}

std::shared_ptr<TLinkClient> TLinkConnection::ShareClient(
    const std::shared_ptr<TLinkConnection>& Link) {
  return std::shared_ptr<TLinkClient>(Link, Link->IdTCPClient.get());
}
