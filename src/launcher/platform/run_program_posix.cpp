// POSIX implementation of RunToEnd, FedProgram and TappedProgram: fork and exec, with the child
// bound to the launcher's life, then waitpid.

#include "launcher/platform/run_program.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
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

// Starts the program with `input` and `output` (each unless -1) as its standard input and
// output; nothing when it couldn't be started (a child that failed its exec has been waited for).
std::optional<pid_t> Spawn(const std::filesystem::path& program,
                           const std::vector<ProgramWord>& arguments, int input, int output = -1) {
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
    if (input >= 0 && ::dup2(input, 0) < 0) ::_exit(127);
    if (output >= 0 && ::dup2(output, 1) < 0) ::_exit(127);
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
  if (got == sizeof failure) {  // never started
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    return std::nullopt;
  }
  return child;
}

// The child's exit code, -1 when it didn't exit normally.
int WaitFor(pid_t child) {
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A pipe of kPipeBytes. The size is only asked for: the system may refuse it, and the pipe then
// works as before, only in smaller steps.
bool MakePipe(int (&ends)[2]) {
  if (::pipe2(ends, O_CLOEXEC) != 0) return false;
  ::fcntl(ends[1], F_SETPIPE_SZ, static_cast<int>(kPipeBytes));
  return true;
}

}  // namespace

std::optional<int> RunToEnd(const std::filesystem::path& program,
                            const std::vector<ProgramWord>& arguments) {
  const std::optional<pid_t> child = Spawn(program, arguments, -1);
  if (!child) return std::nullopt;
  return WaitFor(*child);
}

struct PipedChild {
  pid_t child = -1;
  FileDescriptor pipe;  // the launcher's end
  std::optional<int> exitCode;

  // Closes the launcher's end and waits for the program's end, once.
  int Finish() {
    pipe.Reset();
    if (!exitCode) exitCode = child > 0 ? WaitFor(child) : -1;
    return *exitCode;
  }
};

FedProgram::FedProgram(const std::filesystem::path& program,
                       const std::vector<ProgramWord>& arguments,
                       const std::filesystem::path& output)
    : state_(std::make_unique<PipedChild>()) {
  FileDescriptor outputFile;
  if (!output.empty()) {
    outputFile = FileDescriptor(
        ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (!outputFile) return;
  }
  int ends[2];
  if (!MakePipe(ends)) return;
  const FileDescriptor reader(ends[0]);
  state_->pipe = FileDescriptor(ends[1]);
  const std::optional<pid_t> child = Spawn(program, arguments, reader.Get(), outputFile.Get());
  if (child) {
    state_->child = *child;
  } else {
    state_->pipe.Reset();
  }
}

FedProgram::~FedProgram() {
  if (state_) state_->Finish();
}

FedProgram::FedProgram(FedProgram&&) noexcept = default;
FedProgram& FedProgram::operator=(FedProgram&&) noexcept = default;

bool FedProgram::Feed(const void* bytes, std::size_t count) {
  if (!state_ || !state_->pipe) return false;
  // Writing to a program that has ended raises SIGPIPE, which would end the launcher: it is held
  // back on this thread for the write, and taken away again when it came.
  sigset_t pipeSignal;
  sigset_t previous;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
  const auto* at = static_cast<const char*>(bytes);
  bool fed = true;
  while (count > 0) {
    const ssize_t written = ::write(state_->pipe.Get(), at, count);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (errno == EPIPE) {
        const timespec now{};
        sigtimedwait(&pipeSignal, nullptr, &now);
      }
      fed = false;
      break;
    }
    at += written;
    count -= static_cast<std::size_t>(written);
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (!fed) state_->pipe.Reset();
  return fed;
}

int FedProgram::Finish() {
  return state_ ? state_->Finish() : -1;
}

bool FedProgram::Started() const {
  return state_ && state_->child > 0;
}

TappedProgram::TappedProgram(const std::filesystem::path& program,
                             const std::vector<ProgramWord>& arguments)
    : state_(std::make_unique<PipedChild>()) {
  int ends[2];
  if (!MakePipe(ends)) return;
  state_->pipe = FileDescriptor(ends[0]);
  const FileDescriptor writer(ends[1]);
  const std::optional<pid_t> child = Spawn(program, arguments, -1, writer.Get());
  if (child) {
    state_->child = *child;
  } else {
    state_->pipe.Reset();
  }
}

TappedProgram::~TappedProgram() {
  if (state_) state_->Finish();
}

TappedProgram::TappedProgram(TappedProgram&&) noexcept = default;
TappedProgram& TappedProgram::operator=(TappedProgram&&) noexcept = default;

std::size_t TappedProgram::Read(void* bytes, std::size_t count) {
  if (!state_ || !state_->pipe) return 0;
  ssize_t got = 0;
  do {
    got = ::read(state_->pipe.Get(), bytes, count);
  } while (got < 0 && errno == EINTR);
  if (got > 0) return static_cast<std::size_t>(got);
  state_->pipe.Reset();
  return 0;
}

int TappedProgram::Finish() {
  return state_ ? state_->Finish() : -1;
}

}  // namespace launcher
