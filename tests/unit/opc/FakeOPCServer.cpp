#include "FakeOPCServer.h"

#include <new>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace {

std::string Narrow8(const std::u16string& Text) {
  std::string Out;
  for (char16_t C : Text) Out.push_back(C < 0x80 ? static_cast<char>(C) : '?');
  return Out;
}

template <typename T>
T* TaskMemArray(size_t Count) {
  auto* Array = static_cast<T*>(CoTaskMemAlloc(sizeof(T) * (Count ? Count : 1)));
  std::memset(static_cast<void*>(Array), 0, sizeof(T) * (Count ? Count : 1));
  return Array;
}

// Reference counting shared by the fake's objects.
class TRefCounted {
 public:
  explicit TRefCounted(std::shared_ptr<TFakeState> State) : State(std::move(State)) {
    ++this->State->LiveObjects;
  }
  virtual ~TRefCounted() { --State->LiveObjects; }
  ULONG DoAddRef() { return ++Refs; }
  ULONG DoRelease() {
    const ULONG Left = --Refs;
    if (Left == 0) delete this;
    return Left;
  }

 protected:
  std::shared_ptr<TFakeState> State;

 private:
  std::atomic<ULONG> Refs{1};
};

#define TG_FAKE_REFCOUNT                       \
  ULONG STDMETHODCALLTYPE AddRef() override {  \
    return DoAddRef();                         \
  }                                            \
  ULONG STDMETHODCALLTYPE Release() override { \
    return DoRelease();                        \
  }

class TFakeEnum final : public IEnumString, TRefCounted {
 public:
  TFakeEnum(std::shared_ptr<TFakeState> State, std::vector<std::u16string> Names)
      : TRefCounted(std::move(State)), Names(std::move(Names)) {}
  TG_FAKE_REFCOUNT
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID Riid, void** Object) override {
    if (!IsEqualIID(Riid, IID_IUnknown) && !IsEqualIID(Riid, IID_IEnumString)) {
      *Object = nullptr;
      return E_NOINTERFACE;
    }
    *Object = static_cast<IEnumString*>(this);
    AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG Count, LPOLESTR* Out, ULONG* Fetched) override {
    ++State->Calls;
    ++State->NextCalls;
    State->LargestNext = std::max(State->LargestNext, Count);
    ULONG N = 0;
    if (State->EndlessEnums && !Names.empty()) {
      for (; N < Count; ++N) Out[N] = U16ToCoTaskMem(Names[Position++ % Names.size()]);
      if (Fetched) *Fetched = N;
      return S_OK;
    }
    while (N < Count && Position < Names.size()) Out[N++] = U16ToCoTaskMem(Names[Position++]);
    if (Fetched) *Fetched = N;
    return N == Count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG Count) override {
    Position += Count;
    return Position <= Names.size() ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    ++State->Calls;
    Position = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumString** Out) override {
    *Out = new TFakeEnum(State, Names);
    return S_OK;
  }

 private:
  std::vector<std::u16string> Names;
  size_t Position = 0;
};

}  // namespace

class TFakeGroup final : public IOPCItemMgt,
                         public IOPCSyncIO,
                         public IConnectionPointContainer,
                         public IConnectionPoint,
                         TRefCounted {
 public:
  TFakeGroup(std::shared_ptr<TFakeState> State, std::string Name)
      : TRefCounted(std::move(State)), Name(std::move(Name)) {}
  ~TFakeGroup() override {
    if (Sink) Sink->Release();
  }
  TG_FAKE_REFCOUNT

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID Riid, void** Object) override {
    ++State->Calls;
    if (IsEqualIID(Riid, IID_IUnknown) || IsEqualIID(Riid, IID_IOPCItemMgt)) {
      *Object = static_cast<IOPCItemMgt*>(this);
    } else if (IsEqualIID(Riid, IID_IOPCSyncIO)) {
      *Object = static_cast<IOPCSyncIO*>(this);
    } else if (IsEqualIID(Riid, IID_IConnectionPointContainer)) {
      *Object = static_cast<IConnectionPointContainer*>(this);
    } else {
      *Object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }

  // IOPCItemMgt
  HRESULT STDMETHODCALLTYPE AddItems(DWORD Count, OPCITEMDEF* Defs, OPCITEMRESULT** Results,
                                     HRESULT** Errors) override {
    ++State->Calls;
    *Results = nullptr;
    *Errors = nullptr;
    State->Log.push_back("AddItems " + Name + " " + std::to_string(Count));
    if (State->FailAddItems) return E_FAIL;
    *Results = TaskMemArray<OPCITEMRESULT>(Count);
    *Errors = TaskMemArray<HRESULT>(Count);
    HRESULT Hr = S_OK;
    for (DWORD I = 0; I < Count; ++I) {
      const std::u16string ItemID = OleToU16(Defs[I].szItemID);
      if (State->Values.count(ItemID) == 0) {
        (*Errors)[I] = OPC_E_UNKNOWNITEMID;
        Hr = S_FALSE;
        continue;
      }
      const OPCHANDLE Handle = NextHandle++;
      Items[Handle] = {ItemID, Defs[I].hClient};
      (*Results)[I].hServer = Handle;
    }
    return Hr;
  }
  HRESULT STDMETHODCALLTYPE ValidateItems(DWORD, OPCITEMDEF*, BOOL, OPCITEMRESULT**,
                                          HRESULT**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE RemoveItems(DWORD Count, OPCHANDLE* Handles,
                                        HRESULT** Errors) override {
    ++State->Calls;
    State->Log.push_back("RemoveItems " + Name + " " + std::to_string(Count));
    *Errors = TaskMemArray<HRESULT>(Count);
    for (DWORD I = 0; I < Count; ++I)
      if (Items.erase(Handles[I]) == 0) (*Errors)[I] = OPC_E_INVALIDHANDLE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetActiveState(DWORD, OPCHANDLE*, BOOL, HRESULT**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetClientHandles(DWORD, OPCHANDLE*, OPCHANDLE*, HRESULT**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetDatatypes(DWORD, OPCHANDLE*, VARTYPE*, HRESULT**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE CreateEnumerator(REFIID, LPUNKNOWN*) override { return E_NOTIMPL; }

  // IOPCSyncIO
  HRESULT STDMETHODCALLTYPE Read(OPCDATASOURCE, DWORD Count, OPCHANDLE* Handles,
                                 OPCITEMSTATE** States, HRESULT** Errors) override {
    ++State->Calls;
    *States = TaskMemArray<OPCITEMSTATE>(Count);
    *Errors = TaskMemArray<HRESULT>(Count);
    HRESULT Hr = S_OK;
    std::string Named;
    for (DWORD I = 0; I < Count; ++I) {
      VariantInit(&(*States)[I].vDataValue);
      auto It = Items.find(Handles[I]);
      if (It == Items.end()) {
        (*Errors)[I] = OPC_E_INVALIDHANDLE;
        Hr = S_FALSE;
        Named += "?|";
        continue;
      }
      Named += Narrow8(It->second.ItemID) + "|";
      const TFakeItemValue& Value = State->Values[It->second.ItemID];
      (*States)[I].hClient = It->second.Client;
      (*States)[I].wQuality = Value.Quality;
      VariantCopy(&(*States)[I].vDataValue, const_cast<VARIANT*>(&Value.Value));
    }
    State->ReadItems.push_back(Named);
    return Hr;
  }
  HRESULT STDMETHODCALLTYPE Write(DWORD Count, OPCHANDLE* Handles, VARIANT* Values,
                                  HRESULT** Errors) override {
    ++State->Calls;
    *Errors = TaskMemArray<HRESULT>(Count);
    HRESULT Hr = S_OK;
    for (DWORD I = 0; I < Count; ++I) {
      auto It = Items.find(Handles[I]);
      if (It == Items.end() || State->RefusedWrites.count(It->second.ItemID) != 0) {
        (*Errors)[I] = It == Items.end() ? OPC_E_INVALIDHANDLE : OPC_E_BADRIGHTS;
        Hr = S_FALSE;
        continue;
      }
      std::string Text = Narrow8(It->second.ItemID) + "=";
      switch (Values[I].vt) {
        case VT_I4:
          Text += "I4:" + std::to_string(Values[I].lVal);
          break;
        case VT_R8:
          Text += "R8:" + std::to_string(Values[I].dblVal);
          break;
        case VT_BSTR:
          Text += "BSTR:" + Narrow8(BstrToU16(Values[I].bstrVal));
          break;
        default:
          Text += "vt" + std::to_string(Values[I].vt);
          break;
      }
      State->Writes.push_back(Text);
    }
    return Hr;
  }

  // IConnectionPointContainer
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID Riid, IConnectionPoint** Point) override {
    ++State->Calls;
    *Point = nullptr;
    if (!IsEqualIID(Riid, IID_IOPCDataCallback)) return CONNECT_E_NOCONNECTION;
    *Point = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }

  // IConnectionPoint
  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* Iid) override {
    *Iid = IID_IOPCDataCallback;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* Unknown, DWORD* Cookie) override {
    ++State->Calls;
    State->Log.push_back("Advise " + Name);
    *Cookie = 0;
    if (State->FailAdvise) return CONNECT_E_CANNOTCONNECT;
    if (Sink) return CONNECT_E_ADVISELIMIT;
    Unknown->QueryInterface(IID_IOPCDataCallback, reinterpret_cast<void**>(&Sink));
    *Cookie = 77;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD Cookie) override {
    ++State->Calls;
    State->Log.push_back("Unadvise " + Name);
    if (!Sink || Cookie != 77) return CONNECT_E_NOCONNECTION;
    Sink->Release();
    Sink = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

  void Fire(const std::vector<std::u16string>& ItemIDs) {
    if (!Sink) return;
    std::vector<OPCHANDLE> Clients;
    std::vector<VARIANT> Values;
    std::vector<WORD> Qualities;
    for (const auto& ItemID : ItemIDs)
      for (const auto& [Handle, Item] : Items)
        if (Item.ItemID == ItemID) {
          Clients.push_back(Item.Client);
          VARIANT Copy;
          VariantInit(&Copy);
          VariantCopy(&Copy, &State->Values[ItemID].Value);
          Values.push_back(Copy);
          Qualities.push_back(State->Values[ItemID].Quality);
        }
    std::vector<FILETIME> Times(Clients.size());
    std::vector<HRESULT> Errors(Clients.size(), S_OK);
    Sink->OnDataChange(0, 0, S_OK, S_OK, static_cast<DWORD>(Clients.size()), Clients.data(),
                       Values.data(), Qualities.data(), Times.data(), Errors.data());
    for (auto& Value : Values) VariantClear(&Value);
  }

  std::string Name;

 private:
  struct TItem {
    std::u16string ItemID;
    OPCHANDLE Client = 0;
  };
  std::map<OPCHANDLE, TItem> Items;
  OPCHANDLE NextHandle = State->FirstItemHandle;
  IOPCDataCallback* Sink = nullptr;
};

namespace {

class TFakeServer final : public IOPCServer, public IOPCBrowseServerAddressSpace, TRefCounted {
 public:
  explicit TFakeServer(std::shared_ptr<TFakeState> State) : TRefCounted(std::move(State)) {
    Path.push_back(&this->State->Root);
  }
  ~TFakeServer() override {
    for (auto& [Handle, Group] : State->Groups) Group->Release();
    State->Groups.clear();
  }
  TG_FAKE_REFCOUNT

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID Riid, void** Object) override {
    ++State->Calls;
    if (IsEqualIID(Riid, IID_IOPCServer) && !State->OPCServerQueryResults.empty()) {
      const HRESULT Hr = State->OPCServerQueryResults.front();
      State->OPCServerQueryResults.erase(State->OPCServerQueryResults.begin());
      if (FAILED(Hr)) {
        *Object = nullptr;
        return Hr;
      }
    }
    if (IsEqualIID(Riid, IID_IUnknown) || IsEqualIID(Riid, IID_IOPCServer)) {
      *Object = static_cast<IOPCServer*>(this);
    } else if (IsEqualIID(Riid, IID_IOPCBrowseServerAddressSpace) && !State->NoBrowser) {
      *Object = static_cast<IOPCBrowseServerAddressSpace*>(this);
    } else {
      *Object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }

  // IOPCServer
  HRESULT STDMETHODCALLTYPE AddGroup(LPCWSTR Name, BOOL, DWORD Rate, OPCHANDLE, LONG*, FLOAT*,
                                     DWORD, OPCHANDLE* Handle, DWORD* Revised, REFIID Riid,
                                     LPUNKNOWN* Unknown) override {
    ++State->Calls;
    const std::string GroupName = Narrow8(OleToU16(Name));
    State->Log.push_back("AddGroup " + GroupName + " " + std::to_string(Rate));
    *Unknown = nullptr;
    if (State->FailAddGroup) return E_FAIL;
    auto* Group = new TFakeGroup(State, GroupName);
    const HRESULT Hr = Group->QueryInterface(Riid, reinterpret_cast<void**>(Unknown));
    if (FAILED(Hr)) {
      Group->Release();
      return Hr;
    }
    *Handle = NextGroup++;
    *Revised = Rate;
    State->Groups[*Handle] = Group;  // the server's own reference
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT, LCID, LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetGroupByName(LPCWSTR, REFIID, LPUNKNOWN*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetStatus(OPCSERVERSTATUS** Status) override {
    if (State->OnGetStatus) State->OnGetStatus();
    ++State->Calls;
    *Status = nullptr;
    if (FAILED(State->StatusResult)) return State->StatusResult;
    *Status = TaskMemArray<OPCSERVERSTATUS>(1);
    (*Status)->dwServerState = State->State;
    (*Status)->szVendorInfo = U16ToCoTaskMem(u"fake vendor");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE RemoveGroup(OPCHANDLE Handle, BOOL) override {
    ++State->Calls;
    auto It = State->Groups.find(Handle);
    State->Log.push_back("RemoveGroup " +
                         (It == State->Groups.end() ? std::string("?") : It->second->Name));
    if (State->FailRemoveGroup || It == State->Groups.end()) return E_FAIL;
    It->second->Release();
    State->Groups.erase(It);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CreateGroupEnumerator(OPCENUMSCOPE, REFIID, LPUNKNOWN*) override {
    return E_NOTIMPL;
  }

  // IOPCBrowseServerAddressSpace
  HRESULT STDMETHODCALLTYPE QueryOrganization(OPCNAMESPACETYPE* Type) override {
    *Type = OPC_NS_HIERARCHIAL;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ChangeBrowsePosition(OPCBROWSEDIRECTION Direction,
                                                 LPCWSTR Name) override {
    ++State->Calls;
    if (Direction == OPC_BROWSE_UP) {
      if (Path.size() == 1) return E_FAIL;
      Path.pop_back();
      return S_OK;
    }
    if (Direction != OPC_BROWSE_DOWN) return E_INVALIDARG;
    for (auto& Branch : Path.back()->Branches)
      if (Branch.Name == OleToU16(Name)) {
        if (Branch.Refuse) return E_INVALIDARG;
        if (!State->StuckPosition) Path.push_back(&Branch);
        return S_OK;
      }
    return E_INVALIDARG;
  }
  HRESULT STDMETHODCALLTYPE BrowseOPCItemIDs(OPCBROWSETYPE Type, LPCWSTR, VARTYPE, DWORD Rights,
                                             LPENUMSTRING* Enum) override {
    ++State->Calls;
    *Enum = nullptr;
    std::vector<std::u16string> Names;
    if (Type == OPC_LEAF) {
      if (State->FailRootLeaves && Path.size() == 1) return E_FAIL;
      for (const auto& Leaf : Path.back()->Leaves)
        if (Rights == 0 || (Leaf.Rights & Rights) != 0) Names.push_back(Leaf.Name);
    } else if (Type == OPC_BRANCH) {
      for (const auto& Branch : Path.back()->Branches) Names.push_back(Branch.Name);
    } else {
      return E_INVALIDARG;
    }
    *Enum = new TFakeEnum(State, std::move(Names));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetItemID(LPWSTR Name, LPWSTR* ItemID) override {
    ++State->Calls;
    *ItemID = nullptr;
    if (State->ItemIDsBeforeThrow == 0) throw std::bad_alloc();
    if (State->ItemIDsBeforeThrow > 0) --State->ItemIDsBeforeThrow;
    for (const auto& Leaf : Path.back()->Leaves)
      if (Leaf.Name == OleToU16(Name)) {
        *ItemID = U16ToCoTaskMem(Leaf.ItemID);
        return S_OK;
      }
    return E_INVALIDARG;
  }
  HRESULT STDMETHODCALLTYPE BrowseAccessPaths(LPCWSTR, LPENUMSTRING*) override { return E_NOTIMPL; }

 private:
  std::vector<TFakeBranch*> Path;
  OPCHANDLE NextGroup = 1;
};

class TFakeFactory final : public IClassFactory, TRefCounted {
 public:
  explicit TFakeFactory(std::shared_ptr<TFakeState> State) : TRefCounted(std::move(State)) {}
  TG_FAKE_REFCOUNT
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID Riid, void** Object) override {
    if (!IsEqualIID(Riid, IID_IUnknown) && !IsEqualIID(Riid, IID_IClassFactory)) {
      *Object = nullptr;
      return E_NOINTERFACE;
    }
    *Object = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* Outer, REFIID Riid, void** Object) override {
    *Object = nullptr;
    if (Outer) return CLASS_E_NOAGGREGATION;
    ++State->Creations;
    if (!State->CreateResults.empty()) {
      const HRESULT Hr = State->CreateResults.front();
      State->CreateResults.erase(State->CreateResults.begin());
      if (FAILED(Hr)) return Hr;
    }
    auto* Server = new TFakeServer(State);
    const HRESULT Hr = Server->QueryInterface(Riid, Object);
    Server->Release();
    return Hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

}  // namespace

TFakeState::TFakeState() = default;

TFakeState::~TFakeState() {
  for (auto& [Id, Value] : Values) VariantClear(&Value.Value);
}

void TFakeState::SetValue(const std::u16string& ItemID, int32_t Value, WORD Quality) {
  VARIANT V;
  VariantInit(&V);
  V.vt = VT_I4;
  V.lVal = Value;
  SetValue(ItemID, V, Quality);
}

void TFakeState::SetValue(const std::u16string& ItemID, const VARIANT& Value, WORD Quality) {
  TFakeItemValue& Item = Values[ItemID];
  if (Item.Value.vt == 0) VariantInit(&Item.Value);
  VariantClear(&Item.Value);
  VariantCopy(&Item.Value, const_cast<VARIANT*>(&Value));
  Item.Quality = Quality;
}

void TFakeState::Fire(const std::string& GroupName, const std::vector<std::u16string>& ItemIDs) {
  for (auto& [Handle, Group] : Groups)
    if (Group->Name == GroupName) Group->Fire(ItemIDs);
}

TFakeRegistration::TFakeRegistration(const CLSID& ClassID, std::shared_ptr<TFakeState> State) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  auto* Factory = new TFakeFactory(std::move(State));
  CoRegisterClassObject(ClassID, Factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &Cookie);
  Factory->Release();
}

TFakeRegistration::~TFakeRegistration() {
  CoRevokeClassObject(Cookie);
}
