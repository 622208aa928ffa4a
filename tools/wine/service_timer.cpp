// Measurements of the Tagrelay service from the service manager's side: how long a start takes
// to RUNNING and a stop to STOPPED, and what the service reported on the way.
//
//   service_timer.exe start   ->  runningMs=12
//   service_timer.exe stop    ->  stoppedMs=640 checkpoints=3 waitHintMs=5000
//
// Exit status 0 when the state was reached within 30 s, 1 when not, 2 on a usage or access error.
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

constexpr ULONGLONG LimitMs = 30000;

double NowMs() {
  LARGE_INTEGER Count, Frequency;
  QueryPerformanceCounter(&Count);
  QueryPerformanceFrequency(&Frequency);
  return 1000.0 * static_cast<double>(Count.QuadPart) / static_cast<double>(Frequency.QuadPart);
}

int Measure(SC_HANDLE Service, bool Start) {
  SERVICE_STATUS Status{};
  const double Begin = NowMs();
  if (Start ? !StartServiceW(Service, 0, nullptr)
            : !ControlService(Service, SERVICE_CONTROL_STOP, &Status))
    return 2;
  const DWORD Wanted = Start ? SERVICE_RUNNING : SERVICE_STOPPED;
  DWORD CheckPoints = 0, LastCheckPoint = 0, WaitHint = 0;
  while (QueryServiceStatus(Service, &Status) && Status.dwCurrentState != Wanted) {
    if (Status.dwCheckPoint != LastCheckPoint) {
      ++CheckPoints;
      LastCheckPoint = Status.dwCheckPoint;
    }
    if (Status.dwWaitHint > WaitHint) WaitHint = Status.dwWaitHint;
    if (NowMs() - Begin > LimitMs) return 1;
    Sleep(2);
  }
  const double Elapsed = NowMs() - Begin;
  if (Start)
    std::printf("runningMs=%.0f\n", Elapsed);
  else
    std::printf("stoppedMs=%.0f checkpoints=%lu waitHintMs=%lu\n", Elapsed, CheckPoints, WaitHint);
  return Status.dwCurrentState == Wanted ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2 || (std::wcscmp(argv[1], L"start") != 0 && std::wcscmp(argv[1], L"stop") != 0)) {
    std::fprintf(stderr, "usage: service_timer.exe start|stop\n");
    return 2;
  }
  SC_HANDLE Manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!Manager) return 2;
  SC_HANDLE Service =
      OpenServiceW(Manager, L"Tagrelay", SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
  const int Result = Service ? Measure(Service, std::wcscmp(argv[1], L"start") == 0) : 2;
  if (Service) CloseServiceHandle(Service);
  CloseServiceHandle(Manager);
  std::fflush(stdout);
  return Result;
}
