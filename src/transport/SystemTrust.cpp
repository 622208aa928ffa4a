#include "SystemTrust.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "TextEncoding.h"
#include "TlsPolicy.h"

namespace {

constexpr char Prefix[] = "TLS: server certificate not trusted: ";
constexpr DWORD IgnoreRevocation = 0x00000080;  // SECURITY_FLAG_IGNORE_REVOCATION (wininet.h)

struct TStoreCloser {
  void operator()(void* Store) const { CertCloseStore(Store, 0); }
};
using TStore = std::unique_ptr<void, TStoreCloser>;
struct TCertFree {
  void operator()(const CERT_CONTEXT* Cert) const { CertFreeCertificateContext(Cert); }
};
using TCert = std::unique_ptr<const CERT_CONTEXT, TCertFree>;
struct TChainFree {
  void operator()(const CERT_CHAIN_CONTEXT* Chain) const { CertFreeCertificateChain(Chain); }
};
using TChain = std::unique_ptr<const CERT_CHAIN_CONTEXT, TChainFree>;

// The presented certificates in a store of their own; Leaf receives the first (the server's).
TStore PresentedStore(const TSslApi& Api, const ssl_st* Ssl, TCert& Leaf) {
  TStore Store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
  stack_st_X509* Chain = Api.SSL_get_peer_cert_chain(Ssl);
  if (!Store || !Chain) return nullptr;
  for (int I = 0; I < Api.OPENSSL_sk_num(Chain); ++I) {
    auto* Cert = static_cast<x509_st*>(Api.OPENSSL_sk_value(Chain, I));
    const int Length = Api.i2d_X509(Cert, nullptr);
    if (Length <= 0) return nullptr;
    std::vector<unsigned char> Der(static_cast<size_t>(Length));
    unsigned char* End = Der.data();
    Api.i2d_X509(Cert, &End);
    PCCERT_CONTEXT Added = nullptr;
    if (!CertAddEncodedCertificateToStore(Store.get(), X509_ASN_ENCODING, Der.data(),
                                          static_cast<DWORD>(Der.size()), CERT_STORE_ADD_ALWAYS,
                                          &Added))
      return nullptr;
    if (I == 0)
      Leaf.reset(Added);
    else
      CertFreeCertificateContext(Added);
  }
  return Leaf ? std::move(Store) : nullptr;
}

struct TEngineFree {
  void operator()(void* Engine) const { CertFreeCertificateChainEngine(Engine); }
};
using TEngine = std::unique_ptr<void, TEngineFree>;

// An engine of its own for each check, over the user's stores as they are now: a root added or
// a certificate disallowed while the program runs counts at the next connection (Wine's default
// engine keeps the stores it opened first).
TEngine NewEngine() {
  CERT_CHAIN_ENGINE_CONFIG Config{};
  Config.cbSize = sizeof Config;
  HCERTCHAINENGINE Engine = nullptr;
  if (!CertCreateCertificateChainEngine(&Config, &Engine)) return nullptr;
  return TEngine(Engine);
}

TChain BuildChain(PCCERT_CONTEXT Leaf, HCERTSTORE Presented) {
  static char ServerAuth[] = szOID_PKIX_KP_SERVER_AUTH;
  LPSTR Usages[] = {ServerAuth};
  CERT_CHAIN_PARA Para{};
  Para.cbSize = sizeof Para;
  Para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  Para.RequestedUsage.Usage.cUsageIdentifier = 1;
  Para.RequestedUsage.Usage.rgpszUsageIdentifier = Usages;
  // Only what the system holds already: a missing issuer or revocation list is not fetched,
  // so connecting (and the close that waits for it) never waits for the network.
  const DWORD Flags =
      CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT | CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL;
  TEngine Engine = NewEngine();
  PCCERT_CHAIN_CONTEXT Chain = nullptr;
  if (!Engine || !CertGetCertificateChain(Engine.get(), Leaf, nullptr, Presented, &Para, Flags,
                                          nullptr, &Chain))
    return nullptr;
  return TChain(Chain);
}

std::string PolicyErrorText(DWORD Error) {
  switch (Error) {
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
      return "the root is not trusted";
    case static_cast<DWORD>(CERT_E_CHAINING):
      return "unable to get local issuer certificate";
    case static_cast<DWORD>(CERT_E_CN_NO_MATCH):
      return "hostname mismatch";
    case static_cast<DWORD>(CERT_E_EXPIRED):
      return "certificate has expired or is not yet valid";
    case static_cast<DWORD>(CERT_E_WRONG_USAGE):
      return "not meant for server authentication";
    case static_cast<DWORD>(CRYPT_E_REVOKED):
      return "certificate revoked";
    case static_cast<DWORD>(TRUST_E_EXPLICIT_DISTRUST):
      return "explicitly distrusted";
    case static_cast<DWORD>(TRUST_E_CERT_SIGNATURE):
      return "certificate signature failure";
    default: {
      char Text[32];
      std::snprintf(Text, sizeof Text, "Windows error 0x%08lX", static_cast<unsigned long>(Error));
      return Text;
    }
  }
}

// Faults of the chain itself, whatever a policy makes of them (Wine's SSL policy, for one, lets a
// chain that ends in no root at all pass); empty when there is none. An unknown revocation status
// is no fault here, nor are validity periods that do not nest.
std::string ChainFault(PCCERT_CHAIN_CONTEXT Chain) {
  struct TFault {
    DWORD Bit;
    HRESULT Error;
  };
  static const TFault Faults[] = {
      {CERT_TRUST_IS_PARTIAL_CHAIN, CERT_E_CHAINING},
      {CERT_TRUST_IS_UNTRUSTED_ROOT, CERT_E_UNTRUSTEDROOT},
      {CERT_TRUST_IS_EXPLICIT_DISTRUST, TRUST_E_EXPLICIT_DISTRUST},
      {CERT_TRUST_IS_REVOKED, CRYPT_E_REVOKED},
      {CERT_TRUST_IS_NOT_SIGNATURE_VALID, TRUST_E_CERT_SIGNATURE},
      {CERT_TRUST_IS_NOT_TIME_VALID, CERT_E_EXPIRED},
      {CERT_TRUST_IS_NOT_VALID_FOR_USAGE, CERT_E_WRONG_USAGE},
  };
  for (const TFault& Fault : Faults)
    if (Chain->TrustStatus.dwErrorStatus & Fault.Bit)
      return PolicyErrorText(static_cast<DWORD>(Fault.Error));
  return "";
}

// The strength the TLS library asks of a chain at security level 1 (80 bits), which the system's
// policy does not ask by default: every presented certificate but a self-signed one must be
// signed with a digest of that strength (no SHA-1, no MD5), and keys must reach it too. Empty
// when the presented chain is strong enough, else the library's own reason.
std::string WeakPresented(const TSslApi& Api, const ssl_st* Ssl) {
  constexpr int MinimumBits = 80;
  stack_st_X509* Chain = Api.SSL_get_peer_cert_chain(Ssl);
  const int Count = Chain ? Api.OPENSSL_sk_num(Chain) : 0;
  for (int I = 0; I < Count; ++I) {
    auto* Cert = static_cast<x509_st*>(Api.OPENSSL_sk_value(Chain, I));
    if (Api.EVP_PKEY_get_security_bits(Api.X509_get0_pubkey(Cert)) < MinimumBits)
      return I == 0 ? "EE certificate key too weak" : "CA certificate key too weak";
    int SignatureBits = -1;
    if (Api.X509_self_signed(Cert, 0) != 1 &&
        (Api.X509_get_signature_info(Cert, nullptr, nullptr, &SignatureBits, nullptr) != 1 ||
         SignatureBits < MinimumBits))
      return "CA signature digest algorithm too weak";
  }
  return "";
}

// True when a certificate of the chain is in the "Disallowed" store of the user or the machine.
// The chain engine of Windows finds them itself; this makes the refusal the same wherever the
// engine does not look there.
bool AnyDisallowed(PCCERT_CHAIN_CONTEXT Chain) {
  if (Chain->cChain == 0) return false;
  const CERT_SIMPLE_CHAIN* Simple = Chain->rgpChain[0];
  for (DWORD Location : {CERT_SYSTEM_STORE_CURRENT_USER, CERT_SYSTEM_STORE_LOCAL_MACHINE}) {
    TStore Disallowed(CertOpenStore(
        CERT_STORE_PROV_SYSTEM_W, 0, 0,
        Location | CERT_STORE_OPEN_EXISTING_FLAG | CERT_STORE_READONLY_FLAG, L"Disallowed"));
    if (!Disallowed) continue;
    for (DWORD I = 0; I < Simple->cElement; ++I) {
      TCert Found(CertFindCertificateInStore(Disallowed.get(), X509_ASN_ENCODING, 0,
                                             CERT_FIND_EXISTING,
                                             Simple->rgpElement[I]->pCertContext, nullptr));
      if (Found) return true;
    }
  }
  return false;
}

}  // namespace

std::string SystemTrustRefusal(const TSslApi& Api, const ssl_st* Ssl, const std::string& Name) {
  TCert Leaf;
  TStore Presented = PresentedStore(Api, Ssl, Leaf);
  if (!Presented) return "TLS: the server's certificates cannot be read";
  const std::string Weak = WeakPresented(Api, Ssl);
  if (!Weak.empty()) return Prefix + Weak;
  TChain Chain = BuildChain(Leaf.get(), Presented.get());
  if (!Chain) return std::string(Prefix) + "no chain can be built";
  const std::string Fault = ChainFault(Chain.get());
  if (!Fault.empty()) return Prefix + Fault;
  if (AnyDisallowed(Chain.get()))
    return std::string(Prefix) + PolicyErrorText(TRUST_E_EXPLICIT_DISTRUST);

  // An address is matched against the certificate's addresses here; the SSL policy matches
  // host names only.
  const bool IsAddress = IsIPv4Text(Name);
  std::u16string WideName = DecodeUtf8(Name);
  HTTPSPolicyCallbackData Extra{};
  Extra.cbStruct = sizeof Extra;
  Extra.dwAuthType = AUTHTYPE_SERVER;
  Extra.pwszServerName =
      IsAddress || Name.empty() ? nullptr : reinterpret_cast<WCHAR*>(WideName.data());
  // A revoked chain was refused above; what the policy would still say about revocation is that
  // the system does not know the status (offline, no list cached), which does not refuse.
  Extra.fdwChecks = IgnoreRevocation;
  CERT_CHAIN_POLICY_PARA PolicyPara{};
  PolicyPara.cbSize = sizeof PolicyPara;
  PolicyPara.dwFlags = CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS;
  PolicyPara.pvExtraPolicyPara = &Extra;
  CERT_CHAIN_POLICY_STATUS Status{};
  Status.cbSize = sizeof Status;
  if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, Chain.get(), &PolicyPara, &Status))
    return std::string(Prefix) + "the chain cannot be checked";
  if (Status.dwError != 0) return std::string(Prefix) + PolicyErrorText(Status.dwError);

  if (IsAddress) {
    x509_st* Cert = Api.SSL_get1_peer_certificate(Ssl);
    const bool Matches = Cert && Api.X509_check_ip_asc(Cert, Name.c_str(), 0) == 1;
    if (Cert) Api.X509_free(Cert);
    if (!Matches) return std::string(Prefix) + "IP address mismatch";
  }
  return "";
}
