#include "LinkSocket.h"

#include "LinkError.h"
#include "LinkSSLHandler.h"
#include "NameLookup.h"
#include "SocketErrors.h"

namespace {

bool WantsWrite(TTlsSession::TStatus Status) {
  return Status == TTlsSession::TStatus::WantWrite;
}

}  // namespace

TLinkSocket::TLinkSocket(TSocket Socket, std::shared_ptr<TWakeSocket> Wake,
                         std::unique_ptr<TTlsSession> Tls, int32_t TlsTimeoutMs)
    : Socket(std::move(Socket)),
      SharedWake(std::move(Wake)),
      Wake(*SharedWake),
      Tls(std::move(Tls)),
      TlsTimeoutMs(TlsTimeoutMs) {}

std::shared_ptr<TLinkSocket> TLinkSocket::Open(const std::u16string& Host, uint16_t Port,
                                               const TLinkSSLHandler* Ssl,
                                               std::shared_ptr<TWakeSocket> Wake) {
  TSocket Socket = CreateTcpSocket();
  uint32_t Address = ResolveIPv4Abortable(Host, *Wake);
  ConnectAbortable(Socket, Address, Port, *Wake);
  std::unique_ptr<TTlsSession> Tls;
  if (Ssl) Tls = std::make_unique<TTlsSession>(Socket, *Ssl);
  auto Link = std::make_shared<TLinkSocket>(std::move(Socket), std::move(Wake), std::move(Tls),
                                            Ssl ? Ssl->ReadTimeout : -1);
  if (Link->Tls) Link->Handshake();
  return Link;
}

void TLinkSocket::Handshake() {
  for (;;) {
    TTlsSession::TResult Result = Tls->Handshake();
    switch (Result.Status) {
      case TTlsSession::TStatus::Done:
        return;
      case TTlsSession::TStatus::WantRead:
      case TTlsSession::TStatus::WantWrite:
        switch (WaitSocket(Socket, WantsWrite(Result.Status), Wake, TlsTimeoutMs)) {
          case TWaitResult::TimedOut:
            throw ELinkError(std::string(MsgErrorConnectingWithSSL) + "\r\n" +
                             SocketErrorDescription(WsaError::TimedOut));
          case TWaitResult::Woken:
            RaiseSocketError(WsaError::ConnAborted);
          case TWaitResult::Ready:
            break;
        }
        break;
      case TTlsSession::TStatus::Closed:
        throw ELinkError(std::string(MsgErrorConnectingWithSSL) + "\r\n" +
                         MsgConnectionClosedGracefully);
      case TTlsSession::TStatus::Failed:
        throw ELinkError(std::string(MsgErrorConnectingWithSSL) + "\r\n" +
                         (Result.ErrorText.empty() ? SocketErrorDescription(Result.SocketError)
                                                   : Result.ErrorText));
    }
  }
}

TLinkSocket::TReceived TLinkSocket::Receive(char* Buffer, std::size_t Size, int32_t TimeoutMs,
                                            std::size_t& Count) {
  Count = 0;
  for (;;) {
    if (Closed) return TReceived::LocalClosed;
    bool ForWrite = false;
    if (Tls) {
      TTlsSession::TResult Result = Tls->Read(Buffer, Size);
      switch (Result.Status) {
        case TTlsSession::TStatus::Done:
          Count = Result.Count;
          return TReceived::Data;
        case TTlsSession::TStatus::Closed:
          return Closed ? TReceived::LocalClosed : TReceived::PeerClosed;
        case TTlsSession::TStatus::Failed:
          RaiseTlsError(Result);
        case TTlsSession::TStatus::WantRead:
        case TTlsSession::TStatus::WantWrite:
          ForWrite = WantsWrite(Result.Status);
          break;
      }
    } else {
      long Received = ReceiveSome(Socket, Buffer, Size);
      if (Received == 0) return TReceived::PeerClosed;
      if (Received > 0) {
        Count = static_cast<std::size_t>(Received);
        return TReceived::Data;
      }
    }
    switch (WaitSocket(Socket, ForWrite, Wake, TimeoutMs)) {
      case TWaitResult::TimedOut:
        return TReceived::TimedOut;
      case TWaitResult::Woken:
        return TReceived::LocalClosed;
      case TWaitResult::Ready:
        break;
    }
  }
}

void TLinkSocket::Send(const char* Data, std::size_t Size) {
  if (Tls) {
    SendTls(Data, Size);
  } else {
    SendPlain(Data, Size);
  }
}

void TLinkSocket::SendPlain(const char* Data, std::size_t Size) {
  std::size_t Sent = 0;
  while (Sent < Size) {
    if (Closed) RaiseSocketError(WsaError::ConnAborted);
    long Count = SendSome(Socket, Data + Sent, Size - Sent);
    if (Count > 0) {
      Sent += static_cast<std::size_t>(Count);
    } else if (WaitSocket(Socket, true, Wake, -1) == TWaitResult::Woken) {
      RaiseSocketError(WsaError::ConnAborted);
    }
  }
}

void TLinkSocket::SendTls(const char* Data, std::size_t Size) {
  std::size_t Sent = 0;
  while (Sent < Size) {
    if (Closed) RaiseSocketError(WsaError::ConnAborted);
    TTlsSession::TResult Result = Tls->Write(Data + Sent, Size - Sent);
    switch (Result.Status) {
      case TTlsSession::TStatus::Done:
        Sent += Result.Count;
        break;
      case TTlsSession::TStatus::Closed:
        RaiseSocketError(Closed ? WsaError::ConnAborted : WsaError::ConnReset);
      case TTlsSession::TStatus::Failed:
        RaiseTlsError(Result);
      case TTlsSession::TStatus::WantRead:
      case TTlsSession::TStatus::WantWrite:
        switch (WaitSocket(Socket, WantsWrite(Result.Status), Wake, TlsTimeoutMs)) {
          case TWaitResult::TimedOut:
            RaiseSocketError(WsaError::TimedOut);
          case TWaitResult::Woken:
            RaiseSocketError(WsaError::ConnAborted);
          case TWaitResult::Ready:
            break;
        }
        break;
    }
  }
}

void TLinkSocket::RaiseTlsError(const TTlsSession::TResult& Result) {
  if (Result.SocketError != 0) RaiseSocketError(Result.SocketError);
  throw ELinkError(Result.ErrorText);
}

void TLinkSocket::Close() {
  if (Closed.exchange(true)) return;
  if (Tls) Tls->Shutdown();
  ShutdownSending(Socket);
  Wake.Signal();
}
