// Connection to one OPC DA server, used only on its worker's thread: connecting, the server state
// and health check, the browsed tag table, the "sync"/"async" groups, reading and writing.
// OPCServerConnection.cpp holds the connecting and the health check, OPCServerTags.cpp the tag
// table, OPCServer.cpp the groups and values.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "ComApartment.h"
#include "OPCComm.h"
#include "OPCDataCallback.h"
#include "OPCTypes.h"

// One browsed tag.
struct TOPCItem {
  std::u16string HashName;       // MD5 of SeparatorName, 32 lower-case hex digits
  std::u16string SeparatorName;  // item identifier with each level separator replaced by "$#%"
  std::u16string LinkName;       // item identifier given by the server
  bool Readable = false;
  bool Writeable = false;
};
using TItemsFullList = std::vector<TOPCItem>;
// 1-based positions of the level separators in the browse path of a level.
using TSeparatorIndexis = std::vector<int32_t>;

class TOPCServer {
 public:
  // Failed health checks in a row that a server may have before it counts as lost.
  static constexpr int32_t MaxFailedChecks = 10;
  // The pauses before the second and the third try of a connect whose server is stopping or
  // gone: a server process that exits just after its last client left may still hand out its
  // class object for a moment.
  static constexpr std::array<std::chrono::milliseconds, 2> ConnectRetryPauses{
      std::chrono::milliseconds(500), std::chrono::milliseconds(1000)};
  // Waits between two tries; false when the wait was cut short (the worker is stopping).
  using TPause = std::function<bool(std::chrono::milliseconds)>;

  explicit TOPCServer(std::u16string Guid);
  ~TOPCServer();
  TOPCServer(const TOPCServer&) = delete;
  TOPCServer& operator=(const TOPCServer&) = delete;

  int32_t Init(const std::u16string& SyncMode, int32_t ResponseTime);
  int32_t Disconnect();
  // Any thread.
  bool IsOPCInit() const { return IsInit.load(); }
  bool GetSyncMode() const { return SyncMode; }
  int32_t GetResponseTime() const { return ResponseTime; }
  int32_t GetOPCState();
  void SetGetValuesCallback(TGetValuesCallBack Value) { GetValues = std::move(Value); }
  // Told once for each retry of a connect.
  void SetNoticeCallback(TNoticeCallBack Value) { Notice = std::move(Value); }
  // A plain sleep unless set.
  void SetPauseCallback(TPause Value) { Pause = std::move(Value); }
  // True: pushes count every good quality as good, as the "sync" read does (the sink made at the
  // next group build takes it); false (the default): only plain good (0xC0).
  void SetAsyncGoodQualityProp(bool AnyGood) { AsyncAnyGoodQuality = AnyGood; }

  // Whether the table is built through IOPCBrowse where the server offers it (the default);
  // false walks IOPCBrowseServerAddressSpace only.
  void SetBrowseElementsProp(bool Value) { BrowseElements = Value; }
  int32_t GetTagsList();
  const TItemsFullList& GetOPCTagsArr() const { return ItemsFullList; }

  int32_t GetOPCItemValues(const TArray& ValueNames, TArray& Values, TArray& Qualities);
  bool UpdateOPCServersValues();
  int32_t WriteOPCItemValue(const std::u16string& OPCItemName, const std::u16string& NewVal);

  // Text to class identifier; false when the text does not parse.
  static bool ParseClassID(const std::u16string& Text, CLSID& ClassID);
  // Failures of creating a server object, or of its first call, that say the server is stopping
  // or gone, so that another try may meet a new one.
  static bool IsServerGoing(HRESULT Hr);
  static std::u16string MarkSeparators(const std::u16string& ItemID,
                                       const TSeparatorIndexis& Positions, int32_t Offset);

 private:
  HRESULT CreateServerObject(const CLSID& ClassID);
  HRESULT ActivateServer(const CLSID& ClassID);
  void UnadviseDataCallback();
  bool CheckServerState();
  std::u16string FindLinkName(const std::u16string& HashName) const;
  int32_t BrowseTags(TItemsFullList& Table);
  int32_t AddItemName(const std::u16string& Name);
  void RemoveGroups();
  void RemoveServerGroup(bool& HasGroup, OPCHANDLE Group, ComPtr<IOPCItemMgt>& GroupIntf);
  int32_t CreateGroups(bool Sync, int32_t Rate);
  int32_t AddGroupItems(IOPCItemMgt* Group, TOPCItemRecArr& Items);
  int32_t GetItemValue(const std::u16string& Name, std::u16string& Value, std::u16string& Quality);
  void ReadSyncGroup();
  void EmptyItemArrays();
  void ReleaseSink();

  // First: left after every COM object below has been released.
  TComApartment Apartment;
  std::u16string Guid;
  std::atomic<bool> IsInit{false};
  ComPtr<IOPCServer> ServerIntf;
  OPCHANDLE HASyncGroup = 0;
  OPCHANDLE HSyncGroup = 0;
  ComPtr<IOPCItemMgt> GroupIf;
  ComPtr<IOPCSyncIO> GroupSyncIO;  // the "sync" group's read interface, taken when it is made
  ComPtr<IOPCItemMgt> AGroupIf;
  bool HasSyncGroup = false;
  bool HasASyncGroup = false;
  bool GroupBuildFailed = false;  // the last "getValues" that built the group got an error
  TOPCItemRecArr SyncValsArr;
  TOPCItemRecArr ASyncValsArr;
  ComPtr<TOPCDataCallback> OPCDataCallback;
  DWORD AsyncConnection = 0;
  TItemsFullList ItemsFullList;
  std::unordered_map<std::u16string, size_t> TagsByHashName;  // first entry of each HashName
  bool SyncMode = false;
  std::atomic<bool> BrowseElements{true};  // set by the owner, read on the worker thread
  int32_t ResponseTime = 0;
  uint32_t Itemidx = 0;
  int32_t ConnectionCount = 0;
  TGetValuesCallBack GetValues;
  TNoticeCallBack Notice;
  TPause Pause;
  std::atomic<bool> AsyncAnyGoodQuality{false};
};

// Adds a group to Server: active, update rate Rate ms, client handle 0, no time bias, dead band
// 0 %, locale 0, item interface asked for. The revised rate is dropped.
HRESULT CreateServerGroup(IOPCServer* Server, const std::u16string& Name, int32_t Rate,
                          OPCHANDLE& ServerGroup, ComPtr<IOPCItemMgt>& GroupIntf);
// Advises Sink on the group's data-change connection point; Cookie receives the advise cookie.
HRESULT AdviseDataCallback(IOPCItemMgt* Group, IOPCDataCallback* Sink, DWORD& Cookie);
// Writes one item synchronously: the item's own error code when the call succeeds.
HRESULT WriteGroupItem(IOPCItemMgt* Group, OPCHANDLE Item, VARIANT& Value);
// The value of one hexadecimal digit; -1 for any other character.
int HexDigit(char16_t C);
// Builds the value written for NewVal: 4-byte integer, else 8-byte float (comma or point as
// decimal separator), else the text itself.
void MakeWriteValue(const std::u16string& NewVal, VARIANT& Value);
