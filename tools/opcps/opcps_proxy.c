/* The widl-generated proxy code of opcps.idl, compiled with what it expects but mingw's headers
   declare for C++ only: the IUnknown proxies the generated vtables refer to. */
#include <objbase.h>

HRESULT STDMETHODCALLTYPE IUnknown_QueryInterface_Proxy(IUnknown* This, REFIID riid, void** ppv);
ULONG STDMETHODCALLTYPE IUnknown_AddRef_Proxy(IUnknown* This);
ULONG STDMETHODCALLTYPE IUnknown_Release_Proxy(IUnknown* This);

#include "opcps_p.c"
