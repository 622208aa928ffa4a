// The protocol's vocabulary (command names, error messages, server state names) and the JSON text
// of every message the agent writes to the SCADA server, each with its keys in its own order.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "JSONValues.h"
#include "OPCTypes.h"

struct TOPCServerEntry;

// Command names: a command's number is its 1-based position.
extern const std::vector<std::u16string> CommandNames;
// Error messages: the code -N names entry N.
extern const std::vector<std::u16string> ErrorMessages;

// Entry Index of Values counting from 1; empty text outside the table.
std::u16string GetTextByIndex(const std::vector<std::u16string>& Values, int64_t Index);
std::u16string CommandName(int32_t Mode);
// The message of a result code -N (entry N); empty text outside the table.
std::u16string ErrorMessage(int32_t ErrorCode);
// "OPCState" text of an OPC DA server state; "UnknowingState" outside 1..6.
std::u16string ServerStateText(int32_t State);

std::unique_ptr<TqvJSONlist> ArrayToJSONList(const TArray& Values);

// Mode 1: "serverOnline" with the client identifier; Mode 2: the "getOPCServers" answer.
std::u16string ListServersMessage(int32_t Mode, int32_t TransID, const std::u16string& Uid,
                                  const std::vector<TOPCServerEntry>& Servers);
// "cmd", "TransID", "OPCServerID": the answers to OPCConnect and OPCDisconnect.
std::u16string ConnectMessage(int32_t Mode, const std::u16string& OPCServerID, int32_t TransID);
std::u16string GetValuesMessage(const std::u16string& OPCServerID, int32_t TransID,
                                const TArray& ValueNames, const TArray& Values,
                                const TArray& Qualities);
std::u16string SetValueMessage(const std::u16string& OPCServerID, int32_t TransID,
                               const std::u16string& ValueName, const std::u16string& Value);
std::u16string PingMessage(const std::u16string& OPCServerID, int32_t TransID, int32_t State);
// The error text carries ", TransID=" and the TransID after the message.
std::u16string ErrorMessageText(int32_t Mode, int32_t ErrorCode, int32_t TransID);
std::u16string ErrorConnectMessage(int32_t Mode, int32_t ErrorCode, int32_t TransID,
                                   const std::u16string& OPCServerID);
std::u16string ErrorGetValuesMessage(int32_t TransID, int32_t ErrorCode, const TArray& ValueNames);
std::u16string ErrorSetValueMessage(int32_t TransID, const std::u16string& ValueName,
                                    int32_t ErrorCode);

// A message object whose first key is "cmd", and its text.
std::unique_ptr<TqvJSONobject> NewMessage(const std::u16string& Cmd);
std::u16string GenerateMessage(const TqvJSONobject& Message);

// The "getTags" answer: one object per entry of the tag table ("name", "hash", "readable",
// "writeable"), in table order.
template <typename TTags>
std::u16string GetTagsMessage(const std::u16string& OPCServerID, int32_t TransID,
                              const TTags& Tags) {
  auto Message = NewMessage(u"getTags");
  Message->Add(u"TransID", TransID);
  Message->Add(u"OPCServerID", OPCServerID);
  auto List = TqvJSONlist::Generate();
  for (const auto& Tag : Tags) {
    auto Item = TqvJSONobject::Generate(true);
    Item->Add(u"name", Tag.SeparatorName);
    Item->Add(u"hash", Tag.HashName);
    Item->Add(u"readable", static_cast<bool>(Tag.Readable));
    Item->Add(u"writeable", static_cast<bool>(Tag.Writeable));
    List->Add(std::move(Item));
  }
  Message->Add(u"ListTags", std::move(List));
  return GenerateMessage(*Message);
}
