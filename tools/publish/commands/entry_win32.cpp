// The publishing tool's Windows entry: wide arguments as the system split them.

#include "tools/publish/commands/publish_command.h"

int wmain(int argc, wchar_t** argv) {
  return launcher::publish::RunPublish(std::vector<std::wstring>(argv, argv + argc));
}
