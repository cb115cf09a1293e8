#pragma once
// The reader for the launcher's two JSON documents, launcher.json and the update feed: one flat
// object whose values are strings or bare tokens, every value kept as UTF-8 text. The callers
// look keys up and convert values themselves. Pure logic; touches nothing outside its input.

#include <map>
#include <string>

namespace launcher {

// Keys in byte-wise order, each at most once. operator[] on a key that isn't there gives empty
// text, so callers treat a missing key and an empty value alike.
using JsonObject = std::map<std::string, std::string>;

// Throws Failure("The update server answered with something that isn't a release.") for every
// text that isn't such an object; a leading UTF-8 byte order mark is dropped.
JsonObject ParseObject(std::string text);

// `text` as a JSON string, quotes included: UTF-8, with '"', '\\' and control characters escaped.
std::string JsonString(const std::wstring& text);

}  // namespace launcher
