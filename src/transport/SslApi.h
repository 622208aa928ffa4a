// The part of OpenSSL 3 the link uses, loaded at run time when the first TLS connection opens:
// libssl-3-x64.dll and libcrypto-3-x64.dll (libssl-3.dll and libcrypto-3.dll in the 32-bit build)
// beside the executable on Windows, libssl.so.3 and libcrypto.so.3 natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct ssl_st;
struct ssl_ctx_st;
struct ssl_method_st;
struct x509_st;
struct stack_st_X509;
struct X509_VERIFY_PARAM_st;
struct evp_md_st;
struct evp_pkey_st;

namespace SslConst {
inline constexpr int ErrorSsl = 1;
inline constexpr int ErrorWantRead = 2;
inline constexpr int ErrorWantWrite = 3;
inline constexpr int ErrorSyscall = 5;
inline constexpr int ErrorZeroReturn = 6;

inline constexpr int CtrlSetMsgCallbackArg = 16;
inline constexpr int CtrlMode = 33;
inline constexpr int CtrlSetMinProtoVersion = 123;
inline constexpr int CtrlSetMaxProtoVersion = 124;

inline constexpr long ModeEnablePartialWrite = 0x1;
inline constexpr long ModeAcceptMovingWriteBuffer = 0x2;
inline constexpr long ModeAutoRetry = 0x4;
inline constexpr uint64_t OpIgnoreUnexpectedEof = uint64_t{1} << 7;
inline constexpr uint64_t OpNoRenegotiation = uint64_t{1} << 30;
inline constexpr int VerifyNone = 0;

inline constexpr int VerifyPeer = 1;
inline constexpr int CtrlSetTlsextHostname = 55;
inline constexpr long NameTypeHostName = 0;

inline constexpr uint64_t InitNoLoadConfig = 0x00000080;

inline constexpr int Tls1Version = 0x0301;
inline constexpr int Tls1_1Version = 0x0302;
inline constexpr int Tls1_2Version = 0x0303;
inline constexpr int Tls1_3Version = 0x0304;

inline constexpr int RecordHandshake = 22;
inline constexpr int HandshakeServerHello = 2;
}  // namespace SslConst

using TSslMsgCallback = void (*)(int WriteP, int Version, int ContentType, const void* Buf,
                                 std::size_t Len, ssl_st* Ssl, void* Arg);

struct TSslApi {
  int (*OPENSSL_init_ssl)(uint64_t Opts, const void* Settings);
  const ssl_method_st* (*TLS_client_method)();
  ssl_ctx_st* (*SSL_CTX_new)(const ssl_method_st* Method);
  void (*SSL_CTX_free)(ssl_ctx_st* Ctx);
  long (*SSL_CTX_ctrl)(ssl_ctx_st* Ctx, int Cmd, long Larg, void* Parg);
  uint64_t (*SSL_CTX_set_options)(ssl_ctx_st* Ctx, uint64_t Options);
  int (*SSL_CTX_set_cipher_list)(ssl_ctx_st* Ctx, const char* List);
  void (*SSL_CTX_set_security_level)(ssl_ctx_st* Ctx, int Level);
  void (*SSL_CTX_set_verify)(ssl_ctx_st* Ctx, int Mode, void* Callback);
  void (*SSL_CTX_set_msg_callback)(ssl_ctx_st* Ctx, TSslMsgCallback Callback);
  ssl_st* (*SSL_new)(ssl_ctx_st* Ctx);
  void (*SSL_free)(ssl_st* Ssl);
  int (*SSL_set_fd)(ssl_st* Ssl, int Fd);
  int (*SSL_connect)(ssl_st* Ssl);
  int (*SSL_read)(ssl_st* Ssl, void* Buf, int Num);
  int (*SSL_write)(ssl_st* Ssl, const void* Buf, int Num);
  int (*SSL_shutdown)(ssl_st* Ssl);
  int (*SSL_get_error)(const ssl_st* Ssl, int Ret);
  int (*SSL_get_security_level)(const ssl_st* Ssl);
  void (*SSL_set_security_level)(ssl_st* Ssl, int Level);
  // Checking the server's certificate.
  int (*SSL_CTX_load_verify_file)(ssl_ctx_st* Ctx, const char* File);
  int (*SSL_CTX_set_default_verify_paths)(ssl_ctx_st* Ctx);
  void (*SSL_set_verify)(ssl_st* Ssl, int Mode, void* Callback);
  long (*SSL_ctrl)(ssl_st* Ssl, int Cmd, long Larg, void* Parg);
  int (*SSL_set1_host)(ssl_st* Ssl, const char* Host);
  X509_VERIFY_PARAM_st* (*SSL_get0_param)(ssl_st* Ssl);
  long (*SSL_get_verify_result)(const ssl_st* Ssl);
  x509_st* (*SSL_get1_peer_certificate)(const ssl_st* Ssl);
  stack_st_X509* (*SSL_get_peer_cert_chain)(const ssl_st* Ssl);  // the leaf first, not owned
  int (*OPENSSL_sk_num)(const stack_st_X509* Stack);
  void* (*OPENSSL_sk_value)(const stack_st_X509* Stack, int Index);
  int (*i2d_X509)(const x509_st* Cert, unsigned char** Out);
  int (*X509_check_ip_asc)(x509_st* Cert, const char* Address, unsigned int Flags);
  int (*X509_self_signed)(x509_st* Cert, int VerifySignature);
  int (*X509_get_signature_info)(x509_st* Cert, int* MdNid, int* PkNid, int* SecBits,
                                 uint32_t* Flags);
  evp_pkey_st* (*X509_get0_pubkey)(const x509_st* Cert);
  int (*EVP_PKEY_get_security_bits)(const evp_pkey_st* Key);
  int (*X509_VERIFY_PARAM_set1_ip_asc)(X509_VERIFY_PARAM_st* Param, const char* Ip);
  void (*X509_VERIFY_PARAM_set_auth_level)(X509_VERIFY_PARAM_st* Param, int Level);
  const char* (*X509_verify_cert_error_string)(long Code);
  void (*X509_free)(x509_st* Cert);
  int (*X509_digest)(const x509_st* Cert, const evp_md_st* Type, unsigned char* Md,
                     unsigned int* Length);
  const evp_md_st* (*EVP_sha256)();
  unsigned long (*ERR_get_error)();
  void (*ERR_error_string_n)(unsigned long Code, char* Buf, std::size_t Len);
  void (*ERR_clear_error)();
};

// The loaded library, or nullptr when it cannot be loaded (a later call tries again). Once
// loaded, it stays loaded for the life of the process.
const TSslApi* LoadSslApi();

// Tests only: load the library from these file names instead (empty names: the defaults).
void SetSslLibraryFiles(const std::string& SslFile, const std::string& CryptoFile);
