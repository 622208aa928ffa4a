#include "TlsVerification.h"

#include <algorithm>

#ifdef _WIN32
#include <windows.h>
#include <wincrypt.h>
#endif

namespace {

constexpr long VerifyOk = 0;

#ifdef _WIN32
// Hands every certificate of the Windows "ROOT" store to the context as a trusted root.
bool TrustSystemRoots(const TSslApi& Api, ssl_ctx_st* Ctx) {
  HCERTSTORE Store = CertOpenSystemStoreW(0, L"ROOT");
  if (!Store) return false;
  x509_store_st* Trusted = Api.SSL_CTX_get_cert_store(Ctx);
  PCCERT_CONTEXT Cert = nullptr;
  while ((Cert = CertEnumCertificatesInStore(Store, Cert)) != nullptr) {
    const unsigned char* Bytes = Cert->pbCertEncoded;
    x509_st* Root = Api.d2i_X509(nullptr, &Bytes, static_cast<long>(Cert->cbCertEncoded));
    if (!Root) continue;
    Api.X509_STORE_add_cert(Trusted, Root);  // a duplicate is refused, which is harmless
    Api.X509_free(Root);
  }
  CertCloseStore(Store, 0);
  Api.ERR_clear_error();
  return true;
}
#else
bool TrustSystemRoots(const TSslApi& Api, ssl_ctx_st* Ctx) {
  return Api.SSL_CTX_set_default_verify_paths(Ctx) == 1;
}
#endif

std::string LoadTrust(const TSslApi& Api, ssl_ctx_st* Ctx, const TTlsPolicy& Policy) {
  switch (Policy.Trust) {
    case TTlsPolicy::TTrust::None:
      return "";
    case TTlsPolicy::TTrust::SystemStore:
      if (TrustSystemRoots(Api, Ctx)) return "";
      return "TLS: the system's ROOT certificate store cannot be read";
    case TTlsPolicy::TTrust::File:
      if (Api.SSL_CTX_load_verify_file(Ctx, Policy.TrustFile.c_str()) == 1) return "";
      return "TLS: no trusted certificates can be read from " + Policy.TrustFile;
  }
  return "";
}

// The name is checked when the chain is; it is sent whenever any server setting is made.
std::string SetServerName(const TSslApi& Api, ssl_st* Ssl, const TTlsPolicy& Policy,
                          const std::string& Host) {
  const std::string& Name = Policy.ServerName.empty() ? Host : Policy.ServerName;
  const bool IsAddress = IsIPv4Text(Name);
  if (!IsAddress &&
      Api.SSL_ctrl(Ssl, SslConst::CtrlSetTlsextHostname, SslConst::NameTypeHostName,
                   const_cast<char*>(Name.c_str())) != 1)
    return "TLS: the server name cannot be used: " + Name;
  if (Policy.Trust == TTlsPolicy::TTrust::None) return "";
  const bool Set = IsAddress ? Api.X509_VERIFY_PARAM_set1_ip_asc(Api.SSL_get0_param(Ssl),
                                                                 Name.c_str()) == 1
                             : Api.SSL_set1_host(Ssl, Name.c_str()) == 1;
  return Set ? "" : "TLS: the server name cannot be checked: " + Name;
}

}  // namespace

std::string PrepareServerChecks(const TSslApi& Api, ssl_ctx_st* Ctx, ssl_st* Ssl,
                                const TTlsPolicy& Policy, const std::string& Host) {
  if (!Policy.SendsName()) return "";
  std::string Error = LoadTrust(Api, Ctx, Policy);
  if (Error.empty()) Error = SetServerName(Api, Ssl, Policy, Host);
  if (Policy.Trust != TTlsPolicy::TTrust::None)
    Api.SSL_set_verify(Ssl, SslConst::VerifyPeer, nullptr);
  return Error;
}

std::string TrustRefusal(const TSslApi& Api, const ssl_st* Ssl, const TTlsPolicy& Policy) {
  if (Policy.Trust == TTlsPolicy::TTrust::None) return "";
  const long Result = Api.SSL_get_verify_result(Ssl);
  if (Result == VerifyOk) return "";
  return std::string("TLS: server certificate not trusted: ") +
         Api.X509_verify_cert_error_string(Result);
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
