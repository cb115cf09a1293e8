// The publishing tool's Linux entry: arguments are UTF-8 whatever the locale.

#include "launcher/text/text.h"
#include "tools/publish/commands/publish_command.h"

int main(int argc, char** argv) {
  std::vector<std::wstring> words;
  for (int i = 0; i < argc; ++i) words.push_back(launcher::Widen(argv[i]));
  return launcher::publish::RunPublish(words);
}
