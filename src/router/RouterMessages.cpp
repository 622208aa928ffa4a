#include "RouterMessages.h"

#include "JSONText.h"
#include "OPCDiscovery.h"

const std::vector<std::u16string> CommandNames = {
    u"serverOnline", u"getOPCServers", u"OPCConnect",    u"getTags", u"getValues",
    u"updateValues", u"setValue",      u"OPCDisconnect", u"ping",
};

const std::vector<std::u16string> ErrorMessages = {
    u"Get list OPC servers failed",
    u"OPC still initialize",
    u"Too much OPC count",
    u"Wrong OPC Class ID",
    u"Unable to connect OPC server",
    u"OPC Server not initialize",
    u"Fail create OPC group",
    u"Fail add tags to OPC group",
    u"Unable to advise async group",
    u"Unable to init server browser",
    u"Unable to browser items",
    u"Task buffer overload",
    u"Item not init",
    u"Write item error",
    u"OPC Disconnect Error",
    u"Error parsing write value",
    u"OPC not answer",
    u"Error creating task",
};

namespace {

const std::vector<std::u16string> ServerStates = {
    u"Running", u"Failed", u"NoConfig", u"Suspended", u"Test", u"CommFault",
};

std::u16string Decimal(int32_t Value) {
  const std::string Text = std::to_string(Value);
  return std::u16string(Text.begin(), Text.end());
}

}  // namespace

std::u16string GetTextByIndex(const std::vector<std::u16string>& Values, int64_t Index) {
  if (Index < 1 || Index > static_cast<int64_t>(Values.size())) return {};
  return Values[static_cast<size_t>(Index - 1)];
}

std::u16string CommandName(int32_t Mode) {
  return GetTextByIndex(CommandNames, Mode);
}

std::u16string ErrorMessage(int32_t ErrorCode) {
  const int64_t Code = ErrorCode;
  return GetTextByIndex(ErrorMessages, Code < 0 ? -Code : Code);
}

std::u16string ServerStateText(int32_t State) {
  const std::u16string Text = GetTextByIndex(ServerStates, State);
  return Text.empty() ? u"UnknowingState" : Text;
}

std::unique_ptr<TqvJSONlist> ArrayToJSONList(const TArray& Values) {
  auto List = TqvJSONlist::Generate();
  for (const auto& Value : Values) List->Add(Value);
  return List;
}

std::unique_ptr<TqvJSONobject> NewMessage(const std::u16string& Cmd) {
  auto Message = TqvJSONobject::Generate(true);
  Message->Add(u"cmd", Cmd);
  return Message;
}

std::u16string GenerateMessage(const TqvJSONobject& Message) {
  return TqvJSON::GenerateText(&Message);
}

std::u16string ListServersMessage(int32_t Mode, int32_t TransID, const std::u16string& Uid,
                                  const std::vector<TOPCServerEntry>& Servers) {
  auto Message = NewMessage(CommandName(Mode));
  if (Mode == 1) Message->Add(u"uid", Uid);
  Message->Add(u"TransID", TransID);
  auto List = TqvJSONlist::Generate();
  for (const auto& Server : Servers) {
    auto Item = TqvJSONobject::Generate(true);
    Item->Add(u"id", Server.GUID);
    Item->Add(u"name", Server.Name);
    List->Add(std::move(Item));
  }
  Message->Add(u"ListServers", std::move(List));
  return GenerateMessage(*Message);
}

std::u16string ConnectMessage(int32_t Mode, const std::u16string& OPCServerID, int32_t TransID) {
  auto Message = NewMessage(CommandName(Mode));
  Message->Add(u"TransID", TransID);
  Message->Add(u"OPCServerID", OPCServerID);
  return GenerateMessage(*Message);
}

std::u16string GetValuesMessage(const std::u16string& OPCServerID, int32_t TransID,
                                const TArray& ValueNames, const TArray& Values,
                                const TArray& Qualities) {
  auto Message = NewMessage(u"getValues");
  Message->Add(u"OPCServerID", OPCServerID);
  Message->Add(u"TransID", TransID);
  Message->Add(u"tagNames", ArrayToJSONList(ValueNames));
  Message->Add(u"values", ArrayToJSONList(Values));
  Message->Add(u"qualities", ArrayToJSONList(Qualities));
  return GenerateMessage(*Message);
}

std::u16string SetValueMessage(const std::u16string& OPCServerID, int32_t TransID,
                               const std::u16string& ValueName, const std::u16string& Value) {
  auto Message = NewMessage(u"setValue");
  Message->Add(u"OPCServerID", OPCServerID);
  Message->Add(u"TransID", TransID);
  Message->Add(u"tagName", ValueName);
  Message->Add(u"value", Value);
  return GenerateMessage(*Message);
}

std::u16string PingMessage(const std::u16string& OPCServerID, int32_t TransID, int32_t State) {
  auto Message = NewMessage(u"ping");
  Message->Add(u"TransID", TransID);
  Message->Add(u"OPCServerID", OPCServerID);
  Message->Add(u"OPCState", ServerStateText(State));
  return GenerateMessage(*Message);
}

std::u16string ErrorMessageText(int32_t Mode, int32_t ErrorCode, int32_t TransID) {
  auto Message = NewMessage(CommandName(Mode));
  Message->Add(u"TransID", TransID);
  Message->Add(u"error", ErrorMessage(ErrorCode) + u", TransID=" + Decimal(TransID));
  return GenerateMessage(*Message);
}

std::u16string ErrorConnectMessage(int32_t Mode, int32_t ErrorCode, int32_t TransID,
                                   const std::u16string& OPCServerID) {
  auto Message = NewMessage(CommandName(Mode));
  Message->Add(u"TransID", TransID);
  Message->Add(u"OPCServerID", OPCServerID);
  Message->Add(u"error", ErrorMessage(ErrorCode));
  return GenerateMessage(*Message);
}

std::u16string ErrorGetValuesMessage(int32_t TransID, int32_t ErrorCode, const TArray& ValueNames) {
  auto Message = NewMessage(u"getValues");
  Message->Add(u"TransID", TransID);
  Message->Add(u"error", ErrorMessage(ErrorCode));
  Message->Add(u"tagNames", ArrayToJSONList(ValueNames));
  return GenerateMessage(*Message);
}

std::u16string ErrorSetValueMessage(int32_t TransID, const std::u16string& ValueName,
                                    int32_t ErrorCode) {
  auto Message = NewMessage(u"setValue");
  Message->Add(u"error", ErrorMessage(ErrorCode));
  Message->Add(u"TransID", TransID);
  Message->Add(u"tagName", ValueName);
  return GenerateMessage(*Message);
}
