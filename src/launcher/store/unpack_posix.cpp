// POSIX implementation of StartUnpacking: tar from the PATH, started with an argument vector and
// no shell.

#include "launcher/store/unpack.h"

namespace launcher {

FedProgram StartUnpacking(const std::filesystem::path& folder) {
  // Records of 64 KiB rather than tar's 10 KiB: tar reads the pipe and writes its files in pieces
  // six times larger, with that many fewer system calls. Never the archive's owners nor its
  // permission bits, whoever runs the launcher: the modes come from the launcher's umask.
  return FedProgram("tar", {"-b", "128", "-x", "--no-same-owner", "--no-same-permissions", "-f",
                            "-", "-C", folder.native()});
}

std::wstring TarMissing() {
  return L"The release couldn't be unpacked: the system's tar is missing";
}

}  // namespace launcher
