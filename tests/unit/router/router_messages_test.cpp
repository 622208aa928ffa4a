// Text of every outgoing message: keys in each message's own order, the tables' texts, and what
// happens outside the tables.
#include <gtest/gtest.h>

#include "OPCDiscovery.h"
#include "RouterMessages.h"

namespace {

struct TTag {
  std::u16string HashName, SeparatorName;
  bool Readable, Writeable;
};

struct TMessageCase {
  const char* Label;
  std::u16string Text;
  std::u16string Expected;
};

const std::u16string ID = u"{6E6170D0-4C4B-11D1-A5E0-00A024A1F8A3}";

TEST(RouterMessagesTest, EveryMessageHasItsKeysInItsOwnOrder) {
  const std::vector<TOPCServerEntry> Servers = {{u"Sim.One", u"{1}"}, {u"Sim.Two", u"{2}"}};
  const std::vector<TTag> Tags = {{u"0a", u"Plant$#%Temp", true, false},
                                  {u"0b", u"Plant$#%Set", true, true}};
  const TMessageCase Cases[] = {
      {"serverOnline", ListServersMessage(1, 0, u"uid-1", Servers),
       uR"({"cmd":"serverOnline","uid":"uid-1","TransID":0,"ListServers":[{"id":"{1}","name":"Sim.One"},{"id":"{2}","name":"Sim.Two"}]})"},
      {"getOPCServers", ListServersMessage(2, 4, u"uid-1", {}),
       uR"({"cmd":"getOPCServers","TransID":4,"ListServers":[]})"},
      {"OPCConnect", ConnectMessage(3, ID, 8),
       uR"({"cmd":"OPCConnect","TransID":8,"OPCServerID":")" + ID + u"\"}"},
      {"OPCDisconnect", ConnectMessage(8, u"{1}", 9),
       uR"({"cmd":"OPCDisconnect","TransID":9,"OPCServerID":"{1}"})"},
      {"getTags", GetTagsMessage(u"{1}", 10, Tags),
       uR"({"cmd":"getTags","TransID":10,"OPCServerID":"{1}","ListTags":[{"name":"Plant$#%Temp","hash":"0a","readable":true,"writeable":false},{"name":"Plant$#%Set","hash":"0b","readable":true,"writeable":true}]})"},
      {"getTags empty", GetTagsMessage(u"{1}", 11, std::vector<TTag>{}),
       uR"({"cmd":"getTags","TransID":11,"OPCServerID":"{1}","ListTags":[]})"},
      {"value push", GetValuesMessage(u"{1}", 0, {u"0a", u"0b"}, {u"12.5", u""}, {u"1", u"0"}),
       uR"({"cmd":"getValues","OPCServerID":"{1}","TransID":0,"tagNames":["0a","0b"],"values":["12.5",""],"qualities":["1","0"]})"},
      {"setValue", SetValueMessage(u"{1}", 12, u"0b", u"3,25"),
       uR"({"cmd":"setValue","OPCServerID":"{1}","TransID":12,"tagName":"0b","value":"3,25"})"},
      {"ping", PingMessage(u"ID", 7, 1),
       uR"({"cmd":"ping","TransID":7,"OPCServerID":"ID","OPCState":"Running"})"},
      {"task refused", ErrorMessageText(5, -12, 42),
       uR"({"cmd":"getValues","TransID":42,"error":"Task buffer overload, TransID=42"})"},
      {"negative TransID", ErrorMessageText(7, -16, -3),
       uR"({"cmd":"setValue","TransID":-3,"error":"Error parsing write value, TransID=-3"})"},
      {"update lost the server", ErrorConnectMessage(6, -17, 0, u"{1}"),
       uR"({"cmd":"updateValues","TransID":0,"OPCServerID":"{1}","error":"OPC not answer"})"},
      {"values error", ErrorGetValuesMessage(13, -8, {u"0a"}),
       uR"({"cmd":"getValues","TransID":13,"error":"Fail add tags to OPC group","tagNames":["0a"]})"},
      {"write error", ErrorSetValueMessage(14, u"0b", -14),
       uR"({"cmd":"setValue","error":"Write item error","TransID":14,"tagName":"0b"})"},
      {"mode and code outside the tables", ErrorMessageText(0, -19, 1),
       uR"({"cmd":"","TransID":1,"error":", TransID=1"})"},
      {"code outside the table", ErrorConnectMessage(10, 0, 2, u"{1}"),
       uR"({"cmd":"","TransID":2,"OPCServerID":"{1}","error":""})"},
      {"non-ASCII and escapes", SetValueMessage(u"{1}", 15, u"Grüße\"\\", u"x"),
       u"{\"cmd\":\"setValue\",\"OPCServerID\":\"{1}\",\"TransID\":15,\"tagName\":"
       u"\"Grüße\\\"\\\\\","
       u"\"value\":\"x\"}"},
  };
  for (const auto& C : Cases) EXPECT_EQ(C.Text, C.Expected) << C.Label;
}

TEST(RouterMessagesTest, TablesGiveTheirTextsAndEmptyOutsideThem) {
  EXPECT_EQ(CommandName(1), u"serverOnline");
  EXPECT_EQ(CommandName(9), u"ping");
  EXPECT_EQ(CommandName(10), u"");
  EXPECT_EQ(ErrorMessage(-1), u"Get list OPC servers failed");
  EXPECT_EQ(ErrorMessage(-18), u"Error creating task");
  EXPECT_EQ(ErrorMessage(INT32_MIN), u"");
  const std::pair<int32_t, std::u16string> States[] = {
      {1, u"Running"}, {2, u"Failed"},    {3, u"NoConfig"},       {4, u"Suspended"},
      {5, u"Test"},    {6, u"CommFault"}, {0, u"UnknowingState"}, {7, u"UnknowingState"},
  };
  for (const auto& [State, Text] : States) EXPECT_EQ(ServerStateText(State), Text) << State;
}

}  // namespace
