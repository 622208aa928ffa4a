// One connection of the link: a client and, with TLS, the TLS layer attached to it, configured
// the way every connection of the link is (2000 ms reads, TLS 1.0 and up, client role).
//
// Shared by everyone who reads or writes on it; the last owner to let go closes the connection,
// releases the TLS layer and then the client, so nothing is released under a running read or
// write.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "TlsPolicy.h"

class TLinkClient;
class TLinkSSLHandler;

class TLinkConnection {
 public:
  // With TLS, Policy says how the server is authenticated and which TLS version is the lowest.
  TLinkConnection(const std::u16string& Host, uint16_t Port, bool WithTLS,
                  const TTlsPolicy& Policy = {});
  ~TLinkConnection();
  TLinkConnection(const TLinkConnection&) = delete;
  TLinkConnection& operator=(const TLinkConnection&) = delete;

  TLinkClient& Client() { return *IdTCPClient; }

  // The client of a shared connection, keeping the whole connection alive.
  static std::shared_ptr<TLinkClient> ShareClient(const std::shared_ptr<TLinkConnection>& Link);

 private:
  TTlsPolicy Policy;
  std::unique_ptr<TLinkClient> IdTCPClient;
  std::unique_ptr<TLinkSSLHandler> IdServerIOHandlerSSLOpenSSL;
};
