// Win32 implementation of RunToEnd and FedProgram: CreateProcessW with a command line quoted word
// by word, the program in a job that ends it with the launcher, then a wait without a time limit.

#include "launcher/platform/run_program.h"

#include <algorithm>
#include <string>
#include <vector>

#include "launcher/platform/command_line_words.h"
#include "launcher/platform/handles_win32.h"

namespace launcher {

namespace {

struct Child {
  KernelHandle process;
  KernelHandle job;  // closing it ends the program
};

// Starts the program with `input` (unless null) as its standard input; nothing when it couldn't
// be started.
std::optional<Child> Start(const std::filesystem::path& program,
                           const std::vector<ProgramWord>& arguments, HANDLE input) {
  // Each word quoted by the rules the program's own argument splitting inverts: a folder given
  // with a trailing backslash must not escape the quote that ends it.
  std::wstring commandLine = QuoteArgument(program.native());
  for (const auto& argument : arguments) commandLine += L' ' + QuoteArgument(argument);
  STARTUPINFOEXW startup = {};
  startup.StartupInfo.cb = input != nullptr ? sizeof startup : sizeof startup.StartupInfo;
  DWORD flags = CREATE_NO_WINDOW | CREATE_SUSPENDED;
  // With an input, that one handle is all the program inherits.
  std::vector<unsigned char> attributes;
  if (input != nullptr) {
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = input;
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    attributes.resize(size);
    startup.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
    if (!InitializeProcThreadAttributeList(startup.lpAttributeList, 1, 0, &size)) {
      return std::nullopt;
    }
    if (!UpdateProcThreadAttribute(startup.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                   &input, sizeof input, nullptr, nullptr)) {
      DeleteProcThreadAttributeList(startup.lpAttributeList);
      return std::nullopt;
    }
    flags |= EXTENDED_STARTUPINFO_PRESENT;
  }
  PROCESS_INFORMATION process = {};
  // The program is named as well as quoted at the line's head, so no search can pick another;
  // CreateProcessW may write to the line. Suspended until it is in the job below.
  const BOOL started =
      CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, input != nullptr, flags,
                     nullptr, nullptr, &startup.StartupInfo, &process);
  if (startup.lpAttributeList != nullptr) DeleteProcThreadAttributeList(startup.lpAttributeList);
  if (!started) return std::nullopt;
  const KernelHandle thread(process.hThread);
  Child child{KernelHandle(process.hProcess), KernelHandle(CreateJobObjectW(nullptr, nullptr))};
  // A job that ends its processes when its last handle closes: a launcher killed mid-unpack takes
  // tar with it, so no orphan goes on writing into a staging folder the next run uses. Where the
  // system won't put the program into a job, it runs without one.
  if (child.job) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (SetInformationJobObject(child.job.Get(), JobObjectExtendedLimitInformation, &limits,
                                sizeof limits)) {
      AssignProcessToJobObject(child.job.Get(), child.process.Get());
    }
  }
  ResumeThread(thread.Get());
  return child;
}

int WaitFor(const Child& child) {
  WaitForSingleObject(child.process.Get(), INFINITE);
  DWORD exitCode = 1;  // a code that can't be read counts as a failure
  GetExitCodeProcess(child.process.Get(), &exitCode);
  return static_cast<int>(exitCode);
}

}  // namespace

std::optional<int> RunToEnd(const std::filesystem::path& program,
                            const std::vector<ProgramWord>& arguments) {
  const std::optional<Child> child = Start(program, arguments, nullptr);
  if (!child) return std::nullopt;
  return WaitFor(*child);
}

struct FedProgram::State {
  std::optional<Child> child;
  KernelHandle input;  // the pipe's end the launcher writes
  std::optional<int> exitCode;
};

FedProgram::FedProgram(const std::filesystem::path& program,
                       const std::vector<ProgramWord>& arguments)
    : state_(std::make_unique<State>()) {
  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
  HANDLE reader = nullptr;
  HANDLE writer = nullptr;
  if (!CreatePipe(&reader, &writer, &inheritable, 1 << 20)) return;
  const KernelHandle readEnd(reader);
  state_->input = KernelHandle(writer);
  // Only the program's end is inherited; the launcher's end stays its own.
  SetHandleInformation(writer, HANDLE_FLAG_INHERIT, 0);
  state_->child = Start(program, arguments, reader);
  if (!state_->child) state_->input.Reset();
}

FedProgram::~FedProgram() {
  if (state_) Finish();
}

FedProgram::FedProgram(FedProgram&&) noexcept = default;
FedProgram& FedProgram::operator=(FedProgram&&) noexcept = default;

bool FedProgram::Feed(const void* bytes, std::size_t count) {
  if (!state_ || !state_->input) return false;
  const auto* at = static_cast<const unsigned char*>(bytes);
  while (count > 0) {
    DWORD written = 0;
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(count, 1 << 20));
    // A program that has ended makes this fail (ERROR_NO_DATA, ERROR_BROKEN_PIPE).
    if (!WriteFile(state_->input.Get(), at, piece, &written, nullptr) || written == 0) {
      state_->input.Reset();
      return false;
    }
    at += written;
    count -= written;
  }
  return true;
}

int FedProgram::Finish() {
  if (!state_) return -1;
  state_->input.Reset();
  if (!state_->exitCode) state_->exitCode = state_->child ? WaitFor(*state_->child) : -1;
  return *state_->exitCode;
}

}  // namespace launcher
