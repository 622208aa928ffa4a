// One line-oriented TCP connection to the SCADA server, optionally TLS: lines of text end with LF
// (one CR before it is dropped) and travel as UTF-8.
//
// Threads: ReadLn on one thread, WriteLn on others, Disconnect from any thread and
// DefStringEncoding at any time. A Disconnect ends a ReadLn or WriteLn waiting in another thread
// at once. Several writers must be serialised by the caller. The settings (Host, Port,
// ReadTimeout, OnConnected, the IO handler) are made before Connect, on the thread that connects.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "LinkError.h"
#include "LinkSSLHandler.h"
#include "TextEncoding.h"

class TLinkSocket;
class TWakeSocket;
class TLinkClient;

// Called inside Connect, on the connecting thread, once the connection (and TLS handshake) is up.
using TLinkConnectedHandler = std::function<void(TLinkClient& Sender)>;

class TLinkClient {
 public:
  // Bytes before the LF of one line, at most.
  static constexpr std::size_t MaxLineLength = 16384;
  // Bytes taken from the socket in one receive, at most.
  static constexpr std::size_t ReceiveChunk = 32768;

  TLinkClient();
  // Closes the connection if it is still open.
  ~TLinkClient();
  TLinkClient(const TLinkClient&) = delete;
  TLinkClient& operator=(const TLinkClient&) = delete;

  // Host name or IPv4 address in dotted form; empty makes Connect fail.
  std::u16string Host;
  // TCP port; 0 makes Connect fail.
  uint16_t Port = 0;
  // Longest wait for incoming bytes inside one ReadLn, in milliseconds; -1 waits without limit.
  int32_t ReadTimeout = -1;
  TLinkConnectedHandler OnConnected;
  // The encoding WriteLn uses; 7-bit ASCII at first. Lines read are always decoded as UTF-8.
  std::atomic<TTextEncoding> DefStringEncoding{TTextEncoding::Ascii7};

  // Attaches a TLS layer (not owned; nullptr detaches it) and copies Host, Port and ReadTimeout
  // into it.
  void SetIOHandler(TLinkSSLHandler* Handler);
  TLinkSSLHandler* IOHandler() const { return FIOHandler; }

  // Opens the connection and calls OnConnected. Raises ELinkError (or the handler's own error)
  // on failure, leaving no connection open.
  void Connect();
  // Closes the connection if it is open; does nothing otherwise. Complete lines already received
  // are still returned by ReadLn, which then fails with "Connection Closed Gracefully.".
  void Disconnect();
  bool Connected() const;
  // From any thread: makes a Connect running on another thread fail at once with 10053, and
  // every later Connect of this client too. A connection already open is left to Disconnect.
  void AbortConnect();

  // The next line, or "" when no complete line arrived within ReadTimeout. Raises ELinkError
  // when the connection is gone or the line is longer than MaxLineLength.
  std::u16string ReadLn();
  // Sends Text followed by CR LF in one piece, blocking until the socket has taken all of it.
  void WriteLn(std::u16string_view Text);

 private:
  enum class TState { NotConnected, Connected, PeerClosed, LocalClosed, Failed };

  std::shared_ptr<TLinkSocket> CurrentSocket() const;
  std::shared_ptr<TLinkSocket> OpenAbortable();
  bool TakeLine(std::u16string& Line);
  // Receives into the input buffer; false when the wait timed out.
  bool ReceiveMore(TLinkSocket& Open);
  void SetStateFrom(TState Expected, TState Next);

  TLinkSSLHandler* FIOHandler = nullptr;

  mutable std::mutex SocketLock;
  std::shared_ptr<TLinkSocket> Socket;  // guarded by SocketLock; none while not open
  std::shared_ptr<TWakeSocket> ConnectWake;  // guarded by SocketLock; set while Connect opens
  bool ConnectAborted = false;               // guarded by SocketLock
  std::atomic<TState> State{TState::NotConnected};

  // The input buffer: the received bytes from InStart to InEnd are not yet returned as lines;
  // the first Scanned of them hold no LF. A receive happens only when they hold no LF and are no
  // longer than a line may be, so the buffer never needs more than InCapacity bytes. Used by
  // ReadLn only, under ReadLock.
  static constexpr std::size_t InCapacity = MaxLineLength + ReceiveChunk;
  std::mutex ReadLock;
  std::unique_ptr<char[]> InBuffer;
  std::size_t InStart = 0;
  std::size_t InEnd = 0;
  std::size_t Scanned = 0;
};
