// Live figures of the link and the router for the window's status line. Written with relaxed
// atomic increments on the request, answer and push paths (no lock), read by the window on a
// timer.
#pragma once

#include <atomic>
#include <cstdint>

struct TLinkCounters {
  std::atomic<uint64_t> Requests{0};      // request lines routed
  std::atomic<uint64_t> Written{0};       // lines written: answers, greetings and pushes
  std::atomic<uint64_t> Pushes{0};        // value push lines ("getValues" with TransID 0)
  std::atomic<uint64_t> PushedValues{0};  // tag values in those pushes
  std::atomic<uint64_t> Reconnects{0};    // connections made after the first one
  std::atomic<int32_t> ServersFound{0};   // OPC servers in the router's registry
  std::atomic<int32_t> ServersConnected{0};

  static void Add(std::atomic<uint64_t>& Counter, uint64_t N = 1) {
    Counter.fetch_add(N, std::memory_order_relaxed);
  }
};
