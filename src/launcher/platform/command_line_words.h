#pragma once
// Windows command lines, word by word: quoting one argument so that the program's argument
// splitting gives it back unchanged, and that splitting itself. Pure logic, built on both
// platforms; Linux uses the splitting to start a program from a Windows-style line.

#include <string>
#include <vector>

namespace launcher {

// One argument quoted so that CommandLineToArgvW gives it back unchanged; quotes only when needed.
std::wstring QuoteArgument(const std::wstring& argument);

// Splits a command line by CommandLineToArgvW's rules (the inverse of joining QuoteArgument
// results with spaces): the first argument is the program name, taken up to the next quote when
// it begins with one and never unescaped.
std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine);

}  // namespace launcher
