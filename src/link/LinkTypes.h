// Callback types of the link's threads and its manager.
#pragma once

#include <functional>

// A method bound to its object, taking no arguments.
using TCallBack = std::function<void()>;
// The manager's teardown: Restart true to reconnect later, false for good.
using TDisconnectCallBack = std::function<void(bool Restart)>;
