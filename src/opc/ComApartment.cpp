#include "ComApartment.h"

#include "OPCComm.h"

void TComApartment::Enter() {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return;
  Thread = std::this_thread::get_id();
  ++Entries;
}

TComApartment::~TComApartment() {
  // CoUninitialize acts on the calling thread: another thread cannot leave this one's apartment.
  if (Thread != std::this_thread::get_id()) return;
  for (; Entries > 0; --Entries) CoUninitialize();
}
