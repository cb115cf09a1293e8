#pragma once
// The publishing tool's command line and where a command's outcome goes: the words checked
// against the forms of the commands, and lines for a person or one JSON document for a script.

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "launcher/feed/json_document.h"
#include "tools/publish/signing/signed_feed.h"

namespace launcher::publish {

// What each command takes: how many words of its own, which options with a value (those
// marked with * may be given more than once), which of them it needs, and which options stand
// alone.
struct Form {
  const wchar_t* name;
  std::size_t subjects;
  std::vector<std::wstring> options;
  std::vector<std::wstring> required;
  std::vector<std::wstring> flags;
};

struct Arguments {
  std::wstring command;  // empty when the words make no command
  std::wstring problem;  // then what is wrong with them, for the person who typed them
  std::vector<std::wstring> subjects;
  std::map<std::wstring, std::vector<std::wstring>> options;
  std::vector<std::wstring> flags;

  bool Has(const std::wstring& flag) const {
    return std::find(flags.begin(), flags.end(), flag) != flags.end();
  }

  const std::wstring& Subject() const { return subjects.front(); }
  std::wstring Option(const std::wstring& name) const {
    const auto found = options.find(name);
    return found == options.end() ? std::wstring() : found->second.back();
  }
  std::vector<std::wstring> All(const std::wstring& name) const {
    const auto found = options.find(name);
    return found == options.end() ? std::vector<std::wstring>() : found->second;
  }
};

// The words as one of `forms`: an empty command, and the problem, when they make none.
Arguments Parse(const std::vector<std::wstring>& words, const std::vector<Form>& forms);

void Print(std::FILE* stream, const std::wstring& line);

// Where a command's outcome goes: lines for a person, or with --json one JSON document for a
// script, written once the command has ended either way.
struct Outcome {
  bool json = false;
  JsonDocument document;

  void Line(const std::wstring& line) const;
};

// The keys of --key and the days of --expires. Throws Failure for a key file that isn't one and
// a number of days out of range.
Signing SigningOf(const Arguments& arguments);

}  // namespace launcher::publish
