// The Linux entry point: arguments arrive split; they are UTF-8 whatever the locale.

#include <malloc.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "launcher/shell/startup.h"
#include "launcher/text/text.h"

int main(int argc, char** argv) {
  // Whatever the player's umask: what the launcher and its tar make is readable by all and
  // written by the player alone (0644, 0755 for folders and executables).
  ::umask(022);
  // Blocks of a megabyte or more come from the system and go back to it as soon as they are
  // freed. glibc would raise that threshold to the size of the first such block freed, and keep
  // later ones: a large manifest's memory would then stay taken for the rest of the run.
  ::mallopt(M_MMAP_THRESHOLD, 1 << 20);
  std::vector<std::wstring> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(launcher::Widen(argv[i]));
  return launcher::RunLauncher(arguments);
}
