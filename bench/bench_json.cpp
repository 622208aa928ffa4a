// JSON documents side by side with nlohmann::json and RapidJSON on the same texts: a typical
// request line, a 1,000-tag getValues answer as the router builds it, and generating that answer.
// The system works on UTF-16 text; the two libraries get the same JSON in UTF-8, their native
// form.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <string>
#include <vector>

#include "JSON.h"

namespace {

std::string ToUtf8(const std::u16string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    std::uint32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size()) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::u16string Ascii(const std::string& s) {
  return std::u16string(s.begin(), s.end());
}

// A tag's wire identifier: 32 lower-case hexadecimal digits.
std::string HashName(int i) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%08x%08x%08x%08x", i * 2654435761u, i * 40503u + 7u,
                i * 2246822519u, i * 3266489917u + 1u);
  return buf;
}

// Value texts as OPC servers give them: numbers in the regional format, Booleans, words.
std::u16string ValueText(int i) {
  switch (i % 4) {
    case 0:
      return Ascii(std::to_string(i * 37 % 10007) + "," + std::to_string(i % 100));
    case 1:
      return Ascii(std::to_string(-i));
    case 2:
      return i % 8 == 2 ? u"True" : u"False";
    default: {
      std::u16string word = u"\u0420\u0430\u0431\u043E\u0442\u0430 ";
      return word.append(Ascii(std::to_string(i)));
    }
  }
}

const char16_t* const kServer = u"{6E6170F0-FF2D-11D2-8087-00105AA8F840}";

// The answer exactly as the router builds it.
std::unique_ptr<TqvJSONobject> BuildAnswer(int tags) {
  auto answer = TqvJSONobject::Generate(true);
  answer->Add(u"cmd", u"getValues");
  answer->Add(u"OPCServerID", kServer);
  answer->Add(u"TransID", 4711);
  auto names = TqvJSONlist::Generate();
  auto values = TqvJSONlist::Generate();
  auto qualities = TqvJSONlist::Generate();
  for (int i = 0; i < tags; ++i) {
    names->Add(Ascii(HashName(i)));
    values->Add(ValueText(i));
    qualities->Add(i % 50 == 0 ? u"0" : u"1");
  }
  answer->Add(u"tagNames", std::move(names));
  answer->Add(u"values", std::move(values));
  answer->Add(u"qualities", std::move(qualities));
  return answer;
}

nlohmann::json BuildAnswerNlohmann(int tags) {
  nlohmann::json answer = nlohmann::json::object();
  answer["cmd"] = "getValues";
  answer["OPCServerID"] = ToUtf8(kServer);
  answer["TransID"] = 4711;
  nlohmann::json names = nlohmann::json::array();
  nlohmann::json values = nlohmann::json::array();
  nlohmann::json qualities = nlohmann::json::array();
  for (int i = 0; i < tags; ++i) {
    names.push_back(HashName(i));
    values.push_back(ToUtf8(ValueText(i)));
    qualities.push_back(i % 50 == 0 ? "0" : "1");
  }
  answer["tagNames"] = std::move(names);
  answer["values"] = std::move(values);
  answer["qualities"] = std::move(qualities);
  return answer;
}

void BuildAnswerRapid(rapidjson::Document& d, int tags) {
  auto& a = d.GetAllocator();
  d.SetObject();
  d.AddMember("cmd", "getValues", a);
  d.AddMember("OPCServerID", rapidjson::Value(ToUtf8(kServer).c_str(), a), a);
  d.AddMember("TransID", 4711, a);
  rapidjson::Value names(rapidjson::kArrayType), values(rapidjson::kArrayType),
      qualities(rapidjson::kArrayType);
  for (int i = 0; i < tags; ++i) {
    names.PushBack(rapidjson::Value(HashName(i).c_str(), a), a);
    values.PushBack(rapidjson::Value(ToUtf8(ValueText(i)).c_str(), a), a);
    qualities.PushBack(rapidjson::Value(i % 50 == 0 ? "0" : "1", a), a);
  }
  d.AddMember("tagNames", names, a);
  d.AddMember("values", values, a);
  d.AddMember("qualities", qualities, a);
}

// A typical request line: getValues for ten tags.
std::u16string RequestLine() {
  std::u16string s = u"{\"cmd\":\"getValues\",\"OPCServerID\":\"";
  s += kServer;
  s += u"\",\"TransID\":1234,\"tagNames\":[";
  for (int i = 0; i < 10; ++i) {
    if (i > 0) s += u",";
    s += u'"';
    s += Ascii(HashName(i));
    s += u'"';
  }
  s += u"]}";
  return s;
}

const std::u16string& RequestText16() {
  static const std::u16string t = RequestLine();
  return t;
}
const std::string& RequestText8() {
  static const std::string t = ToUtf8(RequestText16());
  return t;
}
const std::u16string& AnswerText16() {
  static const std::u16string t = TqvJSON::GenerateText(BuildAnswer(1000).get());
  return t;
}
const std::string& AnswerText8() {
  static const std::string t = ToUtf8(AnswerText16());
  return t;
}

// ---- parse

// Throughput is counted in bytes of the UTF-8 form for all three, so the figures compare.
void ParseTqv(benchmark::State& state, const std::u16string& text, const std::string& utf8) {
  for (auto _ : state) {
    TqvJSONptr doc = TqvJSON::ParseText(text);
    if (!doc) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(doc.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * utf8.size()));
}

void ParseNlohmann(benchmark::State& state, const std::string& text) {
  for (auto _ : state) {
    nlohmann::json doc = nlohmann::json::parse(text);
    benchmark::DoNotOptimize(doc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void ParseRapid(benchmark::State& state, const std::string& text) {
  for (auto _ : state) {
    rapidjson::Document doc;
    doc.Parse(text.c_str(), text.size());
    if (doc.HasParseError()) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(doc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_ParseRequest_Tagrelay(benchmark::State& s) {
  ParseTqv(s, RequestText16(), RequestText8());
}
void BM_ParseRequest_Nlohmann(benchmark::State& s) {
  ParseNlohmann(s, RequestText8());
}
void BM_ParseRequest_RapidJSON(benchmark::State& s) {
  ParseRapid(s, RequestText8());
}
void BM_ParseAnswer1000_Tagrelay(benchmark::State& s) {
  ParseTqv(s, AnswerText16(), AnswerText8());
}
void BM_ParseAnswer1000_Nlohmann(benchmark::State& s) {
  ParseNlohmann(s, AnswerText8());
}
void BM_ParseAnswer1000_RapidJSON(benchmark::State& s) {
  ParseRapid(s, AnswerText8());
}

// ---- generate a prebuilt answer

void BM_GenerateAnswer1000_Tagrelay(benchmark::State& state) {
  const auto doc = BuildAnswer(1000);
  if (TqvJSON::GenerateText(doc.get()) != AnswerText16()) state.SkipWithError("text differs");
  for (auto _ : state) {
    std::u16string text = TqvJSON::GenerateText(doc.get());
    benchmark::DoNotOptimize(text.data());
  }
}

void BM_GenerateAnswer1000_Nlohmann(benchmark::State& state) {
  const nlohmann::json doc = BuildAnswerNlohmann(1000);
  for (auto _ : state) {
    std::string text = doc.dump();
    benchmark::DoNotOptimize(text.data());
  }
}

void BM_GenerateAnswer1000_RapidJSON(benchmark::State& state) {
  rapidjson::Document doc;
  BuildAnswerRapid(doc, 1000);
  for (auto _ : state) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    doc.Accept(writer);
    benchmark::DoNotOptimize(buffer.GetString());
  }
}

// ---- what the router does per answer: build the document, then generate it

void BM_BuildAndGenerateAnswer1000_Tagrelay(benchmark::State& state) {
  for (auto _ : state) {
    std::u16string text = TqvJSON::GenerateText(BuildAnswer(1000).get());
    benchmark::DoNotOptimize(text.data());
  }
}

void BM_BuildAndGenerateAnswer1000_Nlohmann(benchmark::State& state) {
  for (auto _ : state) {
    std::string text = BuildAnswerNlohmann(1000).dump();
    benchmark::DoNotOptimize(text.data());
  }
}

void BM_BuildAndGenerateAnswer1000_RapidJSON(benchmark::State& state) {
  for (auto _ : state) {
    rapidjson::Document doc;
    BuildAnswerRapid(doc, 1000);
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    doc.Accept(writer);
    benchmark::DoNotOptimize(buffer.GetString());
  }
}

}  // namespace

BENCHMARK(BM_ParseRequest_Tagrelay);
BENCHMARK(BM_ParseRequest_Nlohmann);
BENCHMARK(BM_ParseRequest_RapidJSON);
BENCHMARK(BM_ParseAnswer1000_Tagrelay);
BENCHMARK(BM_ParseAnswer1000_Nlohmann);
BENCHMARK(BM_ParseAnswer1000_RapidJSON);
BENCHMARK(BM_GenerateAnswer1000_Tagrelay);
BENCHMARK(BM_GenerateAnswer1000_Nlohmann);
BENCHMARK(BM_GenerateAnswer1000_RapidJSON);
BENCHMARK(BM_BuildAndGenerateAnswer1000_Tagrelay);
BENCHMARK(BM_BuildAndGenerateAnswer1000_Nlohmann);
BENCHMARK(BM_BuildAndGenerateAnswer1000_RapidJSON);

BENCHMARK_MAIN();
