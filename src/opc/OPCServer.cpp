// A server connection's values: its "sync" and "async" groups, reading and writing (the
// connection itself is in OPCServerConnection.cpp, the browsed tag table in OPCServerTags.cpp).
#include "OPCServer.h"

#include <charconv>
#include <system_error>
#include <utility>

int HexDigit(char16_t C) {
  if (C >= u'0' && C <= u'9') return C - u'0';
  if (C >= u'A' && C <= u'F') return C - u'A' + 10;
  if (C >= u'a' && C <= u'f') return C - u'a' + 10;
  return -1;
}

namespace {

// Whole 32-bit signed integer: leading blanks, a sign, then decimal digits or hexadecimal digits
// after "$", "x" or "0x"; nothing after the number.
bool ParseInteger(const std::u16string& Text, int32_t& Value) {
  size_t I = 0;
  while (I < Text.size() && Text[I] == u' ') ++I;
  bool Negative = false;
  if (I < Text.size() && (Text[I] == u'+' || Text[I] == u'-')) Negative = Text[I++] == u'-';
  int Base = 10;
  if (I < Text.size() && (Text[I] == u'$' || Text[I] == u'x' || Text[I] == u'X')) {
    Base = 16;
    ++I;
  } else if (I + 1 < Text.size() && Text[I] == u'0' &&
             (Text[I + 1] == u'x' || Text[I + 1] == u'X')) {
    Base = 16;
    I += 2;
  }
  if (I >= Text.size()) return false;
  const uint64_t Limit = Base == 16 ? 0xFFFFFFFFull : (Negative ? 0x80000000ull : 0x7FFFFFFFull);
  uint64_t Magnitude = 0;
  for (; I < Text.size(); ++I) {
    const int D = HexDigit(Text[I]);
    if (D < 0 || D >= Base) return false;
    Magnitude = Magnitude * Base + D;
    if (Magnitude > Limit) return false;
  }
  // A hexadecimal number fills the 32 bits as they are ($FFFFFFFF is -1).
  const auto Bits = static_cast<uint32_t>(Magnitude);
  Value = static_cast<int32_t>(Negative ? 0u - Bits : Bits);
  return true;
}

// Whole decimal floating-point number: leading blanks, a sign, digits with one optional point,
// an optional exponent; nothing after the number.
bool ParseFloat(const std::u16string& Text, double& Value) {
  size_t I = 0;
  while (I < Text.size() && Text[I] == u' ') ++I;
  std::string Ascii;
  if (I < Text.size() && (Text[I] == u'+' || Text[I] == u'-'))
    Ascii += static_cast<char>(Text[I++]);
  size_t Digits = 0;
  for (; I < Text.size() && Text[I] >= u'0' && Text[I] <= u'9'; ++I, ++Digits)
    Ascii += static_cast<char>(Text[I]);
  if (I < Text.size() && Text[I] == u'.') {
    Ascii += '.';
    for (++I; I < Text.size() && Text[I] >= u'0' && Text[I] <= u'9'; ++I, ++Digits)
      Ascii += static_cast<char>(Text[I]);
  }
  if (Digits == 0) return false;
  if (I < Text.size() && (Text[I] == u'e' || Text[I] == u'E')) {
    Ascii += 'e';
    ++I;
    if (I < Text.size() && (Text[I] == u'+' || Text[I] == u'-'))
      Ascii += static_cast<char>(Text[I++]);
    size_t ExponentDigits = 0;
    for (; I < Text.size() && Text[I] >= u'0' && Text[I] <= u'9'; ++I, ++ExponentDigits)
      Ascii += static_cast<char>(Text[I]);
    if (ExponentDigits == 0) return false;
  }
  if (I != Text.size()) return false;
  // Independent of the C locale; a number out of range is no number.
  const char* End = Ascii.data() + Ascii.size();
  const auto [Stop, Error] = std::from_chars(Ascii.data(), End, Value);
  return Error == std::errc() && Stop == End;
}

}  // namespace

int32_t TOPCServer::GetOPCItemValues(const TArray& ValueNames, TArray& Values, TArray& Qualities) {
  if (ItemsFullList.empty()) GetTagsList();
  bool AnyNew = false;
  for (const auto& Name : ValueNames) AnyNew = AddItemName(Name) > 0 || AnyNew;
  // A group whose last build failed is built again even when no tag is new: answered from the
  // items without it, the request would read as a success that never brings a value.
  if (AnyNew || GroupBuildFailed) {
    RemoveGroups();
    const int32_t Result = CreateGroups(SyncMode, ResponseTime);
    GroupBuildFailed = Result < 0;
    if (Result < 0) return Result;
  }
  Values.assign(ValueNames.size(), std::u16string());
  Qualities.assign(ValueNames.size(), std::u16string());
  for (size_t I = 0; I < ValueNames.size(); ++I)
    GetItemValue(ValueNames[I], Values[I], Qualities[I]);
  return static_cast<int32_t>(ValueNames.size());
}

int32_t TOPCServer::AddItemName(const std::u16string& Name) {
  TOPCItemRecArr& Items = SyncMode ? SyncValsArr : ASyncValsArr;
  if (Items.FindByHashName(Name) != nullptr) return 0;
  OPCItemRec Item;
  Item.HashName = Name;
  Item.LinkName = FindLinkName(Name);
  Item.IdxForASync = Itemidx++;
  Items.Append(std::move(Item));
  return 1;
}

int32_t TOPCServer::GetItemValue(const std::u16string& Name, std::u16string& Value,
                                 std::u16string& Quality) {
  TOPCItemRecArr& Items = SyncMode ? SyncValsArr : ASyncValsArr;
  const OPCItemRec* Item = Items.FindByHashName(Name);
  if (Item == nullptr) return ITEM_NOT_INIT;
  Value = Item->Value;
  Quality = Item->Quality;
  return 0;
}

namespace {

void RemoveAllItems(IOPCItemMgt* Group, TOPCItemRecArr& Items) {
  if (Group == nullptr) return;
  std::vector<OPCHANDLE> Handles;
  Handles.reserve(Items.size());
  for (const auto& Item : Items)
    if (Item.HasHandle) Handles.push_back(Item.HItem);
  if (Handles.empty()) return;
  HRESULT* Errors = nullptr;
  Group->RemoveItems(static_cast<DWORD>(Handles.size()), Handles.data(), &Errors);
  CoTaskMemFree(Errors);
}

// Whether entry I of an AddItems answer gave the item a handle. A refused item's result holds no
// handle at all (often 0, which is another item's handle on servers that count from 0).
bool ItemAdded(HRESULT Hr, const OPCITEMRESULT* Results, const HRESULT* Errors, size_t I) {
  if (FAILED(Hr) || Results == nullptr) return false;
  if (Errors == nullptr) return Hr == S_OK;
  return SUCCEEDED(Errors[I]);
}

}  // namespace

void TOPCServer::RemoveGroups() {
  if (HasSyncGroup) RemoveAllItems(GroupIf.Get(), SyncValsArr);
  if (HasASyncGroup) {
    RemoveAllItems(AGroupIf.Get(), ASyncValsArr);
    UnadviseDataCallback();
  }
  RemoveServerGroup(HasASyncGroup, HASyncGroup, AGroupIf);
  GroupSyncIO.Reset();
  RemoveServerGroup(HasSyncGroup, HSyncGroup, GroupIf);
}

void TOPCServer::RemoveServerGroup(bool& HasGroup, OPCHANDLE Group,
                                   ComPtr<IOPCItemMgt>& GroupIntf) {
  if (!HasGroup) return;
  // Our references go first, so the server can free the group at once.
  GroupIntf.Reset();
  if (ServerIntf) ServerIntf->RemoveGroup(Group, FALSE);
  HasGroup = false;
}

int32_t TOPCServer::CreateGroups(bool Sync, int32_t Rate) {
  if (!ServerIntf) return FAIL_CREATE_OPC_GROUP;
  ComPtr<IOPCItemMgt> NewGroup;
  if (Sync && !HasSyncGroup) {
    if (FAILED(CreateServerGroup(ServerIntf.Get(), u"sync", Rate, HSyncGroup, NewGroup)))
      return FAIL_CREATE_OPC_GROUP;
    HasSyncGroup = true;
    GroupIf = NewGroup;
    // Kept for the group's life: one call fewer on every update, which counts out of process.
    if (FAILED(GroupIf->QueryInterface(IID_IOPCSyncIO,
                                       reinterpret_cast<void**>(GroupSyncIO.GetAddressOf()))))
      GroupSyncIO.Reset();
  } else if (!Sync && !HasASyncGroup) {
    if (FAILED(CreateServerGroup(ServerIntf.Get(), u"async", Rate, HASyncGroup, NewGroup)))
      return FAIL_CREATE_OPC_GROUP;
    HasASyncGroup = true;
    AGroupIf = NewGroup;
  }
  if (Sync) return AddGroupItems(GroupIf.Get(), SyncValsArr);

  const int32_t Added = AddGroupItems(AGroupIf.Get(), ASyncValsArr);
  if (Added < 0) return Added;
  ReleaseSink();
  // Takes over the new object's first reference (Attach would add one on some platforms).
  *OPCDataCallback.ReleaseAndGetAddressOf() =
      new TOPCDataCallback(&ASyncValsArr, GetValues, Guid, AsyncAnyGoodQuality.load());
  if (FAILED(AdviseDataCallback(AGroupIf.Get(), OPCDataCallback.Get(), AsyncConnection)))
    return UNABLE_ADVISE_ASYNC_GROUP;
  return 0;
}

int32_t TOPCServer::AddGroupItems(IOPCItemMgt* Group, TOPCItemRecArr& Items) {
  if (Group == nullptr) return FAIL_ADD_TAGS_TO_OPC_GROUP;
  std::vector<std::u16string> ItemIDs;  // OPCITEMDEF points into these
  ItemIDs.reserve(Items.size());
  std::vector<OPCITEMDEF> Definitions(Items.size());
  std::u16string AccessPath;
  for (size_t I = 0; I < Items.size(); ++I) {
    ItemIDs.push_back(Items[I].LinkName);
    OPCITEMDEF& Def = Definitions[I];
    Def.szAccessPath = OleArg(AccessPath);
    Def.szItemID = OleArg(ItemIDs.back());
    Def.bActive = TRUE;
    Def.hClient = Items[I].IdxForASync;
    Def.dwBlobSize = 0;
    Def.pBlob = nullptr;
    Def.vtRequestedDataType = VT_EMPTY;
    Def.wReserved = 0;
  }
  OPCITEMRESULT* Results = nullptr;
  HRESULT* Errors = nullptr;
  const HRESULT Hr = Group->AddItems(static_cast<DWORD>(Definitions.size()), Definitions.data(),
                                     &Results, &Errors);
  for (size_t I = 0; I < Items.size(); ++I) {
    OPCItemRec& Item = Items[I];
    Item.HasHandle = ItemAdded(Hr, Results, Errors, I);
    Item.HItem = Item.HasHandle ? Results[I].hServer : 0;
    // An item without a handle has no value: it reads as one never read.
    if (!Item.HasHandle) {
      Item.Value.clear();
      Item.Quality.clear();
    }
    if (Results != nullptr) CoTaskMemFree(Results[I].pBlob);
  }
  CoTaskMemFree(Results);
  CoTaskMemFree(Errors);
  return FAILED(Hr) ? FAIL_ADD_TAGS_TO_OPC_GROUP : 0;
}

bool TOPCServer::UpdateOPCServersValues() {
  if (!ServerIntf) return true;
  ReadSyncGroup();
  return CheckServerState();
}

void TOPCServer::ReadSyncGroup() {
  if (!HasSyncGroup || !GroupSyncIO || SyncValsArr.empty()) return;
  std::vector<OPCHANDLE> Handles;
  std::vector<OPCItemRec*> Read;  // the entry behind each handle
  Handles.reserve(SyncValsArr.size());
  Read.reserve(SyncValsArr.size());
  for (auto& Item : SyncValsArr) {
    if (!Item.HasHandle) continue;
    Handles.push_back(Item.HItem);
    Read.push_back(&Item);
  }
  if (Handles.empty()) return;
  OPCITEMSTATE* States = nullptr;
  HRESULT* Errors = nullptr;
  const HRESULT Hr = GroupSyncIO->Read(OPC_DS_CACHE, static_cast<DWORD>(Handles.size()),
                                       Handles.data(), &States, &Errors);
  if (FAILED(Hr) || States == nullptr || Errors == nullptr) {
    CoTaskMemFree(States);
    CoTaskMemFree(Errors);
    return;
  }
  for (size_t I = 0; I < Read.size(); ++I) {
    OPCItemRec& Item = *Read[I];
    if (SUCCEEDED(Errors[I])) {
      std::u16string Text;
      if (SUCCEEDED(VariantToText(States[I].vDataValue, Text))) {
        Item.Value = std::move(Text);
        // Any good quality counts, whatever its substatus and limit bits.
        Item.Quality = (States[I].wQuality & OPC_QUALITY_MASK) == OPC_QUALITY_GOOD ? u"1" : u"0";
      } else {
        Item.Value = UnreadValue;
        Item.Quality = u"0";
      }
    }
    VariantClear(&States[I].vDataValue);
  }
  CoTaskMemFree(States);
  CoTaskMemFree(Errors);
}

int32_t TOPCServer::WriteOPCItemValue(const std::u16string& OPCItemName,
                                      const std::u16string& NewVal) {
  if (ItemsFullList.empty()) GetTagsList();
  IOPCItemMgt* Group = nullptr;
  const OPCItemRec* Item = ASyncValsArr.FindByHashName(OPCItemName);
  if (Item != nullptr) {
    Group = AGroupIf.Get();
  } else if ((Item = SyncValsArr.FindByHashName(OPCItemName)) != nullptr) {
    Group = GroupIf.Get();
  } else {
    return ITEM_NOT_INIT;
  }
  // The server refused the item when it was added: its handle would name another item.
  if (!Item->HasHandle) return WRITE_ITEM_ERROR;
  const OPCHANDLE Handle = Item->HItem;
  VARIANT Value;
  VariantInit(&Value);
  MakeWriteValue(NewVal, Value);
  const HRESULT Hr = WriteGroupItem(Group, Handle, Value);
  VariantClear(&Value);
  return FAILED(Hr) ? WRITE_ITEM_ERROR : 0;
}

void MakeWriteValue(const std::u16string& NewVal, VARIANT& Value) {
  std::u16string Copy = NewVal;
  for (char16_t& C : Copy)
    if (C == u',') C = u'.';
  int32_t Integer = 0;
  double Float = 0;
  if (ParseInteger(Copy, Integer)) {
    V_VT(&Value) = VT_I4;
    V_I4(&Value) = Integer;
  } else if (ParseFloat(Copy, Float)) {
    V_VT(&Value) = VT_R8;
    V_R8(&Value) = Float;
  } else {
    V_VT(&Value) = VT_BSTR;
    V_BSTR(&Value) = U16ToBstr(NewVal);
  }
}

HRESULT CreateServerGroup(IOPCServer* Server, const std::u16string& Name, int32_t Rate,
                          OPCHANDLE& ServerGroup, ComPtr<IOPCItemMgt>& GroupIntf) {
  GroupIntf.Reset();
  if (Server == nullptr) return E_POINTER;
  FLOAT Deadband = 0.0f;
  DWORD RevisedRate = 0;
  const HRESULT Hr = Server->AddGroup(U16ToOle(Name), TRUE, static_cast<DWORD>(Rate), 0, nullptr,
                                      &Deadband, 0, &ServerGroup, &RevisedRate, IID_IOPCItemMgt,
                                      reinterpret_cast<IUnknown**>(GroupIntf.GetAddressOf()));
  if (FAILED(Hr)) GroupIntf.Reset();
  return Hr;
}

HRESULT AdviseDataCallback(IOPCItemMgt* Group, IOPCDataCallback* Sink, DWORD& Cookie) {
  if (Group == nullptr) return E_POINTER;
  ComPtr<IConnectionPointContainer> Container;
  HRESULT Hr = Group->QueryInterface(IID_IConnectionPointContainer,
                                     reinterpret_cast<void**>(Container.GetAddressOf()));
  if (FAILED(Hr) || !Container) return FAILED(Hr) ? Hr : E_NOINTERFACE;
  ComPtr<IConnectionPoint> Point;
  Hr = Container->FindConnectionPoint(IID_IOPCDataCallback, Point.GetAddressOf());
  if (FAILED(Hr) || !Point) return FAILED(Hr) ? Hr : CONNECT_E_NOCONNECTION;
  return Point->Advise(Sink, &Cookie);
}

HRESULT WriteGroupItem(IOPCItemMgt* Group, OPCHANDLE Item, VARIANT& Value) {
  if (Group == nullptr) return E_POINTER;
  ComPtr<IOPCSyncIO> SyncIO;
  HRESULT Hr =
      Group->QueryInterface(IID_IOPCSyncIO, reinterpret_cast<void**>(SyncIO.GetAddressOf()));
  if (FAILED(Hr) || !SyncIO) return FAILED(Hr) ? Hr : E_NOINTERFACE;
  HRESULT* Errors = nullptr;
  Hr = SyncIO->Write(1, &Item, &Value, &Errors);
  if (SUCCEEDED(Hr) && Errors != nullptr) Hr = Errors[0];
  CoTaskMemFree(Errors);
  return Hr;
}
