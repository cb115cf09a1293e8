// POSIX implementation of RunToEnd: fork and exec, with the child bound to the launcher's life,
// then waitpid.

#include "launcher/platform/run_program.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "launcher/platform/file_descriptor.h"

extern char** environ;

namespace launcher {

namespace {

// The program's file: a name with a "/" as it is, else the first executable of that name on the
// PATH. Empty when there is none.
std::string Resolve(const std::string& program) {
  if (program.find('/') != std::string::npos) return program;
  const char* path = std::getenv("PATH");
  std::string folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  for (std::size_t start = 0; start <= folders.size();) {
    std::size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    const std::string folder = end > start ? folders.substr(start, end - start) : ".";
    const std::string candidate = folder + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return {};
}

}  // namespace

std::optional<int> RunToEnd(const std::filesystem::path& program,
                            const std::vector<ProgramWord>& arguments) {
  const std::string file = Resolve(program.native());
  if (file.empty()) return std::nullopt;
  std::vector<std::string> words{program.native()};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  // The child reports a failed exec through this pipe; a successful one closes it unread.
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return std::nullopt;
  FileDescriptor reader(ends[0]);
  FileDescriptor writer(ends[1]);
  const pid_t parent = ::getpid();
  const pid_t child = ::fork();
  if (child < 0) return std::nullopt;
  if (child == 0) {
    // Only async-signal-safe calls from here on. A launcher killed mid-unpack takes tar with it,
    // so no orphan goes on writing into a staging folder the next run uses.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);  // the launcher died before the line above
    // Nothing of the launcher's but the standard streams and the exec report goes along.
    ::close_range(3, static_cast<unsigned>(writer.Get()) - 1, 0);
    ::close_range(static_cast<unsigned>(writer.Get()) + 1, ~0u, 0);
    ::execve(file.c_str(), argv.data(), environ);
    const int failure = errno;
    [[maybe_unused]] const ssize_t ignored = ::write(writer.Get(), &failure, sizeof failure);
    ::_exit(127);
  }
  writer.Reset();
  int failure = 0;
  ssize_t got = 0;
  do {
    got = ::read(reader.Get(), &failure, sizeof failure);
  } while (got < 0 && errno == EINTR);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (got == sizeof failure) return std::nullopt;  // never started
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace launcher
