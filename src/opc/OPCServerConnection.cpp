// A server connection's connecting, state and health check, and disconnecting.
#include "OPCServer.h"

#include <string>
#include <thread>
#include <utility>

namespace {

// Frees what GetStatus handed out; the state, or 0 when there is no record.
DWORD TakeServerState(OPCSERVERSTATUS* Status) {
  if (Status == nullptr) return 0;
  const DWORD State = static_cast<DWORD>(Status->dwServerState);
  CoTaskMemFree(Status->szVendorInfo);
  CoTaskMemFree(Status);
  return State;
}

std::u16string DecimalText(long long Value) {
  const std::string Digits = std::to_string(Value);
  return std::u16string(Digits.begin(), Digits.end());
}

std::u16string HexText(HRESULT Hr) {
  static const char16_t Digits[] = u"0123456789ABCDEF";
  std::u16string Text = u"0x";
  for (int Shift = 28; Shift >= 0; Shift -= 4)
    Text += Digits[(static_cast<uint32_t>(Hr) >> Shift) & 0xF];
  return Text;
}

}  // namespace

TOPCServer::TOPCServer(std::u16string Guid) : Guid(std::move(Guid)) {}

TOPCServer::~TOPCServer() {
  ReleaseSink();
}

void TOPCServer::ReleaseSink() {
  // The server may still hold the sink; it must not reach this connection's arrays any more.
  if (OPCDataCallback) OPCDataCallback->Detach();
  OPCDataCallback.Reset();
}

int32_t TOPCServer::Init(const std::u16string& Mode, int32_t Rate) {
  if (IsInit.load()) return OPC_STILL_INITIALIZE;
  Apartment.Enter();  // at every connect; left when the connection is destroyed
  HasSyncGroup = false;
  HasASyncGroup = false;
  CLSID ClassID;
  if (!ParseClassID(Guid, ClassID)) return WRONG_OPC_CLASS_ID;
  ServerIntf.Reset();
  if (FAILED(CreateServerObject(ClassID))) return UNABLE_CONNECT_OPC_SERVER;
  SyncMode = Mode == u"sync";
  ResponseTime = Rate;
  IsInit.store(true);
  ConnectionCount = 0;
  return 0;
}

// Tries again, a few times, only while the failure says the server is stopping or gone.
HRESULT TOPCServer::CreateServerObject(const CLSID& ClassID) {
  for (size_t Retry = 0;; ++Retry) {
    const HRESULT Hr = ActivateServer(ClassID);
    if (SUCCEEDED(Hr) || !IsServerGoing(Hr) || Retry >= ConnectRetryPauses.size()) return Hr;
    const auto Wait = ConnectRetryPauses[Retry];
    if (Notice)
      Notice(u"OPC server " + Guid + u" is stopping or gone (" + HexText(Hr) +
             u"): connecting again in " + DecimalText(Wait.count()) + u" ms");
    if (Pause) {
      if (!Pause(Wait)) return Hr;
    } else {
      std::this_thread::sleep_for(Wait);
    }
  }
}

// The object and its first call, which meets the server process itself when it runs in one.
HRESULT TOPCServer::ActivateServer(const CLSID& ClassID) {
  ComPtr<IUnknown> Object;
  HRESULT Hr = CoCreateInstance(ClassID, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                IID_IUnknown, reinterpret_cast<void**>(Object.GetAddressOf()));
  if (FAILED(Hr)) return Hr;
  if (!Object) return E_NOINTERFACE;
  Hr = Object->QueryInterface(IID_IOPCServer,
                              reinterpret_cast<void**>(ServerIntf.ReleaseAndGetAddressOf()));
  if (SUCCEEDED(Hr) && ServerIntf) return S_OK;
  ServerIntf.Reset();
  return FAILED(Hr) ? Hr : E_NOINTERFACE;
}

bool TOPCServer::IsServerGoing(HRESULT Hr) {
  switch (Hr) {
    case CO_E_SERVER_STOPPING:
    case CO_E_SERVER_EXEC_FAILURE:
    case CLASS_E_CLASSNOTAVAILABLE:  // a class object that cannot make the object
    case RPC_E_DISCONNECTED:
    case RPC_E_SERVER_DIED:
    case RPC_E_SERVER_DIED_DNE:
      return true;
    default:
      return Hr == HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
  }
}

bool TOPCServer::ParseClassID(const std::u16string& Text, CLSID& ClassID) {
  ClassID = CLSID{};
  bool Success = Text.size() >= 2;
  std::u16string Run;
  int Separator = 0;
  auto ReadRun = [&](uint64_t& Number, size_t MaxDigits) {
    Number = 0;
    if (Run.empty() || Run.size() > MaxDigits) return false;
    for (char16_t C : Run) Number = Number * 16 + static_cast<uint64_t>(HexDigit(C));
    return true;
  };
  for (char16_t C : Text) {
    if (HexDigit(C) >= 0) {
      Run.push_back(C);
      continue;
    }
    uint64_t Number = 0;
    switch (Separator) {
      case 0:
        break;  // whatever comes before the first separator is dropped
      case 1:
        if (ReadRun(Number, 16))
          ClassID.Data1 = static_cast<uint32_t>(Number);
        else
          Success = false;
        break;
      case 2:
        if (ReadRun(Number, 16))
          ClassID.Data2 = static_cast<uint16_t>(Number);
        else
          Success = false;
        break;
      case 3:
        if (ReadRun(Number, 16))
          ClassID.Data3 = static_cast<uint16_t>(Number);
        else
          Success = false;
        break;
      case 4:
        if (Run.size() == 4 && ReadRun(Number, 4)) {
          ClassID.Data4[0] = static_cast<uint8_t>(Number >> 8);
          ClassID.Data4[1] = static_cast<uint8_t>(Number);
        } else {
          Success = false;
        }
        break;
      case 5:
        if (Run.size() == 12 && ReadRun(Number, 12)) {
          for (int B = 0; B < 6; ++B)
            ClassID.Data4[2 + B] = static_cast<uint8_t>(Number >> (8 * (5 - B)));
        } else {
          Success = false;
        }
        break;
      default:
        break;
    }
    Run.clear();
    ++Separator;
  }
  return Success;
}

int32_t TOPCServer::Disconnect() {
  ItemsFullList.clear();
  TagsByHashName.clear();
  if (!ServerIntf) return 0;
  IsInit.store(false);
  int32_t Result = 0;
  if (HasASyncGroup) {
    UnadviseDataCallback();
    AGroupIf.Reset();
    if (FAILED(ServerIntf->RemoveGroup(HASyncGroup, FALSE))) Result = OPC_DISCONNECT_ERROR;
    HasASyncGroup = false;
  }
  if (HasSyncGroup) {
    GroupSyncIO.Reset();
    GroupIf.Reset();
    if (FAILED(ServerIntf->RemoveGroup(HSyncGroup, FALSE))) Result = OPC_DISCONNECT_ERROR;
    HasSyncGroup = false;
  }
  EmptyItemArrays();
  return Result;
}

void TOPCServer::EmptyItemArrays() {
  SyncValsArr.Clear();
  ASyncValsArr.Clear();
  GroupBuildFailed = false;  // the next tag is new anyway
}

void TOPCServer::UnadviseDataCallback() {
  if (!AGroupIf) return;
  ComPtr<IConnectionPointContainer> Container;
  if (FAILED(AGroupIf->QueryInterface(IID_IConnectionPointContainer,
                                      reinterpret_cast<void**>(Container.GetAddressOf()))) ||
      !Container)
    return;
  ComPtr<IConnectionPoint> Point;
  if (FAILED(Container->FindConnectionPoint(IID_IOPCDataCallback, Point.GetAddressOf())) || !Point)
    return;
  Point->Unadvise(AsyncConnection);
}

int32_t TOPCServer::GetOPCState() {
  if (!ServerIntf) return OPC_STATUS_COMM_FAULT_VALUE;
  OPCSERVERSTATUS* Status = nullptr;
  if (FAILED(ServerIntf->GetStatus(&Status)) || Status == nullptr)
    return OPC_STATUS_COMM_FAULT_VALUE;
  return static_cast<int32_t>(TakeServerState(Status));
}

bool TOPCServer::CheckServerState() {
  OPCSERVERSTATUS* Status = nullptr;
  const HRESULT Hr = ServerIntf->GetStatus(&Status);
  const DWORD State = TakeServerState(Status);
  if (SUCCEEDED(Hr) && State == OPC_STATUS_RUNNING) {
    ConnectionCount = 0;
    return true;
  }
  ++ConnectionCount;
  if (ConnectionCount <= MaxFailedChecks) return true;
  RemoveServerGroup(HasASyncGroup, HASyncGroup, AGroupIf);
  GroupSyncIO.Reset();
  RemoveServerGroup(HasSyncGroup, HSyncGroup, GroupIf);
  EmptyItemArrays();
  IsInit.store(false);
  return false;
}
