// Win32 implementation of RunToEnd, FedProgram and TappedProgram: CreateProcessW with a command
// line quoted word by word, the program in a job that ends it with the launcher, then a wait
// without a time limit.

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

// Starts the program with `input` and `output` (each unless null) as its standard input and
// output; nothing when it couldn't be started.
std::optional<Child> Start(const std::filesystem::path& program,
                           const std::vector<ProgramWord>& arguments, HANDLE input,
                           HANDLE output = nullptr) {
  // Each word quoted by the rules the program's own argument splitting inverts: a folder given
  // with a trailing backslash must not escape the quote that ends it.
  std::wstring commandLine = QuoteArgument(program.native());
  for (const auto& argument : arguments) commandLine += L' ' + QuoteArgument(argument);
  std::vector<HANDLE> inherited;
  for (HANDLE handle : {input, output}) {
    if (handle != nullptr) inherited.push_back(handle);
  }
  STARTUPINFOEXW startup = {};
  startup.StartupInfo.cb = inherited.empty() ? sizeof startup.StartupInfo : sizeof startup;
  DWORD flags = CREATE_NO_WINDOW | CREATE_SUSPENDED;
  // With an input or an output, those handles are all the program inherits.
  std::vector<unsigned char> attributes;
  if (!inherited.empty()) {
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = input;
    startup.StartupInfo.hStdOutput = output;
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    attributes.resize(size);
    startup.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
    if (!InitializeProcThreadAttributeList(startup.lpAttributeList, 1, 0, &size)) {
      return std::nullopt;
    }
    if (!UpdateProcThreadAttribute(startup.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                   inherited.data(), inherited.size() * sizeof(HANDLE), nullptr,
                                   nullptr)) {
      DeleteProcThreadAttributeList(startup.lpAttributeList);
      return std::nullopt;
    }
    flags |= EXTENDED_STARTUPINFO_PRESENT;
  }
  PROCESS_INFORMATION process = {};
  // The program is named as well as quoted at the line's head, so no search can pick another;
  // CreateProcessW may write to the line. Suspended until it is in the job below.
  const BOOL started =
      CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, !inherited.empty(),
                     flags, nullptr, nullptr, &startup.StartupInfo, &process);
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

struct PipedChild {
  std::optional<Child> child;
  KernelHandle pipe;  // the launcher's end
  std::optional<int> exitCode;

  // Closes the launcher's end and waits for the program's end, once.
  int Finish() {
    pipe.Reset();
    if (!exitCode) exitCode = child ? WaitFor(*child) : -1;
    return *exitCode;
  }
};

FedProgram::FedProgram(const std::filesystem::path& program,
                       const std::vector<ProgramWord>& arguments,
                       const std::filesystem::path& output)
    : state_(std::make_unique<PipedChild>()) {
  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
  FileHandle outputFile;
  if (!output.empty()) {
    outputFile =
        FileHandle(CreateFileW(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                               &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!outputFile) return;
  }
  HANDLE reader = nullptr;
  HANDLE writer = nullptr;
  if (!CreatePipe(&reader, &writer, &inheritable, static_cast<DWORD>(kPipeBytes))) return;
  const KernelHandle readEnd(reader);
  state_->pipe = KernelHandle(writer);
  // Only the program's end is inherited; the launcher's end stays its own.
  SetHandleInformation(writer, HANDLE_FLAG_INHERIT, 0);
  state_->child = Start(program, arguments, reader, output.empty() ? nullptr : outputFile.Get());
  if (!state_->child) state_->pipe.Reset();
}

FedProgram::~FedProgram() {
  if (state_) state_->Finish();
}

FedProgram::FedProgram(FedProgram&&) noexcept = default;
FedProgram& FedProgram::operator=(FedProgram&&) noexcept = default;

bool FedProgram::Feed(const void* bytes, std::size_t count) {
  if (!state_ || !state_->pipe) return false;
  const auto* at = static_cast<const unsigned char*>(bytes);
  while (count > 0) {
    DWORD written = 0;
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(count, 1 << 20));
    // A program that has ended makes this fail (ERROR_NO_DATA, ERROR_BROKEN_PIPE).
    if (!WriteFile(state_->pipe.Get(), at, piece, &written, nullptr) || written == 0) {
      state_->pipe.Reset();
      return false;
    }
    at += written;
    count -= written;
  }
  return true;
}

bool FedProgram::Started() const {
  return state_ && state_->child.has_value();
}

int FedProgram::Finish() {
  return state_ ? state_->Finish() : -1;
}

TappedProgram::TappedProgram(const std::filesystem::path& program,
                             const std::vector<ProgramWord>& arguments)
    : state_(std::make_unique<PipedChild>()) {
  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
  HANDLE reader = nullptr;
  HANDLE writer = nullptr;
  if (!CreatePipe(&reader, &writer, &inheritable, static_cast<DWORD>(kPipeBytes))) return;
  state_->pipe = KernelHandle(reader);
  const KernelHandle writeEnd(writer);
  // Only the program's end is inherited, and the launcher's copy of it closes on return: the
  // output ends when the program does.
  SetHandleInformation(reader, HANDLE_FLAG_INHERIT, 0);
  state_->child = Start(program, arguments, nullptr, writer);
  if (!state_->child) state_->pipe.Reset();
}

TappedProgram::~TappedProgram() {
  if (state_) state_->Finish();
}

TappedProgram::TappedProgram(TappedProgram&&) noexcept = default;
TappedProgram& TappedProgram::operator=(TappedProgram&&) noexcept = default;

std::size_t TappedProgram::Read(void* bytes, std::size_t count) {
  if (!state_ || !state_->pipe) return 0;
  DWORD got = 0;
  const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(count, 1 << 20));
  // The program's end closing makes this fail (ERROR_BROKEN_PIPE): the output has ended.
  if (!ReadFile(state_->pipe.Get(), bytes, piece, &got, nullptr) || got == 0) {
    state_->pipe.Reset();
    return 0;
  }
  return got;
}

int TappedProgram::Finish() {
  return state_ ? state_->Finish() : -1;
}

}  // namespace launcher
