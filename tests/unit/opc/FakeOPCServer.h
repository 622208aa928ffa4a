// A small in-process OPC DA server whose every answer a test controls: an address space of
// branches and leaves, failing calls, refused branches and writes, and change notifications fired
// on the test's own thread. Registered under a class identifier of its own for one test.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "OPCComm.h"

struct TFakeLeaf {
  std::u16string Name;
  std::u16string ItemID;
  DWORD Rights = OPC_READABLE | OPC_WRITEABLE;
};

struct TFakeBranch {
  std::u16string Name;
  std::vector<TFakeLeaf> Leaves;
  std::vector<TFakeBranch> Branches;
  bool Refuse = false;  // ChangeBrowsePosition down into it fails
};

struct TFakeItemValue {
  VARIANT Value{};  // VT_EMPTY
  WORD Quality = OPC_QUALITY_GOOD;
};

class TFakeGroup;

// What the server holds and what it records; shared between the server's objects and the test.
struct TFakeState {
  TFakeState();
  ~TFakeState();

  TFakeBranch Root;
  HRESULT StatusResult = S_OK;
  OPCSERVERSTATE State = OPC_STATUS_RUNNING;
  bool NoBrowser = false;
  bool FailRootLeaves = false;
  bool FailAddGroup = false;
  bool FailAddItems = false;
  bool FailAdvise = false;
  bool FailRemoveGroup = false;
  bool StuckPosition = false;   // moving down into a branch succeeds but the position stays
  bool EndlessEnums = false;    // name enumerations repeat their names for ever
  int ItemIDsBeforeThrow = -1;  // GetItemID throws std::bad_alloc once this many have answered
  std::set<std::u16string> RefusedWrites;  // item identifiers
  OPCHANDLE FirstItemHandle = 1;  // a new group numbers its items from here (0 is a valid handle)
  // Results of the next CreateInstance calls and of the next requests for IOPCServer, taken from
  // the front; success once used up.
  std::vector<HRESULT> CreateResults;
  std::vector<HRESULT> OPCServerQueryResults;
  std::atomic<int> Creations{0};  // CreateInstance calls

  int Calls = 0;                                    // every call into the server or its objects
  int NextCalls = 0;                                // IEnumString::Next calls
  ULONG LargestNext = 0;                            // most names asked for in one Next
  std::vector<std::string> Log;                     // group and subscription calls, in order
  std::vector<std::string> Writes;                  // "item=type:value"
  std::vector<std::string> ReadItems;               // item identifiers each Read named, joined
  std::map<std::u16string, TFakeItemValue> Values;  // by item identifier
  std::map<OPCHANDLE, TFakeGroup*> Groups;          // live groups by server handle
  std::atomic<int> LiveObjects{0};                  // released on whichever thread used the server
  // Runs at the start of every GetStatus, on the caller's thread (a test may block it there).
  std::function<void()> OnGetStatus;

  void SetValue(const std::u16string& ItemID, int32_t Value, WORD Quality = OPC_QUALITY_GOOD);
  void SetValue(const std::u16string& ItemID, const VARIANT& Value, WORD Quality);
  // Sends a change of these items (by item identifier) to the group's advised sink.
  void Fire(const std::string& GroupName, const std::vector<std::u16string>& ItemIDs);
};

// Registers the fake under ClassID for the lifetime of the object (calling thread's apartment).
class TFakeRegistration {
 public:
  TFakeRegistration(const CLSID& ClassID, std::shared_ptr<TFakeState> State);
  ~TFakeRegistration();

 private:
  DWORD Cookie = 0;
};
