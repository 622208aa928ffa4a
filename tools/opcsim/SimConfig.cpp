#include "SimConfig.h"

#include <fstream>
#include <functional>
#include <iterator>

#include "JSON.h"

namespace opcsim {

namespace {

std::u16string U16(const char* text) {
  return std::u16string(text, text + std::char_traits<char>::length(text));
}

const TqvJSONobject* AsObject(const TqvJSONbase* value) {
  return value ? value->As<TqvJSONobject>() : nullptr;
}

const TqvJSONbase* Field(const TqvJSONobject& object, const char* name) {
  return object.OldGetField(U16(name));
}

// Typed optional fields: false when the field is there but of another kind.
bool ReadText(const TqvJSONobject& object, const char* name, std::u16string& out) {
  const TqvJSONbase* value = Field(object, name);
  if (!value) return true;
  const auto* text = value->As<TqvJSONstring>();
  if (!text) return false;
  out = text->Text();
  return true;
}

bool ReadNumber(const TqvJSONobject& object, const char* name, double& out) {
  const TqvJSONbase* value = Field(object, name);
  if (!value) return true;
  const auto* number = value->As<TqvJSONnumber>();
  if (!number) return false;
  out = number->AsDouble();
  return true;
}

bool ReadCount(const TqvJSONobject& object, const char* name, uint32_t& out) {
  double number = out;
  if (!ReadNumber(object, name, number) || number < 0 || number > 4294967295.0) return false;
  out = static_cast<uint32_t>(number);
  return true;
}

bool ReadFlag(const TqvJSONobject& object, const char* name, bool& out) {
  const TqvJSONbase* value = Field(object, name);
  if (!value) return true;
  const auto* flag = value->As<TqvJSONboolean>();
  if (!flag) return false;
  out = flag->BoolValue();
  return true;
}

struct TypeName {
  const char16_t* name;
  VARTYPE vt;
};
const TypeName kTypes[] = {
    {u"I1", VT_I1},     {u"I2", VT_I2},     {u"I4", VT_I4},   {u"I8", VT_I8},    {u"UI1", VT_UI1},
    {u"UI2", VT_UI2},   {u"UI4", VT_UI4},   {u"UI8", VT_UI8}, {u"R4", VT_R4},    {u"R8", VT_R8},
    {u"BOOL", VT_BOOL}, {u"BSTR", VT_BSTR}, {u"CY", VT_CY},   {u"DATE", VT_DATE}};

bool ParseType(std::u16string text, VARTYPE& vt) {
  VARTYPE array = 0;
  if (text.size() > 2 && text.compare(text.size() - 2, 2, u"[]") == 0) {
    array = VT_ARRAY;
    text.resize(text.size() - 2);
  }
  for (const TypeName& type : kTypes) {
    if (text == type.name) {
      vt = static_cast<VARTYPE>(type.vt | array);
      return true;
    }
  }
  return false;
}

bool ParseChange(const std::u16string& text, ChangeKind& kind) {
  const std::pair<const char16_t*, ChangeKind> kinds[] = {{u"static", ChangeKind::Static},
                                                          {u"ramp", ChangeKind::Ramp},
                                                          {u"random", ChangeKind::Random},
                                                          {u"toggle", ChangeKind::Toggle},
                                                          {u"counter", ChangeKind::Counter}};
  for (const auto& [name, value] : kinds) {
    if (text == name) {
      kind = value;
      return true;
    }
  }
  return false;
}

bool ParseAccess(const std::u16string& text, DWORD& access) {
  if (text == u"r")
    access = OPC_READABLE;
  else if (text == u"w")
    access = OPC_WRITEABLE;
  else if (text == u"rw")
    access = OPC_READABLE | OPC_WRITEABLE;
  else
    return false;
  return true;
}

// "{n}", "{nn}", "{nnn}" become the index, zero-padded to the number of n's.
std::u16string Expand(const std::u16string& pattern, uint32_t index) {
  std::u16string out = pattern;
  for (int width = 3; width >= 1; --width) {
    std::u16string marker(1, u'{');
    marker.append(static_cast<size_t>(width), u'n');
    marker.push_back(u'}');
    const std::string digits = std::to_string(index);
    std::string padded = digits.size() < static_cast<size_t>(width)
                             ? std::string(static_cast<size_t>(width) - digits.size(), '0') + digits
                             : digits;
    const std::u16string replacement(padded.begin(), padded.end());
    for (size_t pos = out.find(marker); pos != std::u16string::npos; pos = out.find(marker, pos))
      out.replace(pos, marker.size(), replacement), pos += replacement.size();
  }
  return out;
}

uint64_t HashText(const std::u16string& text) {
  uint64_t hash = 1469598103934665603ull;
  for (char16_t c : text) hash = (hash ^ c) * 1099511628211ull;
  return hash;
}

// A scalar JSON value as a variant (number, text or boolean).
bool JsonScalar(const TqvJSONbase* value, VARIANT& out) {
  VariantInit(&out);
  if (const auto* number = value->As<TqvJSONnumber>()) {
    out.vt = VT_R8;
    out.dblVal = number->AsDouble();
  } else if (const auto* text = value->As<TqvJSONstring>()) {
    out.vt = VT_BSTR;
    out.bstrVal = U16ToBstr(text->Text());
  } else if (const auto* flag = value->As<TqvJSONboolean>()) {
    out.vt = VT_BOOL;
    out.boolVal = flag->BoolValue() ? VARIANT_TRUE : VARIANT_FALSE;
  } else {
    return false;
  }
  return true;
}

// The initial value of a leaf, converted to its canonical type.
bool ParseValue(const TqvJSONbase* json, SimLeaf& leaf, std::u16string& error) {
  const VARTYPE base = leaf.type & ~VT_ARRAY;
  if (leaf.type & VT_ARRAY) {
    const auto* list = json ? json->As<TqvJSONlist>() : nullptr;
    const ULONG count = list ? static_cast<ULONG>(list->Count()) : 0;
    SAFEARRAY* array = SafeArrayCreateVector(base, 0, count);
    if (!array) return error = u"cannot create an array value", false;
    for (ULONG i = 0; i < count; ++i) {
      VARIANT item, converted;
      VariantInit(&converted);
      if (!JsonScalar(list->ItemAt(static_cast<int>(i)), item) ||
          FAILED(VariantChangeType(&converted, &item, VARIANT_ALPHABOOL, base))) {
        VariantClear(&item);
        SafeArrayDestroy(array);
        return error = u"array element does not fit " + leaf.itemId, false;
      }
      LONG index = static_cast<LONG>(i);
      void* element = base == VT_BSTR ? static_cast<void*>(converted.bstrVal)
                                      : static_cast<void*>(&converted.llVal);
      SafeArrayPutElement(array, &index, element);
      VariantClear(&item);
      VariantClear(&converted);
    }
    VARIANT value;
    VariantInit(&value);
    value.vt = leaf.type;
    value.parray = array;
    leaf.value = SimValue::Adopt(value);
    return true;
  }
  if (!json) {
    SetLeafNumber(leaf, leaf.type == VT_BOOL ? 0 : leaf.min);
    return true;
  }
  VARIANT item;
  if (!JsonScalar(json, item)) return error = u"bad value for " + leaf.itemId, false;
  SimValue converted;
  const HRESULT hr = VariantChangeType(converted.Ptr(), &item, VARIANT_ALPHABOOL, leaf.type);
  VariantClear(&item);
  if (FAILED(hr)) return error = u"value does not fit the type of " + leaf.itemId, false;
  leaf.value = converted;
  SimValue number;
  if (SUCCEEDED(VariantChangeType(number.Ptr(), converted.Ptr(), 0, VT_R8)))
    leaf.number = number.Get().dblVal;
  return true;
}

struct TreeBuilder {
  std::u16string prefix;
  FILETIME now{};
  std::u16string& error;

  bool Nodes(const TqvJSONbase* json, SimBranch& parent, const std::u16string& path) {
    if (!json) return true;
    const auto* list = json->As<TqvJSONlist>();
    if (!list) return error = u"\"tree\" and \"children\" are lists", false;
    for (int i = 0; i < list->Count(); ++i) {
      const TqvJSONobject* node = AsObject(list->ItemAt(i));
      if (!node) return error = u"a node is an object", false;
      uint32_t count = 0;
      if (!ReadCount(*node, "count", count)) return error = u"bad \"count\"", false;
      for (uint32_t n = 1; n <= (count ? count : 1); ++n) {
        if (!Node(*node, parent, path, count ? n : 0)) return false;
      }
    }
    return true;
  }

  bool Node(const TqvJSONobject& node, SimBranch& parent, const std::u16string& path,
            uint32_t index) {
    std::u16string name;
    if (Field(node, "branch")) {
      if (!ReadText(node, "branch", name)) return error = u"\"branch\" is a name", false;
      return Branch(node, parent, path, index ? Expand(name, index) : name);
    }
    if (!ReadText(node, "leaf", name) || name.empty())
      return error = u"a node has a \"branch\" or \"leaf\" name", false;
    return Leaf(node, parent, path, index ? Expand(name, index) : name, index);
  }

  bool Branch(const TqvJSONobject& node, SimBranch& parent, const std::u16string& path,
              const std::u16string& name) {
    auto branch = std::make_unique<SimBranch>();
    branch->name = name;
    branch->parent = &parent;
    const std::u16string childPath = path.empty() ? name : path + u"." + name;
    branch->itemId = prefix + childPath;
    if (!ReadFlag(node, "refuseEntry", branch->refuseEntry))
      return error = u"bad \"refuseEntry\"", false;
    if (!ReadFlag(node, "isItem", branch->isItem)) return error = u"bad \"isItem\"", false;
    if (!Nodes(Field(node, "children"), *branch, childPath)) return false;
    parent.branches.push_back(std::move(branch));
    return true;
  }

  bool Leaf(const TqvJSONobject& node, SimBranch& parent, const std::u16string& path,
            const std::u16string& name, uint32_t index) {
    auto leaf = std::make_shared<SimLeaf>();
    leaf->name = name;
    leaf->itemId = prefix + (path.empty() ? name : path + u"." + name);
    std::u16string text;
    if (!ReadText(node, "itemId", text)) return error = u"bad \"itemId\"", false;
    if (!text.empty()) leaf->itemId = index ? Expand(text, index) : text;
    text = u"R8";
    if (!ReadText(node, "type", text) || !ParseType(text, leaf->type))
      return error = u"bad \"type\" of " + leaf->itemId, false;
    text = u"rw";
    if (!ReadText(node, "access", text) || !ParseAccess(text, leaf->access))
      return error = u"bad \"access\" of " + leaf->itemId, false;
    text = u"static";
    if (!ReadText(node, "change", text) || !ParseChange(text, leaf->change))
      return error = u"bad \"change\" of " + leaf->itemId, false;
    if (leaf->type == VT_BOOL) leaf->max = 1;
    double period = 1000, quality = OPC_QUALITY_GOOD;
    leaf->limited = Field(node, "lowLimit") || Field(node, "highLimit");
    leaf->lowLimit = -1e308;
    leaf->highLimit = 1e308;
    if (!ReadNumber(node, "period", period) || !ReadNumber(node, "min", leaf->min) ||
        !ReadNumber(node, "max", leaf->max) || !ReadNumber(node, "step", leaf->step) ||
        !ReadNumber(node, "lowLimit", leaf->lowLimit) ||
        !ReadNumber(node, "highLimit", leaf->highLimit) || !ReadNumber(node, "quality", quality) ||
        !ReadFlag(node, "refuseWrite", leaf->refuseWrite))
      return error = u"bad number or flag in " + leaf->itemId, false;
    if (period < 1 || quality < 0 || quality > 0xFFFF)
      return error = u"bad \"period\" or \"quality\" of " + leaf->itemId, false;
    leaf->periodMs = static_cast<uint32_t>(period);
    leaf->quality = static_cast<WORD>(quality);
    leaf->seed = HashText(leaf->itemId);
    leaf->timestamp = now;
    if (!ParseValue(Field(node, "value"), *leaf, error)) return false;
    parent.leaves.push_back(std::move(leaf));
    return true;
  }
};

bool ParseServerObject(const TqvJSONobject& json, SimServerDef& server, std::u16string& error) {
  if (!ReadText(json, "progId", server.progId) || server.progId.empty())
    return error = u"a server has a \"progId\"", false;
  if (!ReadText(json, "clsid", server.clsidText) ||
      FAILED(CLSIDFromString(U16ToOle(server.clsidText), &server.clsid)))
    return error = u"bad \"clsid\" of " + server.progId, false;
  server.description = server.progId;
  server.vendor = u"Tagrelay";
  std::u16string prefix;
  if (!ReadText(json, "description", server.description) ||
      !ReadText(json, "vendor", server.vendor) || !ReadText(json, "itemPrefix", prefix))
    return error = u"bad text field in " + server.progId, false;
  if (const TqvJSONbase* faults = Field(json, "faults")) {
    if (!AsObject(faults) || !ParseFaults(TqvJSON::GenerateText(faults), server.faults, error))
      return error = u"bad \"faults\" of " + server.progId + u": " + error, false;
  }
  server.space = std::make_shared<SimAddressSpace>();
  TreeBuilder builder{prefix, {}, error};
  CoFileTimeNow(&builder.now);
  if (!builder.Nodes(Field(json, "tree"), server.space->Root(), u"")) return false;
  std::u16string duplicate;
  if (!server.space->BuildIndex(duplicate))
    return error = u"item identifier used twice: " + duplicate, false;
  server.source = TqvJSON::GenerateText(&json);
  return true;
}

}  // namespace

bool ParseServer(std::u16string_view text, SimServerDef& server, std::u16string& error) {
  TqvJSONptr json = TqvJSON::ParseText(text);
  const TqvJSONobject* object = AsObject(json.get());
  if (!object) return error = u"a server is a JSON object", false;
  return ParseServerObject(*object, server, error);
}

bool ParseConfig(std::u16string_view text, std::vector<SimServerDef>& servers,
                 std::u16string& error) {
  servers.clear();
  TqvJSONptr json = TqvJSON::ParseText(text);
  const TqvJSONobject* root = AsObject(json.get());
  const TqvJSONbase* list = root ? Field(*root, "servers") : nullptr;
  if (!list || !list->As<TqvJSONlist>())
    return error = u"the file holds {\"servers\": [...]}", false;
  for (int i = 0; i < list->Count(); ++i) {
    const TqvJSONobject* object = AsObject(list->ItemAt(i));
    SimServerDef server;
    if (!object) return error = u"a server is a JSON object", false;
    if (!ParseServerObject(*object, server, error)) return false;
    servers.push_back(std::move(server));
  }
  return true;
}

bool ParseFaults(std::u16string_view text, SimFaults& faults, std::u16string& error) {
  TqvJSONptr json = TqvJSON::ParseText(text);
  const TqvJSONobject* object = AsObject(json.get());
  if (!object) return error = u"faults are a JSON object", false;
  std::u16string mode = faults.statusReportsState ? u"state" : u"error";
  double state = faults.statusState;
  const bool ok = ReadCount(*object, "statusFailFrom", faults.statusFailFrom) &&
                  ReadCount(*object, "statusFailCount", faults.statusFailCount) &&
                  ReadText(*object, "statusFailMode", mode) &&
                  ReadNumber(*object, "statusState", state) &&
                  ReadFlag(*object, "rootLeavesFail", faults.rootLeavesFail) &&
                  ReadFlag(*object, "browserMissing", faults.browserMissing) &&
                  ReadFlag(*object, "addGroupFails", faults.addGroupFails) &&
                  ReadFlag(*object, "addItemsFails", faults.addItemsFails) &&
                  ReadFlag(*object, "adviseFails", faults.adviseFails) &&
                  ReadFlag(*object, "statusCrashes", faults.statusCrashes) &&
                  ReadFlag(*object, "browseStuck", faults.browseStuck) &&
                  ReadFlag(*object, "statusOverflows", faults.statusOverflows) &&
                  ReadFlag(*object, "sinkBadPointer", faults.sinkBadPointer) &&
                  ReadFlag(*object, "timerThrows", faults.timerThrows) &&
                  ReadFlag(*object, "browseElementsMissing", faults.browseElementsMissing) &&
                  ReadFlag(*object, "browseElementsFails", faults.browseElementsFails) &&
                  ReadCount(*object, "browsePageSize", faults.browsePageSize) &&
                  ReadCount(*object, "callDelayMs", faults.callDelayMs) &&
                  ReadFlag(*object, "hang", faults.hang) &&
                  ReadCount(*object, "hangAfterCalls", faults.hangAfterCalls) &&
                  ReadCount(*object, "exitAfterCalls", faults.exitAfterCalls) &&
                  ReadFlag(*object, "unloadWaitsForThread", faults.unloadWaitsForThread);
  if (!ok || (mode != u"state" && mode != u"error") || state < 1 || state > 6)
    return error = u"bad fault switch", false;
  faults.statusReportsState = mode == u"state";
  faults.statusState = static_cast<OPCSERVERSTATE>(static_cast<int>(state));
  return true;
}

bool ReadTextFile(const std::filesystem::path& path, std::u16string& text) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  size_t i = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  text.clear();
  text.reserve(bytes.size());
  while (i < bytes.size()) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    const int extra = b < 0x80         ? 0
                      : (b >> 5) == 6  ? 1
                      : (b >> 4) == 14 ? 2
                      : (b >> 3) == 30 ? 3
                                       : -1;
    if (extra < 0 || i + static_cast<size_t>(extra) >= bytes.size() + (extra == 0 ? 1 : 0)) {
      text += u'\uFFFD';
      ++i;
      continue;
    }
    char32_t cp = extra == 0 ? b : (b & (0x3F >> extra));
    for (int k = 1; k <= extra; ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(bytes[i + k]) & 0x3F);
    i += static_cast<size_t>(extra) + 1;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      text += static_cast<char16_t>(0xD800 + (cp >> 10));
      text += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      text += static_cast<char16_t>(cp);
    }
  }
  return true;
}

}  // namespace opcsim
