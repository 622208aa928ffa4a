#include "TlsVerification.h"

#include <algorithm>

#ifdef _WIN32
#include "SystemTrust.h"
#endif

namespace {

constexpr long VerifyOk = 0;

// On Windows the system's roots are judged by its own chain engine after the handshake
// (SystemTrust.h); the TLS library then checks no chain of its own.
bool JudgedBySystem(const TTlsPolicy& Policy) {
#ifdef _WIN32
  return Policy.Trust == TTlsPolicy::TTrust::SystemStore;
#else
  (void)Policy;
  return false;
#endif
}

bool VerifiedByLibrary(const TTlsPolicy& Policy) {
  return Policy.Trust != TTlsPolicy::TTrust::None && !JudgedBySystem(Policy);
}

const std::string& CheckedName(const TTlsPolicy& Policy, const std::string& Host) {
  return Policy.ServerName.empty() ? Host : Policy.ServerName;
}

std::string LoadTrust(const TSslApi& Api, ssl_ctx_st* Ctx, const TTlsPolicy& Policy) {
  switch (Policy.Trust) {
    case TTlsPolicy::TTrust::None:
      return "";
    case TTlsPolicy::TTrust::SystemStore:
      if (JudgedBySystem(Policy) || Api.SSL_CTX_set_default_verify_paths(Ctx) == 1) return "";
      return "TLS: the system's trusted certificates cannot be read";
    case TTlsPolicy::TTrust::File:
      if (Api.SSL_CTX_load_verify_file(Ctx, Policy.TrustFile.c_str()) == 1) return "";
      return "TLS: no trusted certificates can be read from " + Policy.TrustFile;
  }
  return "";
}

// The name is checked when the chain is; it is sent whenever any server setting is made.
std::string SetServerName(const TSslApi& Api, ssl_st* Ssl, const TTlsPolicy& Policy,
                          const std::string& Host) {
  const std::string& Name = CheckedName(Policy, Host);
  const bool IsAddress = IsIPv4Text(Name);
  if (!IsAddress && Api.SSL_ctrl(Ssl, SslConst::CtrlSetTlsextHostname, SslConst::NameTypeHostName,
                                 const_cast<char*>(Name.c_str())) != 1)
    return "TLS: the server name cannot be used: " + Name;
  if (!VerifiedByLibrary(Policy)) return "";
  const bool Set =
      IsAddress ? Api.X509_VERIFY_PARAM_set1_ip_asc(Api.SSL_get0_param(Ssl), Name.c_str()) == 1
                : Api.SSL_set1_host(Ssl, Name.c_str()) == 1;
  return Set ? "" : "TLS: the server name cannot be checked: " + Name;
}

}  // namespace

std::string PrepareServerChecks(const TSslApi& Api, ssl_ctx_st* Ctx, ssl_st* Ssl,
                                const TTlsPolicy& Policy, const std::string& Host) {
  if (!Policy.SendsName()) return "";
  std::string Error = LoadTrust(Api, Ctx, Policy);
  if (Error.empty()) Error = SetServerName(Api, Ssl, Policy, Host);
  if (VerifiedByLibrary(Policy)) Api.SSL_set_verify(Ssl, SslConst::VerifyPeer, nullptr);
  return Error;
}

std::string TrustRefusal(const TSslApi& Api, const ssl_st* Ssl, const TTlsPolicy& Policy) {
  if (!VerifiedByLibrary(Policy)) return "";
  const long Result = Api.SSL_get_verify_result(Ssl);
  if (Result == VerifyOk) return "";
  return std::string("TLS: server certificate not trusted: ") +
         Api.X509_verify_cert_error_string(Result);
}

std::string SystemRefusal(const TSslApi& Api, const ssl_st* Ssl, const TTlsPolicy& Policy,
                          const std::string& Host) {
#ifdef _WIN32
  if (JudgedBySystem(Policy)) return SystemTrustRefusal(Api, Ssl, CheckedName(Policy, Host));
#else
  (void)Api, (void)Ssl, (void)Policy, (void)Host;
#endif
  return "";
}

std::string PinRefusal(const TSslApi& Api, const ssl_st* Ssl, const TTlsPolicy& Policy) {
  if (Policy.Pins.empty()) return "";
  x509_st* Cert = Api.SSL_get1_peer_certificate(Ssl);
  if (!Cert) return "TLS: the server sent no certificate";
  unsigned char Digest[64];
  unsigned int Length = 0;
  const bool Made = Api.X509_digest(Cert, Api.EVP_sha256(), Digest, &Length) == 1;
  Api.X509_free(Cert);
  if (!Made) return "TLS: the server certificate's fingerprint cannot be computed";
  const std::string Fingerprint(reinterpret_cast<const char*>(Digest), Length);
  if (std::find(Policy.Pins.begin(), Policy.Pins.end(), Fingerprint) != Policy.Pins.end())
    return "";
  return "TLS: server certificate fingerprint not pinned: " + FingerprintText(Fingerprint);
}
