#include "TlsSession.h"

#include <climits>

#include "LinkError.h"
#include "LinkSSLHandler.h"
#include "TextEncoding.h"
#include "TlsVerification.h"

namespace {

// Strong suites only: no 3DES, RC4 or anything below 128 bits, whatever the library was built
// with. RSA key exchange with AES-CBC stays, as old servers may offer nothing else.
constexpr char CipherList[] = "HIGH:!aNULL:!eNULL:!3DES:!RC4:!MD5:@STRENGTH";
// The lowest security level the server's certificate chain is checked at, whatever the protocol.
constexpr int ChainCheckLevel = 1;

int ProtocolVersion(TLinkSSLMethod Method) {
  switch (Method) {
    case TLinkSSLMethod::TLSv1_1:
      return SslConst::Tls1_1Version;
    case TLinkSSLMethod::TLSv1_2:
      return SslConst::Tls1_2Version;
    case TLinkSSLMethod::TLSv1_3:
      return SslConst::Tls1_3Version;
    case TLinkSSLMethod::TLSv1:
    default:
      return SslConst::Tls1Version;
  }
}

// TLS 1.0 and 1.1 sign the handshake with MD5 and SHA-1, which OpenSSL 3 refuses above security
// level 0. The level is lowered only for a session whose server has chosen one of those versions,
// as soon as its ServerHello arrives and before the library checks the version. The certificate
// chain is still checked at ChainCheckLevel (set on the session's verification parameters, which
// take precedence over the session's level), so weak signatures and keys stay refused.
void LowerLevelForOldServers(int WriteP, int, int ContentType, const void* Buf, std::size_t Len,
                             ssl_st* Ssl, void* Arg) {
  const auto* Bytes = static_cast<const unsigned char*>(Buf);
  if (WriteP || ContentType != SslConst::RecordHandshake || Len < 6 ||
      Bytes[0] != SslConst::HandshakeServerHello)
    return;
  int ServerVersion = (Bytes[4] << 8) | Bytes[5];
  const auto* Api = static_cast<const TSslApi*>(Arg);
  if (ServerVersion < SslConst::Tls1_2Version && Api->SSL_get_security_level(Ssl) > 0)
    Api->SSL_set_security_level(Ssl, 0);
}

std::string LibraryErrorText(const TSslApi& Api) {
  unsigned long Code = Api.ERR_get_error();
  if (Code == 0) return "";
  char Text[256];
  Api.ERR_error_string_n(Code, Text, sizeof Text);
  Api.ERR_clear_error();
  return Text;
}

}  // namespace

TTlsSession::TTlsSession(const TSocket& Socket, const TLinkSSLHandler& Settings)
    : Api(LoadSslApi()), Policy(Settings.Policy), Host(EncodeUtf8(Settings.Host)) {
  if (!Api) throw ELinkError(MsgCouldNotLoadSSL);
  Api->ERR_clear_error();
  Ctx = Api->SSL_CTX_new(Api->TLS_client_method());
  if (Ctx) {
    Api->SSL_CTX_ctrl(Ctx, SslConst::CtrlSetMinProtoVersion, ProtocolVersion(Settings.Method),
                      nullptr);
    Api->SSL_CTX_ctrl(Ctx, SslConst::CtrlSetMaxProtoVersion, 0, nullptr);
    // The library's own default level, whatever the system's configuration file says.
    Api->SSL_CTX_set_security_level(Ctx, 1);
    Api->SSL_CTX_set_cipher_list(Ctx, CipherList);
    Api->SSL_CTX_set_verify(Ctx, SslConst::VerifyNone, nullptr);
    Api->SSL_CTX_ctrl(Ctx, SslConst::CtrlMode,
                      SslConst::ModeAutoRetry | SslConst::ModeEnablePartialWrite |
                          SslConst::ModeAcceptMovingWriteBuffer,
                      nullptr);
    // A peer that closes the socket without a close notification ends the session normally.
    // No renegotiation: the link never needs one, and a certificate presented in one would
    // escape the checks made after the first handshake (the pins).
    Api->SSL_CTX_set_options(Ctx, SslConst::OpIgnoreUnexpectedEof | SslConst::OpNoRenegotiation);
    Api->SSL_CTX_set_msg_callback(Ctx, LowerLevelForOldServers);
    Api->SSL_CTX_ctrl(Ctx, SslConst::CtrlSetMsgCallbackArg, 0, const_cast<TSslApi*>(Api));
    Ssl = Api->SSL_new(Ctx);
    if (Ssl) Api->X509_VERIFY_PARAM_set_auth_level(Api->SSL_get0_param(Ssl), ChainCheckLevel);
  }
  if (!Ssl || Api->SSL_set_fd(Ssl, static_cast<int>(Socket.Handle())) != 1) {
    std::string Text = LibraryErrorText(*Api);
    Release();
    throw ELinkError(std::string(MsgErrorConnectingWithSSL) + "\r\n" + Text);
  }
  if (Policy) {
    std::string Error = PrepareServerChecks(*Api, Ctx, Ssl, *Policy, Host);
    if (!Error.empty()) {
      Release();
      throw ELinkError(Error);
    }
  }
}

TTlsSession::~TTlsSession() {
  Release();
}

void TTlsSession::Release() {
  if (Ssl) Api->SSL_free(Ssl);
  if (Ctx) Api->SSL_CTX_free(Ctx);
  Ssl = nullptr;
  Ctx = nullptr;
}

template <typename TCall>
TTlsSession::TResult TTlsSession::Call(TCall&& Operation) {
  std::lock_guard<std::mutex> Guard(Lock);
  TResult Result;
  if (!Ssl) {
    Result.Status = TStatus::Closed;
    return Result;
  }
  Api->ERR_clear_error();
  ClearSocketError();
  int Ret = Operation(Ssl);
  int SocketError = Ret > 0 ? 0 : LastSocketError();
  if (Ret > 0) {
    Result.Count = static_cast<std::size_t>(Ret);
    return Result;
  }
  switch (Api->SSL_get_error(Ssl, Ret)) {
    case SslConst::ErrorWantRead:
      Result.Status = TStatus::WantRead;
      break;
    case SslConst::ErrorWantWrite:
      Result.Status = TStatus::WantWrite;
      break;
    case SslConst::ErrorZeroReturn:
      Result.Status = TStatus::Closed;
      break;
    case SslConst::ErrorSyscall:
      Result.ErrorText = LibraryErrorText(*Api);
      Result.SocketError = SocketError;
      Result.Status =
          Result.ErrorText.empty() && SocketError == 0 ? TStatus::Closed : TStatus::Failed;
      break;
    default:
      Result.ErrorText = LibraryErrorText(*Api);
      Result.Status = TStatus::Failed;
      break;
  }
  return Result;
}

TTlsSession::TResult TTlsSession::Handshake() {
  TResult Result = Call([this](ssl_st* S) { return Api->SSL_connect(S); });
  // A handshake has no byte count; Done is its success.
  Result.Count = 0;
  if (Policy) CheckServer(Result);
  return Result;
}

// A certificate refused by the policy fails the handshake with the reason.
void TTlsSession::CheckServer(TResult& Result) {
  std::lock_guard<std::mutex> Guard(Lock);
  if (!Ssl) return;
  std::string Refusal;
  if (Result.Status == TStatus::Failed) Refusal = TrustRefusal(*Api, Ssl, *Policy);
  if (Result.Status == TStatus::Done) Refusal = SystemRefusal(*Api, Ssl, *Policy, Host);
  if (Result.Status == TStatus::Done && Refusal.empty()) Refusal = PinRefusal(*Api, Ssl, *Policy);
  if (Refusal.empty()) return;
  Result.Status = TStatus::Failed;
  Result.SocketError = 0;
  Result.ErrorText = Refusal;
}

TTlsSession::TResult TTlsSession::Read(char* Buffer, std::size_t Size) {
  int Num = static_cast<int>(Size > INT_MAX ? INT_MAX : Size);
  return Call([this, Buffer, Num](ssl_st* S) { return Api->SSL_read(S, Buffer, Num); });
}

TTlsSession::TResult TTlsSession::Write(const char* Data, std::size_t Size) {
  int Num = static_cast<int>(Size > INT_MAX ? INT_MAX : Size);
  return Call([this, Data, Num](ssl_st* S) { return Api->SSL_write(S, Data, Num); });
}

void TTlsSession::Shutdown() {
  std::lock_guard<std::mutex> Guard(Lock);
  if (!Ssl) return;
  Api->SSL_shutdown(Ssl);
  Api->ERR_clear_error();
  Release();
}
