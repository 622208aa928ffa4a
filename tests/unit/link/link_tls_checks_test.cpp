// What the TLS layer refuses whatever the server chooses: weak certificate signatures on an old
// protocol, weak cipher suites, renegotiation.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "LinkClient.h"
#include "LinkSSLHandler.h"
#include "LinkTestSupport.h"
#include "TestPeer.h"
#include "TestPki.h"
#include "TlsPolicy.h"

#ifdef _WIN32
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <windows.h>
#include <wincrypt.h>
#endif

namespace {

const std::string NoError = "<no error>";
const std::string NotTrusted =
    "Error connecting with SSL.\r\nTLS: server certificate not trusted: ";

// Connects to Peer (which presents Pki's server certificate) with Policy; the error Connect
// raises, NoError when the link is up. Accepted: whether the peer completed its handshake.
std::string ConnectWith(TTestPeer& Peer, const TTestPki& Pki, const TTlsPolicy& Policy,
                        bool& Accepted) {
  Peer.UseCertificate(Pki.LeafPem, Pki.LeafKeyPem);
  TLinkSSLHandler Ssl;
  Ssl.Policy = &Policy;
  TLinkClient Client;
  Client.ReadTimeout = DataWaitMs;
  Client.Host = u"127.0.0.1";
  Client.Port = Peer.Port();
  Client.SetIOHandler(&Ssl);
  Peer.AcceptAsync();
  std::string Error = ErrorOf([&] { Client.Connect(); });
  Accepted = Peer.Accepted();
  return Error;
}

// A TLS 1.0 server makes the session lower its security level for the handshake's own
// signatures; the chain of a trusted CA is still checked at level 1, so a SHA-1 signature is
// refused while a SHA-256 one passes over the same protocol.
TEST(LinkTlsChecksTest, OldProtocolKeepsTheCertificateChecks) {
  struct TCase {
    const char* Digest;
    std::string Error;
  };
  const TCase Cases[] = {
      {"SHA1", NotTrusted + "CA signature digest algorithm too weak"},
      {"SHA256", NoError},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Digest);
    const TTestPki Pki = MakeTestPki(C.Digest);
    TTempFile CaFile("tagrelay-test-ca.pem", Pki.CaPem);
    TTlsPolicy Policy;
    Policy.Trust = TTlsPolicy::TTrust::File;
    Policy.TrustFile = CaFile.Path();
    TTestPeer Peer(TPeerTls::Tls1_0Only);
    bool Accepted = false;
    EXPECT_EQ(ConnectWith(Peer, Pki, Policy, Accepted), C.Error);
    EXPECT_EQ(Accepted, C.Error == NoError);
  }
}

// The suites offered to an old server: nothing below 128 bits, and RSA key exchange with AES-CBC
// (TLS_RSA_WITH_AES_128_CBC_SHA), which is all some old servers have.
TEST(LinkTlsChecksTest, OffersStrongSuitesOnlyButKeepsWhatOldServersNeed) {
  TTestPeer Peer(TPeerTls::Tls1_0Only);
  TLinkSSLHandler Ssl;
  TLinkClient Client;
  ConnectPair(Client, Peer, &Ssl);
  bool RsaAesCbc = false;
  for (const TTestPeer::TSuite& Suite : Peer.OfferedSuites()) {
    RsaAesCbc = RsaAesCbc || Suite.Id == 0x002F;
    // The signalling values (renegotiation info, fallback) are no suites.
    if (Suite.Id == 0x00FF || Suite.Id == 0x5600) continue;
    EXPECT_GE(Suite.Bits, 128) << std::hex << Suite.Id;
  }
  EXPECT_TRUE(RsaAesCbc);
}

// A server asking for a renegotiation is refused: the client never sends a second ClientHello,
// and the server, whose request was declined, ends the session.
TEST(LinkTlsChecksTest, RenegotiationIsRefused) {
  TTestPeer Peer(TPeerTls::Tls1_0Only);
  TLinkSSLHandler Ssl;
  TLinkClient Client;
  ConnectPair(Client, Peer, &Ssl);
  ASSERT_TRUE(Peer.RequestRenegotiation());
  Peer.Send("after\n");
  EXPECT_EQ(Client.ReadLn(), u"after");
  Client.WriteLn(u"reply");
  EXPECT_EQ(Peer.ReceiveSome(), "");
  EXPECT_EQ(Peer.ClientHellos(), 1);
}

#ifdef _WIN32
// A certificate in a system store of the machine (the test's prefix) for the life of the object.
class TStoredCertificate {
 public:
  TStoredCertificate(const wchar_t* StoreName, const std::string& Pem) : StoreName(StoreName) {
    BIO* In = BIO_new_mem_buf(Pem.data(), static_cast<int>(Pem.size()));
    X509* Cert = PEM_read_bio_X509(In, nullptr, nullptr, nullptr);
    unsigned char* Der = nullptr;
    const int Length = Cert ? i2d_X509(Cert, &Der) : 0;
    if (Length > 0)
      Context = CertCreateCertificateContext(X509_ASN_ENCODING, Der, static_cast<DWORD>(Length));
    OPENSSL_free(Der);
    X509_free(Cert);
    BIO_free(In);
    HCERTSTORE Store = Open();
    Stored =
        Context && Store &&
        CertAddCertificateContextToStore(Store, Context, CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    if (Store) CertCloseStore(Store, 0);
  }
  ~TStoredCertificate() {
    HCERTSTORE Store = Open();
    PCCERT_CONTEXT Found = Store && Context
                               ? CertFindCertificateInStore(Store, X509_ASN_ENCODING, 0,
                                                            CERT_FIND_EXISTING, Context, nullptr)
                               : nullptr;
    if (Found) CertDeleteCertificateFromStore(Found);  // frees Found
    if (Store) CertCloseStore(Store, 0);
    if (Context) CertFreeCertificateContext(Context);
  }
  TStoredCertificate(const TStoredCertificate&) = delete;
  TStoredCertificate& operator=(const TStoredCertificate&) = delete;
  bool Ok() const { return Stored; }

 private:
  HCERTSTORE Open() const {
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE,
                         StoreName);
  }

  const wchar_t* StoreName;
  PCCERT_CONTEXT Context = nullptr;
  bool Stored = false;
};

// TlsVerify=system: Windows' chain engine judges the chain (under Wine, the prefix's stores), with
// the server name; the chain's strength is checked as with a file of trusted certificates, also
// when an old server lowers the session's level.
TEST(LinkTlsChecksTest, SystemStoresJudgeTheServer) {
  struct TCase {
    const char* What;
    const char* Digest;
    bool CaInRoot;
    bool ServerDisallowed;
    std::string ServerName;
    std::string Error;
  };
  const TCase Cases[] = {
      {"unknown CA", "SHA256", false, false, "",
       NotTrusted + "unable to get local issuer certificate"},
      {"trusted CA", "SHA256", true, false, "", NoError},
      {"trusted CA, checked name", "SHA256", true, false, "scada.test", NoError},
      {"another name", "SHA256", true, false, "other.example", NotTrusted + "hostname mismatch"},
      {"another address", "SHA256", true, false, "127.0.0.2", NotTrusted + "IP address mismatch"},
      {"SHA-1 signature", "SHA1", true, false, "",
       NotTrusted + "CA signature digest algorithm too weak"},
      {"server in Disallowed", "SHA256", true, true, "", NotTrusted + "explicitly distrusted"},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.What);
    const TTestPki Pki = MakeTestPki(C.Digest);
    std::unique_ptr<TStoredCertificate> Root, Disallowed;
    if (C.CaInRoot) Root = std::make_unique<TStoredCertificate>(L"ROOT", Pki.CaPem);
    if (C.ServerDisallowed)
      Disallowed = std::make_unique<TStoredCertificate>(L"Disallowed", Pki.LeafPem);
    ASSERT_TRUE(!Root || Root->Ok());
    ASSERT_TRUE(!Disallowed || Disallowed->Ok());
    TTlsPolicy Policy;
    Policy.Trust = TTlsPolicy::TTrust::SystemStore;
    Policy.ServerName = C.ServerName;
    TTestPeer Peer(TPeerTls::Tls1_0Only);
    bool Accepted = false;
    EXPECT_EQ(ConnectWith(Peer, Pki, Policy, Accepted), C.Error);
  }
}
#endif

}  // namespace
