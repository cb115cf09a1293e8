#pragma once
// One JSON object written member by member: what `--json` gives scripts and CI, in place of the
// lines a person reads (the publisher's reports, the launcher's check summary).

#include <cstdint>
#include <string>
#include <vector>

#include "launcher/feed/json.h"
#include "launcher/text/text.h"

namespace launcher {

class JsonDocument {
 public:
  JsonDocument& Raw(const char* key, const std::string& json) {
    text_ += (text_.size() > 1 ? ", " : "") + JsonString(Widen(key)) + ": " + json;
    return *this;
  }
  JsonDocument& Text(const char* key, const std::wstring& value) {
    return Raw(key, JsonString(value));
  }
  JsonDocument& Number(const char* key, std::uint64_t value) {
    return Raw(key, std::to_string(value));
  }
  JsonDocument& Bool(const char* key, bool value) { return Raw(key, value ? "true" : "false"); }
  JsonDocument& Texts(const char* key, const std::vector<std::wstring>& values) {
    std::vector<std::string> quoted;
    for (const std::wstring& value : values) quoted.push_back(JsonString(value));
    return Raw(key, Array(quoted));
  }

  std::string Close() const { return text_ + "}"; }

  static std::string Array(const std::vector<std::string>& jsons) {
    std::string array = "[";
    for (const std::string& json : jsons) array += (array.size() > 1 ? ", " : "") + json;
    return array + "]";
  }

 private:
  std::string text_ = "{";
};

}  // namespace launcher
