#include "TestPki.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <stdexcept>

namespace {

void Check(bool Ok, const char* What) {
  if (!Ok) throw std::runtime_error(std::string("test certificate: ") + What);
}

using TCert = std::unique_ptr<X509, decltype(&X509_free)>;

// RSA, which every chain engine checks (Wine's does not check elliptic-curve signatures). The
// keys are made once per run: that is the slow part.
EVP_PKEY* SharedKey(int Which) {
  static EVP_PKEY* Keys[2] = {EVP_RSA_gen(2048), EVP_RSA_gen(2048)};
  Check(Keys[Which] != nullptr, "key");
  return Keys[Which];
}

void AddExtension(X509* Cert, X509* Issuer, int Nid, const char* Value) {
  X509V3_CTX Context;
  X509V3_set_ctx_nodb(&Context);
  X509V3_set_ctx(&Context, Issuer, Cert, nullptr, nullptr, 0);
  X509_EXTENSION* Extension = X509V3_EXT_conf_nid(nullptr, &Context, Nid, Value);
  Check(Extension && X509_add_ext(Cert, Extension, -1) == 1, "extension");
  X509_EXTENSION_free(Extension);
}

// Issuer null: self-signed.
TCert NewCert(const char* Name, long Serial, EVP_PKEY* Key, X509* Issuer, EVP_PKEY* IssuerKey,
              const EVP_MD* Digest) {
  TCert Cert(X509_new(), X509_free);
  Check(Cert != nullptr, "new");
  X509_set_version(Cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(Cert.get()), Serial);
  X509_gmtime_adj(X509_getm_notBefore(Cert.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(Cert.get()), 2 * 24 * 3600);
  X509_NAME_add_entry_by_txt(X509_get_subject_name(Cert.get()), "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(Name), -1, -1, 0);
  X509* Signer = Issuer ? Issuer : Cert.get();
  X509_set_issuer_name(Cert.get(), X509_get_subject_name(Signer));
  X509_set_pubkey(Cert.get(), Key);
  if (Issuer) {
    AddExtension(Cert.get(), Signer, NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(Cert.get(), Signer, NID_subject_alt_name, "IP:127.0.0.1,DNS:scada.test");
  } else {
    AddExtension(Cert.get(), Signer, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(Cert.get(), Signer, NID_key_usage, "critical,keyCertSign,cRLSign");
  }
  Check(X509_sign(Cert.get(), IssuerKey ? IssuerKey : Key, Digest) > 0, "sign");
  return Cert;
}

std::string Pem(X509* Cert) {
  BIO* Out = BIO_new(BIO_s_mem());
  PEM_write_bio_X509(Out, Cert);
  char* Data = nullptr;
  const long Length = BIO_get_mem_data(Out, &Data);
  std::string Text(Data, static_cast<std::size_t>(Length));
  BIO_free(Out);
  return Text;
}

std::string Pem(EVP_PKEY* Key) {
  BIO* Out = BIO_new(BIO_s_mem());
  PEM_write_bio_PrivateKey(Out, Key, nullptr, nullptr, 0, nullptr, nullptr);
  char* Data = nullptr;
  const long Length = BIO_get_mem_data(Out, &Data);
  std::string Text(Data, static_cast<std::size_t>(Length));
  BIO_free(Out);
  return Text;
}

}  // namespace

TTestPki MakeTestPki(const char* Digest) {
  const EVP_MD* LeafDigest = EVP_get_digestbyname(Digest);
  Check(LeafDigest != nullptr, Digest);
  // A CA of its own name each time, so no system cache takes one for another.
  static int Made = 0;
  const std::string CaName =
      "Tagrelay Test CA " + std::to_string(++Made) + "-" + std::to_string(std::random_device()());
  EVP_PKEY* CaKey = SharedKey(0);
  EVP_PKEY* LeafKey = SharedKey(1);
  TCert Ca = NewCert(CaName.c_str(), 1, CaKey, nullptr, nullptr, EVP_sha256());
  TCert Leaf = NewCert("scada.test", 2, LeafKey, Ca.get(), CaKey, LeafDigest);
  return {Pem(Ca.get()), Pem(Leaf.get()), Pem(LeafKey)};
}

TTempFile::TTempFile(const std::string& Name, const std::string& Text)
    : FPath((std::filesystem::temp_directory_path() /
             (std::to_string(std::random_device()()) + "-" + Name))
                .string()) {
  std::ofstream(FPath, std::ios::binary) << Text;
}

TTempFile::~TTempFile() {
  std::error_code Ignored;
  std::filesystem::remove(FPath, Ignored);
}
