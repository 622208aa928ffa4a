// Helpers shared by the link tests.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <exception>
#include <future>
#include <string>

#include "LinkClient.h"
#include "TestPeer.h"

// Reads wait this long when data is on its way: a bound for a broken build, never reached.
inline constexpr int32_t DataWaitMs = 10000;
// Reads that are expected to find nothing wait this long.
inline constexpr int32_t ShortWaitMs = 150;
// How long a test waits for another thread before it gives up.
inline constexpr auto ThreadBound = std::chrono::seconds(30);

// The message of the error Action raises, or "<no error>".
template <typename TAction>
std::string ErrorOf(TAction&& Action) {
  try {
    Action();
  } catch (const std::exception& E) {
    return E.what();
  }
  return "<no error>";
}

// Points Client at Peer and connects; the peer accepts (and completes the TLS handshake).
inline void ConnectPair(TLinkClient& Client, TTestPeer& Peer, TLinkSSLHandler* Ssl = nullptr) {
  Client.Host = u"127.0.0.1";
  Client.Port = Peer.Port();
  if (Client.ReadTimeout < 0) Client.ReadTimeout = DataWaitMs;
  if (Ssl) Client.SetIOHandler(Ssl);
  Peer.AcceptAsync();
  Client.Connect();
  ASSERT_TRUE(Peer.Accepted());
}

// True when Done becomes ready within the bound.
template <typename T>
bool Finishes(std::future<T>& Done) {
  return Done.wait_for(ThreadBound) == std::future_status::ready;
}
