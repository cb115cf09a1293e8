// Win32 implementation of RunToEnd: CreateProcessW with a command line quoted word by word, then
// a wait without a time limit.

#include "launcher/platform/run_program.h"

#include <string>

#include "launcher/platform/command_line_words.h"
#include "launcher/platform/handles_win32.h"

namespace launcher {

std::optional<int> RunToEnd(const std::filesystem::path& program,
                            const std::vector<ProgramWord>& arguments) {
  // Each word quoted by the rules the program's own argument splitting inverts: a folder given
  // with a trailing backslash must not escape the quote that ends it.
  std::wstring commandLine = QuoteArgument(program.native());
  for (const auto& argument : arguments) commandLine += L' ' + QuoteArgument(argument);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  // The program is named as well as quoted at the line's head, so no search can pick another;
  // CreateProcessW may write to the line. Suspended until it is in the job below.
  if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                      CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr, nullptr, &startup, &process)) {
    return std::nullopt;
  }
  const KernelHandle thread(process.hThread);
  const KernelHandle child(process.hProcess);
  // A job that ends its processes when its last handle closes: a launcher killed mid-unpack takes
  // tar with it, so no orphan goes on writing into a staging folder the next run uses. Where the
  // system won't put the program into a job, it runs without one.
  const KernelHandle job(CreateJobObjectW(nullptr, nullptr));
  if (job) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits,
                                sizeof limits)) {
      AssignProcessToJobObject(job.Get(), child.Get());
    }
  }
  ResumeThread(thread.Get());
  WaitForSingleObject(child.Get(), INFINITE);
  DWORD exitCode = 1;  // a code that can't be read counts as a failure
  GetExitCodeProcess(child.Get(), &exitCode);
  return static_cast<int>(exitCode);
}

}  // namespace launcher
