// The COM runtime as the project sees it: on Windows the system headers (ole32,
// oleaut32, WRL's ComPtr), natively the stand-in with the same names and
// signatures. Portable code includes this file only, never <windows.h> or the
// stand-in directly.
#pragma once

#ifdef _WIN32
#include <comcat.h>
#include <objbase.h>
#include <ocidl.h>
#include <oleauto.h>
#include <olectl.h>
#include <windows.h>
#include <wrl/client.h>

// Declares the interface identifier __uuidof yields for an interface type.
#define TG_DECLARE_UUID(type, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
  __CRT_UUID_DECL(type, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8)
#else
#include "ComPtrStandIn.h"
#include "ComStandIn.h"
#include "ThreadTimers.h"
#endif

#include "OleText.h"
