#include "launcher/platform/command_line_words.h"

namespace launcher {

std::wstring QuoteArgument(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    return argument;
  }
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes only escape when a quote follows them: double them there, and escape the quote.
    quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    quoted += c;
    backslashes = 0;
  }
  // The closing quote must not be escaped by trailing backslashes.
  quoted.append(2 * backslashes, L'\\');
  quoted += L'"';
  return quoted;
}

std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine) {
  std::vector<std::wstring> arguments;
  const size_t size = commandLine.size();
  size_t at = 0;
  if (size == 0) return arguments;

  // The program name: no escapes, and a quote only delimits it.
  std::wstring program;
  if (commandLine[0] == L'"') {
    const size_t close = commandLine.find(L'"', 1);
    program = commandLine.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
    at = close == std::wstring::npos ? size : close + 1;
  } else {
    while (at < size && commandLine[at] != L' ' && commandLine[at] != L'\t')
      program += commandLine[at++];
  }
  arguments.push_back(std::move(program));

  for (;;) {
    while (at < size && (commandLine[at] == L' ' || commandLine[at] == L'\t')) ++at;
    if (at >= size) break;
    std::wstring argument;
    bool quoted = false;
    while (at < size) {
      const wchar_t c = commandLine[at];
      if (!quoted && (c == L' ' || c == L'\t')) break;
      if (c == L'\\') {
        size_t backslashes = 0;
        while (at < size && commandLine[at] == L'\\') ++backslashes, ++at;
        if (at < size && commandLine[at] == L'"') {
          argument.append(backslashes / 2, L'\\');
          if (backslashes % 2 == 1) {
            argument += L'"';
            ++at;
          }
        } else {
          argument.append(backslashes, L'\\');
        }
        continue;
      }
      if (c == L'"') {
        // Inside quotes, a doubled quote stands for one quote and also ends the quoted part.
        if (quoted && at + 1 < size && commandLine[at + 1] == L'"') {
          argument += L'"';
          ++at;
        }
        quoted = !quoted;
        ++at;
        continue;
      }
      argument += c;
      ++at;
    }
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

}  // namespace launcher
