// COM for the window thread and the process-wide COM security, set once at program start before
// any marshalling.
#pragma once

#include <windows.h>

#include <string>

class TComSecurity {
 public:
  // Initialises COM on the calling thread (apartment-threaded) and sets the process-wide
  // security: no authentication and identify-level impersonation, the usual setting of OPC DA
  // clients, so that servers running under another account (a service, a configured identity)
  // can call the data-change sink back.
  TComSecurity();
  // Uninitialises COM on the thread if it was initialised here.
  ~TComSecurity();
  TComSecurity(const TComSecurity&) = delete;
  TComSecurity& operator=(const TComSecurity&) = delete;

  // The result of setting the security.
  HRESULT Result() const { return FResult; }

 private:
  bool FComInitialized = false;
  HRESULT FResult = E_FAIL;
};

// The log text of a failed security set-up.
std::u16string ComSecurityFailureText(HRESULT Result);
