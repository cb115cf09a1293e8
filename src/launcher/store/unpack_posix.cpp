// POSIX implementation of Unpack: tar from the PATH, started with an argument vector and no shell.

#include "launcher/store/unpack.h"

#include "launcher/platform/run_program.h"
#include "launcher/text/failure.h"

namespace launcher {

void Unpack(const std::filesystem::path& archive, const std::filesystem::path& folder) {
  const std::optional<int> exitCode =
      RunToEnd("tar", {"-xf", archive.native(), "-C", folder.native()});
  if (!exitCode) throw Failure{L"The release couldn't be unpacked: the system's tar is missing"};
  if (*exitCode != 0) throw Failure{L"The release couldn't be unpacked"};
}

FedProgram StartUnpacking(const std::filesystem::path& folder, bool gzip) {
  // Records of 64 KiB rather than tar's 10 KiB: tar reads the pipe and writes its files in pieces
  // six times larger, with that many fewer system calls.
  std::vector<ProgramWord> words = {"-b", "128", "-xf", "-", "-C", folder.native()};
  if (gzip) words.insert(words.begin(), "-z");
  return FedProgram("tar", words);
}

}  // namespace launcher
