#include "SslApi.h"

#include <map>
#include <memory>
#include <mutex>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <dlfcn.h>
#endif

namespace {

#ifdef _WIN32
// OpenSSL's own names for its DLLs, which differ by bitness.
#ifdef _WIN64
constexpr char DefaultSslFile[] = "libssl-3-x64.dll";
constexpr char DefaultCryptoFile[] = "libcrypto-3-x64.dll";
#else
constexpr char DefaultSslFile[] = "libssl-3.dll";
constexpr char DefaultCryptoFile[] = "libcrypto-3.dll";
#endif
using TModule = HMODULE;

// The directory of the executable, with its trailing separator.
std::wstring ExeDirectory() {
  std::wstring Path(MAX_PATH, L'\0');
  for (;;) {
    DWORD Length = GetModuleFileNameW(nullptr, Path.data(), static_cast<DWORD>(Path.size()));
    if (Length < Path.size()) {
      Path.resize(Length);
      break;
    }
    Path.resize(Path.size() * 2);
  }
  return Path.substr(0, Path.find_last_of(L"\\/") + 1);
}

TModule OpenModule(const std::string& File) {
  std::wstring Path = ExeDirectory() + std::wstring(File.begin(), File.end());
  return LoadLibraryExW(Path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void* Symbol(TModule Module, const char* Name) {
  return reinterpret_cast<void*>(GetProcAddress(Module, Name));
}
#else
constexpr char DefaultSslFile[] = "libssl.so.3";
constexpr char DefaultCryptoFile[] = "libcrypto.so.3";
using TModule = void*;

TModule OpenModule(const std::string& File) {
  return dlopen(File.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* Symbol(TModule Module, const char* Name) {
  return dlsym(Module, Name);
}
#endif

using TFiles = std::pair<std::string, std::string>;

std::mutex LoadLock;
TFiles Files{DefaultSslFile, DefaultCryptoFile};
std::map<TFiles, std::unique_ptr<TSslApi>> Loaded;

template <typename TFunction>
bool Bind(TFunction& Target, TModule Module, const char* Name) {
  Target = reinterpret_cast<TFunction>(Symbol(Module, Name));
  return Target != nullptr;
}

std::unique_ptr<TSslApi> Load(const TFiles& Names) {
  TModule Crypto = OpenModule(Names.second);
  TModule Ssl = Crypto ? OpenModule(Names.first) : nullptr;
  if (!Ssl) return nullptr;
  auto Api = std::make_unique<TSslApi>();
  bool Complete =
      Bind(Api->OPENSSL_init_ssl, Ssl, "OPENSSL_init_ssl") &&
      Bind(Api->TLS_client_method, Ssl, "TLS_client_method") &&
      Bind(Api->SSL_CTX_new, Ssl, "SSL_CTX_new") && Bind(Api->SSL_CTX_free, Ssl, "SSL_CTX_free") &&
      Bind(Api->SSL_CTX_ctrl, Ssl, "SSL_CTX_ctrl") &&
      Bind(Api->SSL_CTX_set_options, Ssl, "SSL_CTX_set_options") &&
      Bind(Api->SSL_CTX_set_cipher_list, Ssl, "SSL_CTX_set_cipher_list") &&
      Bind(Api->SSL_CTX_set_security_level, Ssl, "SSL_CTX_set_security_level") &&
      Bind(Api->SSL_CTX_set_verify, Ssl, "SSL_CTX_set_verify") &&
      Bind(Api->SSL_CTX_set_msg_callback, Ssl, "SSL_CTX_set_msg_callback") &&
      Bind(Api->SSL_new, Ssl, "SSL_new") && Bind(Api->SSL_free, Ssl, "SSL_free") &&
      Bind(Api->SSL_set_fd, Ssl, "SSL_set_fd") && Bind(Api->SSL_connect, Ssl, "SSL_connect") &&
      Bind(Api->SSL_read, Ssl, "SSL_read") && Bind(Api->SSL_write, Ssl, "SSL_write") &&
      Bind(Api->SSL_shutdown, Ssl, "SSL_shutdown") &&
      Bind(Api->SSL_get_error, Ssl, "SSL_get_error") &&
      Bind(Api->SSL_get_security_level, Ssl, "SSL_get_security_level") &&
      Bind(Api->SSL_set_security_level, Ssl, "SSL_set_security_level") &&
      Bind(Api->SSL_CTX_load_verify_file, Ssl, "SSL_CTX_load_verify_file") &&
      Bind(Api->SSL_CTX_set_default_verify_paths, Ssl, "SSL_CTX_set_default_verify_paths") &&
      Bind(Api->SSL_set_verify, Ssl, "SSL_set_verify") && Bind(Api->SSL_ctrl, Ssl, "SSL_ctrl") &&
      Bind(Api->SSL_set1_host, Ssl, "SSL_set1_host") &&
      Bind(Api->SSL_get0_param, Ssl, "SSL_get0_param") &&
      Bind(Api->SSL_get_verify_result, Ssl, "SSL_get_verify_result") &&
      Bind(Api->SSL_get1_peer_certificate, Ssl, "SSL_get1_peer_certificate") &&
      Bind(Api->SSL_get_peer_cert_chain, Ssl, "SSL_get_peer_cert_chain") &&
      Bind(Api->OPENSSL_sk_num, Crypto, "OPENSSL_sk_num") &&
      Bind(Api->OPENSSL_sk_value, Crypto, "OPENSSL_sk_value") &&
      Bind(Api->i2d_X509, Crypto, "i2d_X509") &&
      Bind(Api->X509_check_ip_asc, Crypto, "X509_check_ip_asc") &&
      Bind(Api->X509_self_signed, Crypto, "X509_self_signed") &&
      Bind(Api->X509_get_signature_info, Crypto, "X509_get_signature_info") &&
      Bind(Api->X509_get0_pubkey, Crypto, "X509_get0_pubkey") &&
      Bind(Api->EVP_PKEY_get_security_bits, Crypto, "EVP_PKEY_get_security_bits") &&
      Bind(Api->X509_VERIFY_PARAM_set1_ip_asc, Crypto, "X509_VERIFY_PARAM_set1_ip_asc") &&
      Bind(Api->X509_VERIFY_PARAM_set_auth_level, Crypto, "X509_VERIFY_PARAM_set_auth_level") &&
      Bind(Api->X509_verify_cert_error_string, Crypto, "X509_verify_cert_error_string") &&
      Bind(Api->X509_free, Crypto, "X509_free") && Bind(Api->X509_digest, Crypto, "X509_digest") &&
      Bind(Api->EVP_sha256, Crypto, "EVP_sha256") &&
      Bind(Api->ERR_get_error, Crypto, "ERR_get_error") &&
      Bind(Api->ERR_error_string_n, Crypto, "ERR_error_string_n") &&
      Bind(Api->ERR_clear_error, Crypto, "ERR_clear_error");
  // The first call into the library, before anything else can initialise it with the defaults:
  // neither the file named by OPENSSL_CONF nor the configuration file of the library's built-in
  // directory is ever read, so no local file can load a provider or engine into the process or
  // change the link's TLS settings.
  if (!Complete || Api->OPENSSL_init_ssl(SslConst::InitNoLoadConfig, nullptr) != 1) return nullptr;
#ifndef _WIN32
  // The TLS library writes to the socket with write(), which raises SIGPIPE on a connection the
  // peer has reset; the link reports that as a socket error instead.
  std::signal(SIGPIPE, SIG_IGN);
#endif
  return Api;
}

}  // namespace

const TSslApi* LoadSslApi() {
  std::lock_guard<std::mutex> Guard(LoadLock);
  auto Found = Loaded.find(Files);
  if (Found != Loaded.end()) return Found->second.get();
  auto Api = Load(Files);
  if (!Api) return nullptr;
  return Loaded.emplace(Files, std::move(Api)).first->second.get();
}

void SetSslLibraryFiles(const std::string& SslFile, const std::string& CryptoFile) {
  std::lock_guard<std::mutex> Guard(LoadLock);
  Files = {SslFile.empty() ? DefaultSslFile : SslFile,
           CryptoFile.empty() ? DefaultCryptoFile : CryptoFile};
}
