// Name look-up that the connecting thread can walk away from. The system resolver cannot be
// interrupted, so a host name is resolved on a thread of its own; the waiter leaves as soon as
// the connection is aborted, and the look-up thread finishes later on state that it shares,
// so it never touches memory of the waiter.
#pragma once

#include <cstdint>
#include <string>

#include "SocketApi.h"

// The IPv4 address (network byte order) of Host as ResolveIPv4 finds it. A dotted address needs
// no look-up; for a name, raises 10053 at once when Abort is signalled.
uint32_t ResolveIPv4Abortable(const std::u16string& Host, const TWakeSocket& Abort);
