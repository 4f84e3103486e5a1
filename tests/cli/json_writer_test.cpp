#include "json_writer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <sstream>
#include <string>

namespace varnok {
namespace {

using Layout = JsonWriter::Layout;

TEST(JsonWriter, WritesValuesAsTheReportLaysThemOut) {
  const auto nested = [](JsonWriter& json) {
    json.BeginObject();
    json.Key("inline").BeginArray(Layout::kInline).Number(1).BeginObject(Layout::kInline).Key("a").Null();
    json.Key("b").Bool(false).EndObject().EndArray();
    json.Key("lines").BeginArray().String("x").BeginObject().Key("k").Number(2).EndObject().EndArray();
    json.Key("empty_lines").BeginObject().EndObject();
    json.Key("empty_listing").BeginArray(Layout::kListing).EndArray();
    json.Key("listing").BeginArray(Layout::kListing).String("r").String("s").EndArray();
    json.EndObject();
  };
  const struct {
    const char* name;
    bool pretty;
    std::function<void(JsonWriter&)> write;
    std::string expected;
  } cases[] = {
      {"layouts, pretty", true, nested,
       "{\n  \"inline\": [1, {\"a\": null, \"b\": false}],\n  \"lines\": [\n    \"x\",\n    {\n      \"k\": 2\n    }\n"
       "  ],\n  \"empty_lines\": {},\n  \"empty_listing\": [\n  ],\n  \"listing\": [\n    \"r\",\n    \"s\"\n  ]\n}"},
      {"layouts, compact", false, nested,
       "{\"inline\":[1,{\"a\":null,\"b\":false}],\"lines\":[\"x\",{\"k\":2}],\"empty_lines\":{},\"empty_listing\":[],"
       "\"listing\":[\"r\",\"s\"]}"},
      // Quote, backslash and control characters escaped; DEL and UTF-8 as they are.
      {"escapes", false, [](JsonWriter& json) { json.String(std::string("\"\\\b\f\n\r\t\x01\x1F\x7F \xC3\xA9\0z", 15)); },
       "\"\\\"\\\\\\b\\f\\n\\r\\t\\u0001\\u001f\x7F \xC3\xA9\\u0000z\""},
      {"Latin-1", false, [](JsonWriter& json) { json.Latin1String("\xE9\x80\xFF\\a"); },
       "\"\xC3\xA9\xC2\x80\xC3\xBF\\\\a\""},
      {"escaped key", false, [](JsonWriter& json) { json.BeginObject().Key("a\"\n").Number(0).EndObject(); },
       "{\"a\\\"\\n\":0}"},
      {"numbers", false,
       [](JsonWriter& json) {
         json.BeginArray().Number(std::numeric_limits<std::int64_t>::min());
         json.Number(std::numeric_limits<std::uint64_t>::max()).Number(std::uint32_t{4294967295u}).Number(-1);
         json.EndArray();
       },
       "[-9223372036854775808,18446744073709551615,4294967295,-1]"},
  };
  for (const auto& c : cases) {
    std::ostringstream out;
    JsonWriter json(out, c.pretty);
    c.write(json);
    EXPECT_EQ(out.str(), c.expected) << c.name;
  }
}

}  // namespace
}  // namespace varnok
