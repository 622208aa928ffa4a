// Windows only: the server's certificate judged by the system's own chain engine, as the system's
// TLS clients judge it, instead of the system's roots copied into the TLS library.
#pragma once

#include <string>

#include "SslApi.h"

// After a completed handshake: builds the chain from the certificates the server presented up to
// a root of the system's stores, for server authentication, and checks it with the SSL policy
// and the server name (Name: a host name, or an IPv4 address, which the certificate's
// addresses must hold). Certificates of the "Disallowed" store, roots not meant for server
// authentication, and revocations known to the system (its cache only: nothing is fetched while
// connecting) refuse the server, and so do presented certificates below the strength the TLS
// library asks at its security level 1 (SHA-1 or MD5 signatures, short keys). Returns why the
// server is refused, or empty when it is trusted.
std::string SystemTrustRefusal(const TSslApi& Api, const ssl_st* Ssl, const std::string& Name);
