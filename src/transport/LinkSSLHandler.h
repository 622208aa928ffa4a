// The TLS layer of a link client: its settings. Attached to a client (TLinkClient::SetIOHandler)
// before Connect, it makes the connection TLS. The client does not own it; release it after the
// client is done with it.
#pragma once

#include <cstdint>
#include <string>

struct TTlsPolicy;

// The lowest TLS version the connection accepts; it negotiates up to TLS 1.3.
enum class TLinkSSLMethod { TLSv1, TLSv1_1, TLSv1_2, TLSv1_3 };

// The role of the connection; unassigned becomes the client role when the connection opens.
enum class TLinkSSLMode { Unassigned, Client };

class TLinkSSLHandler {
 public:
  TLinkSSLMethod Method = TLinkSSLMethod::TLSv1;
  TLinkSSLMode Mode = TLinkSSLMode::Unassigned;
  // Milliseconds the socket may stay blocked in one receive or send of the TLS layer; -1: no limit.
  int32_t ReadTimeout = -1;
  // How the server is authenticated; none: it is not. Owned by whoever owns the handler.
  const TTlsPolicy* Policy = nullptr;
  // Copied from the client when the handler is attached.
  std::u16string Host;
  uint16_t Port = 0;
};
