#include "launcher/feed/json.h"

#include <gtest/gtest.h>

#include <optional>

#include "launcher/text/failure.h"

namespace launcher {
namespace {

const std::wstring kNotARelease =
    L"The update server answered with something that isn't a release.";

struct Case {
  std::string text;
  std::optional<JsonObject> expected;  // nullopt: the reader's one failure
};

void Check(const Case& c) {
  SCOPED_TRACE(::testing::PrintToString(c.text));
  if (c.expected) {
    EXPECT_EQ(ParseObject(c.text), *c.expected);
    return;
  }
  try {
    ParseObject(c.text);
    ADD_FAILURE() << "parsed";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.message, kNotARelease);
  }
}

TEST(ParseObject, ReadsFlatObjects) {
  const Case cases[] = {
      {"{}", JsonObject{}},
      {" \t\r\n\v\f{ \n }", JsonObject{}},
      {"\xEF\xBB\xBF  {}", JsonObject{}},
      {"{} trailing words are ignored", JsonObject{}},
      {"{\"a\":\"x\",\"a\":\"y\"}", JsonObject{{"a", "y"}}},
      {"{\"n\": 7   , \"b\":true}", JsonObject{{"n", "7"}, {"b", "true"}}},
      {"{\"v\":null}", JsonObject{{"v", "null"}}},
      {"{\"v\":-1.5e3}", JsonObject{{"v", "-1.5e3"}}},
      {"{\"v\":,\"w\":}", JsonObject{{"v", ""}, {"w", ""}}},
      // A nested empty object is cut at its own closing brace, which then closes the outer one.
      {"{\"v\":{}}", JsonObject{{"v", "{"}}},
      {"{\"v\":\"raw\nline\"}", JsonObject{{"v", "raw\nline"}}},
      {"{\"k\xC3\xA9y\":\"\xFF\"}", JsonObject{{"k\xC3\xA9y", "\xFF"}}},
      {"{\"\":\"empty key\"}", JsonObject{{"", "empty key"}}},
      {"{\"feed\":\"https://example.test/x.json\",\"size\":\"12\"}",
       JsonObject{{"feed", "https://example.test/x.json"}, {"size", "12"}}},
  };
  for (const auto& c : cases) Check(c);
}

TEST(ParseObject, DecodesEscapes) {
  const Case cases[] = {
      {R"({"e":"\b\f\n\r\t"})", JsonObject{{"e", "\b\f\n\r\t"}}},
      {R"({"e":"\"\\\/\x"})", JsonObject{{"e", "\"\\/x"}}},
      {R"({"e":"\u00e9"})", JsonObject{{"e", "\xC3\xA9"}}},
      {R"({"e":"\u00E9"})", JsonObject{{"e", "\xC3\xA9"}}},
      {R"({"e":"\u0041xy"})", JsonObject{{"e", "Axy"}}},
      {R"({"e":"\u2026"})", JsonObject{{"e", "\xE2\x80\xA6"}}},
      // The four characters are read like strtoul in base 16 and always consumed.
      {R"({"e":"\u12G4"})", JsonObject{{"e", "\x12"}}},
      {R"({"e":"\u 41x"})", JsonObject{{"e", "A"}}},
      {R"({"e":"\u0x41"})", JsonObject{{"e", "A"}}},
      {R"({"e":"\u-1zz"})", JsonObject{{"e", "\xEF\xBF\xBF"}}},  // -1 keeps its low 16 bits
      {R"({"e":"\u0000"})", JsonObject{{"e", std::string(1, '\0')}}},
      // Each escape stands alone: the halves of a surrogate pair each become U+FFFD.
      {R"({"e":"\ud83d\ude00"})", JsonObject{{"e", "\xEF\xBF\xBD\xEF\xBF\xBD"}}},
  };
  for (const auto& c : cases) Check(c);
}

TEST(ParseObject, RefusesEverythingElseWithOneMessage) {
  const Case cases[] = {
      {"", std::nullopt},
      {" \n\t ", std::nullopt},
      {"{", std::nullopt},
      {"[1]", std::nullopt},
      {"x{}", std::nullopt},
      {" \xEF\xBB\xBF{}", std::nullopt},  // a byte order mark counts only at the first byte
      {"\xEF\xBB", std::nullopt},
      {"{a:1}", std::nullopt},
      {"{\"a\" 1}", std::nullopt},
      {"{\"a\":1 \"b\":2}", std::nullopt},
      {"{\"a\":1,}", std::nullopt},
      {"{\"a\":[1,2]}", std::nullopt},
      {"{\"a\":1", std::nullopt},
      {"{\"a\":\"open", std::nullopt},
      {"{\"a\":\"x\\", std::nullopt},
      {"{\"a\":\"\\u12", std::nullopt},
      {"{\"a\":\"\\u12\"}", std::nullopt},  // the quote is one of the four: then the text ends
      {"{\"a\":\"\\uzzzz\"}", std::nullopt},
      {"{\"a\":\"\\u-+zz\"}", std::nullopt},
      {"{\"a", std::nullopt},
  };
  for (const auto& c : cases) Check(c);
}

TEST(JsonObject, LookingUpAMissingKeyGivesEmptyText) {
  JsonObject object = ParseObject("{\"present\":\"yes\"}");
  EXPECT_EQ(object["absent"], "");
  EXPECT_EQ(object["present"], "yes");
}

}  // namespace
}  // namespace launcher
