#include "LinkClient.h"

#include <cstring>

#include "LinkSocket.h"
#include "SocketErrors.h"

TLinkClient::TLinkClient() : InBuffer(new char[InCapacity]) {}

TLinkClient::~TLinkClient() {
  Disconnect();
}

void TLinkClient::SetIOHandler(TLinkSSLHandler* Handler) {
  FIOHandler = Handler;
  if (!Handler) return;
  Handler->Host = Host;
  Handler->Port = Port;
  Handler->ReadTimeout = ReadTimeout;
}

std::shared_ptr<TLinkSocket> TLinkClient::CurrentSocket() const {
  std::lock_guard<std::mutex> Guard(SocketLock);
  return Socket;
}

bool TLinkClient::Connected() const {
  return CurrentSocket() != nullptr;
}

void TLinkClient::SetStateFrom(TState Expected, TState Next) {
  State.compare_exchange_strong(Expected, Next);
}

void TLinkClient::Connect() {
  if (Host.empty() || Port == 0) throw ELinkError("");
  if (Connected()) throw ELinkError(MsgAlreadyConnected);
  if (FIOHandler && FIOHandler->Mode == TLinkSSLMode::Unassigned)
    FIOHandler->Mode = TLinkSSLMode::Client;
  std::shared_ptr<TLinkSocket> Opened = OpenAbortable();
  {
    std::lock_guard<std::mutex> Guard(ReadLock);
    InStart = 0;
    InEnd = 0;
    Scanned = 0;
  }
  {
    std::lock_guard<std::mutex> Guard(SocketLock);
    Socket = std::move(Opened);
  }
  State = TState::Connected;
  if (!OnConnected) return;
  try {
    OnConnected(*this);
  } catch (...) {
    Disconnect();
    throw;
  }
}

// Opens the socket with a wake-up that AbortConnect can signal. The wake-up becomes the open
// connection's own; it is withdrawn before the connection is handed out, so a late abort can
// no longer wake the reads and writes on it.
std::shared_ptr<TLinkSocket> TLinkClient::OpenAbortable() {
  auto Wake = std::make_shared<TWakeSocket>();
  {
    std::lock_guard<std::mutex> Guard(SocketLock);
    if (ConnectAborted) RaiseSocketError(WsaError::ConnAborted);
    ConnectWake = Wake;
  }
  std::shared_ptr<TLinkSocket> Opened;
  try {
    Opened = TLinkSocket::Open(Host, Port, FIOHandler, Wake);
  } catch (...) {
    std::lock_guard<std::mutex> Guard(SocketLock);
    ConnectWake.reset();
    throw;
  }
  std::lock_guard<std::mutex> Guard(SocketLock);
  ConnectWake.reset();
  if (ConnectAborted) RaiseSocketError(WsaError::ConnAborted);
  return Opened;
}

void TLinkClient::AbortConnect() {
  std::lock_guard<std::mutex> Guard(SocketLock);
  ConnectAborted = true;
  if (ConnectWake) ConnectWake->Signal();
}

void TLinkClient::Disconnect() {
  SetStateFrom(TState::Connected, TState::LocalClosed);
  SetStateFrom(TState::PeerClosed, TState::LocalClosed);
  std::shared_ptr<TLinkSocket> Closing;
  {
    std::lock_guard<std::mutex> Guard(SocketLock);
    Closing = std::move(Socket);
  }
  if (Closing) Closing->Close();
}

std::u16string TLinkClient::ReadLn() {
  std::lock_guard<std::mutex> Guard(ReadLock);
  std::u16string Line;
  for (;;) {
    if (TakeLine(Line)) return Line;
    if (InEnd - InStart > MaxLineLength) throw ELinkError(MsgMaxLineLengthExceeded);
    TState Now = State;
    if (Now == TState::PeerClosed || Now == TState::LocalClosed)
      throw ELinkError(MsgConnectionClosedGracefully);
    if (Now != TState::Connected) throw ELinkError(MsgNotConnected);
    std::shared_ptr<TLinkSocket> Open = CurrentSocket();
    // No socket while connected: a Disconnect is under way; the next pass sees its state.
    if (!Open) continue;
    if (!ReceiveMore(*Open)) return Line;
  }
}

bool TLinkClient::TakeLine(std::u16string& Line) {
  const char* Begin = InBuffer.get() + InStart;
  std::size_t Available = InEnd - InStart;
  const void* Lf = std::memchr(Begin + Scanned, '\n', Available - Scanned);
  if (!Lf) {
    Scanned = Available;
    return false;
  }
  std::size_t Position = static_cast<std::size_t>(static_cast<const char*>(Lf) - Begin);
  if (Position > MaxLineLength) throw ELinkError(MsgMaxLineLengthExceeded);
  std::size_t Length = Position;
  if (Length > 0 && Begin[Length - 1] == '\r') --Length;
  Line = DecodeUtf8(Begin, Length);
  InStart += Position + 1;
  Scanned = 0;
  return true;
}

bool TLinkClient::ReceiveMore(TLinkSocket& Open) {
  if (InStart > 0) {
    std::memmove(InBuffer.get(), InBuffer.get() + InStart, InEnd - InStart);
    InEnd -= InStart;
    InStart = 0;
  }
  std::size_t Count = 0;
  TLinkSocket::TReceived Received;
  try {
    Received = Open.Receive(InBuffer.get() + InEnd, ReceiveChunk, ReadTimeout, Count);
  } catch (...) {
    SetStateFrom(TState::Connected, TState::Failed);
    SetStateFrom(TState::PeerClosed, TState::Failed);
    throw;
  }
  InEnd += Count;
  if (Received == TLinkSocket::TReceived::PeerClosed)
    SetStateFrom(TState::Connected, TState::PeerClosed);
  return Received != TLinkSocket::TReceived::TimedOut;
}

void TLinkClient::WriteLn(std::u16string_view Text) {
  std::string Bytes;
  Bytes.reserve(Text.size() + 2);
  AppendEncoded(Bytes, Text, DefStringEncoding.load());
  Bytes += "\r\n";
  std::shared_ptr<TLinkSocket> Open = CurrentSocket();
  TState Now = State;
  if (!Open || (Now != TState::Connected && Now != TState::PeerClosed))
    throw ELinkError(MsgNotConnected);
  Open->Send(Bytes.data(), Bytes.size());
}
