#include "tools/publish/commands/arguments.h"

#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/numbers.h"
#include "launcher/text/text.h"
#include "tools/publish/signing/signing.h"

namespace launcher::publish {

namespace {

Arguments Refused(std::wstring problem) {
  Arguments refused;
  refused.problem = std::move(problem);
  return refused;
}

}  // namespace

Arguments Parse(const std::vector<std::wstring>& words, const std::vector<Form>& forms) {
  if (words.size() < 2) return {};
  const Form* form = nullptr;
  for (const Form& candidate : forms) {
    if (words[1] == candidate.name) form = &candidate;
  }
  if (form == nullptr) return Refused(Format(L"\"{}\" is no command", words[1]));
  Arguments arguments;
  arguments.command = words[1];
  for (std::size_t i = 2; i < words.size(); ++i) {
    const std::wstring& word = words[i];
    if (!word.starts_with(L"--")) {
      arguments.subjects.push_back(word);
      continue;
    }
    if (word == L"--json" ||
        std::find(form->flags.begin(), form->flags.end(), word) != form->flags.end()) {
      arguments.flags.push_back(word);
      continue;
    }
    const auto option = std::find_if(
        form->options.begin(), form->options.end(),
        [&](const std::wstring& known) { return known == word || known == word + L"*"; });
    if (option == form->options.end()) {
      return Refused(Format(L"{} takes no {}", arguments.command, word));
    }
    if (i + 1 >= words.size()) return Refused(Format(L"{} needs a value", word));
    auto& values = arguments.options[word];
    if (!values.empty() && !option->ends_with(L"*")) {
      return Refused(Format(L"{} is given twice", word));
    }
    values.push_back(words[++i]);
  }
  if (arguments.subjects.size() != form->subjects) {
    return Refused(form->subjects == 0
                       ? Format(L"{} takes only options, not \"{}\"", arguments.command,
                                arguments.subjects.front())
                       : Format(L"{} takes {} word{} before its options, not {}", arguments.command,
                                form->subjects, form->subjects == 1 ? L"" : L"s",
                                arguments.subjects.size()));
  }
  for (const std::wstring& needed : form->required) {
    if (arguments.Option(needed).empty()) {
      return Refused(Format(L"{} needs {}", arguments.command, needed));
    }
  }
  return arguments;
}

void Print(std::FILE* stream, const std::wstring& line) {
  std::fputs((Narrow(line) + "\n").c_str(), stream);
}

void Outcome::Line(const std::wstring& line) const {
  if (!json) Print(stdout, line);
}

Signing SigningOf(const Arguments& arguments) {
  Signing signing;
  for (const std::wstring& file : arguments.All(L"--key")) {
    signing.keys.push_back(ReadPrivateKey(PathFromWide(file)));
  }
  const std::wstring days = arguments.Option(L"--expires");
  if (!days.empty()) {
    const auto number = ReadUnsigned(std::wstring_view(days), 36500, Minus::Refused);
    if (!number || *number == 0) {
      throw Failure{Format(L"--expires takes a number of days from 1 to 36500, not \"{}\"", days)};
    }
    signing.validDays = static_cast<int>(*number);
  }
  return signing;
}

}  // namespace launcher::publish
