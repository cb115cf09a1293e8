// The Linux entry point: arguments arrive split; they are UTF-8 whatever the locale.

#include <string>
#include <vector>

#include "launcher/shell/startup.h"
#include "launcher/text/text.h"

int main(int argc, char** argv) {
  std::vector<std::wstring> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(launcher::Widen(argv[i]));
  return launcher::RunLauncher(arguments);
}
