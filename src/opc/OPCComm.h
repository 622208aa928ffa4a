// The COM runtime and the OPC DA declarations as the OPC access code uses them, in both builds.
#pragma once

#include <string>

#include "ComApi.h"
#include "OPCDA.h"

using Microsoft::WRL::ComPtr;

// Server state reported when the server cannot be asked (communication fault).
inline constexpr int32_t OPC_STATUS_COMM_FAULT_VALUE = 6;

// An OLE string argument of the text; the callee only reads it (the interfaces declare some
// read-only arguments as LPWSTR).
inline LPWSTR OleArg(const std::u16string& Text) {
  return const_cast<LPWSTR>(U16ToOle(Text));
}
