// The checks of the server's certificate that a TLS policy asks for: the trusted roots, the name
// sent and checked, the pinned fingerprints, and the texts that say why a server was refused.
#pragma once

#include <string>

#include "SslApi.h"
#include "TlsPolicy.h"

// Sets a new session up for the policy's checks before its handshake; Host is the link's host.
// Returns the reason when that cannot be done (then no connection may be made), empty otherwise.
std::string PrepareServerChecks(const TSslApi& Api, ssl_ctx_st* Ctx, ssl_st* Ssl,
                                const TTlsPolicy& Policy, const std::string& Host);

// After a failed handshake: why the certificate was refused, or empty when it was not the cause.
std::string TrustRefusal(const TSslApi& Api, const ssl_st* Ssl, const TTlsPolicy& Policy);

// After a completed handshake: why the system refuses the certificate, when the policy trusts
// the system's roots and the system judges the chain itself (Windows), or empty.
std::string SystemRefusal(const TSslApi& Api, const ssl_st* Ssl, const TTlsPolicy& Policy,
                          const std::string& Host);

// After a completed handshake: why the certificate is refused by the pins, or empty.
std::string PinRefusal(const TSslApi& Api, const ssl_st* Ssl, const TTlsPolicy& Policy);
