// Types shared by the OPC workers and their owner: the string array, the callbacks a worker makes
// into its owner, and the owner's lock that a worker holds around each callback.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// Growable array of strings: tag names, values and qualities.
using TArray = std::vector<std::u16string>;

// The owner's re-entrant lock, shared by every worker.
using TCriticalSection = std::recursive_mutex;

// Success of "OPCConnect", "getTags" and "OPCDisconnect".
using TConnectCallBack = std::function<void(const std::u16string& OPCServerID, int32_t TransID)>;
// Their failures, and "OPC not answer" from an update task.
using TConnectErrorAnswer = std::function<void(int32_t Mode, int32_t ErrorCode, int32_t TransID,
                                               const std::u16string& OPCServerID)>;
// The "getValues" answer and every value push (TransID 0).
using TGetValuesCallBack =
    std::function<void(const std::u16string& OPCServerID, int32_t TransID, const TArray& ValueNames,
                       const TArray& Values, const TArray& Qualities)>;
using TGetValuesErrorAnswer = std::function<void(const std::u16string& OPCServerID, int32_t TransID,
                                                 int32_t ErrorCode, const TArray& ValueNames)>;
using TSetValueCallBack =
    std::function<void(const std::u16string& OPCServerID, int32_t TransID,
                       const std::u16string& ValueName, const std::u16string& Value)>;
using TSetValueErrorAnswer =
    std::function<void(const std::u16string& OPCServerID, int32_t TransID,
                       const std::u16string& ValueName, int32_t ErrorCode)>;
using TOPCPingCallBack =
    std::function<void(const std::u16string& OPCServerID, int32_t TransID, int32_t State)>;
// A task refused by a worker's queue.
using TErrorAnswer = std::function<void(int32_t Mode, int32_t ErrorCode, int32_t TransID)>;
// Something a worker has to say that answers no request (a connect tried again), for the log.
using TNoticeCallBack = std::function<void(const std::u16string& Text)>;

// Task codes: positions in the command-name table.
enum TTaskCode : int32_t {
  TaskOPCConnect = 3,
  TaskGetTags = 4,
  TaskGetValues = 5,
  TaskUpdateValues = 6,
  TaskSetValue = 7,
  TaskOPCDisconnect = 8,
  TaskPing = 9,
};

// Result codes of the OPC side: -N names entry N of the error-message table.
enum TOPCResult : int32_t {
  OPC_STILL_INITIALIZE = -2,
  WRONG_OPC_CLASS_ID = -4,
  UNABLE_CONNECT_OPC_SERVER = -5,
  OPC_SERVER_NOT_INITIALIZE = -6,
  FAIL_CREATE_OPC_GROUP = -7,
  FAIL_ADD_TAGS_TO_OPC_GROUP = -8,
  UNABLE_ADVISE_ASYNC_GROUP = -9,
  UNABLE_INIT_SERVER_BROWSER = -10,
  UNABLE_BROWSER_ITEMS = -11,
  TASK_BUFFER_OVERLOAD = -12,
  ITEM_NOT_INIT = -13,
  WRITE_ITEM_ERROR = -14,
  OPC_DISCONNECT_ERROR = -15,
  OPC_NOT_ANSWER = -17,
  ERROR_CREATING_TASK = -18,
};
