#include "tools/publish/publish_command.h"

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "launcher/platform/terminal.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/text.h"
#include "tools/publish/publish.h"
#include "tools/publish/verify.h"

namespace launcher::publish {
namespace {

constexpr char kUsage[] =
    "usage: quellorn-publish release BUILD_FOLDER --version V --server SERVER_FOLDER\n"
    "       quellorn-publish launcher INSTALLER --version V --server SERVER_FOLDER\n"
    "       quellorn-publish verify SERVER_FOLDER_OR_FEED_URL\n";

void Print(std::FILE* stream, const std::wstring& line) {
  std::fputs((Narrow(line) + "\n").c_str(), stream);
}

// A progress line redrawn in place, only for a person watching.
PublishProgress TerminalProgress() {
  if (!IsTerminal(stderr)) return {};
  return [](const std::wstring& line) {
    std::fputs(("\r\x1b[K" + Narrow(line)).c_str(), stderr);
    std::fflush(stderr);
  };
}

void EndProgress(const PublishProgress& progress) {
  if (progress) std::fputs("\r\x1b[K", stderr);
}

struct Arguments {
  std::wstring command;
  std::wstring subject;
  std::wstring version;
  std::wstring server;
};

// Empty command when the words don't make one of the three forms.
Arguments Parse(const std::vector<std::wstring>& words) {
  Arguments arguments;
  if (words.size() < 3) return {};
  arguments.command = words[1];
  arguments.subject = words[2];
  for (std::size_t i = 3; i < words.size(); ++i) {
    if (i + 1 < words.size() && words[i] == L"--version") {
      arguments.version = words[++i];
    } else if (i + 1 < words.size() && words[i] == L"--server") {
      arguments.server = words[++i];
    } else {
      return {};
    }
  }
  const bool publishes = arguments.command == L"release" || arguments.command == L"launcher";
  if (publishes && (arguments.version.empty() || arguments.server.empty())) return {};
  if (arguments.command == L"verify" && words.size() != 3) return {};
  if (!publishes && arguments.command != L"verify") return {};
  return arguments;
}

int RunRelease(const Arguments& arguments) {
  const PublishProgress progress = TerminalProgress();
  ReleaseSummary summary;
  try {
    summary = PublishRelease(PathFromWide(arguments.subject), arguments.version,
                             PathFromWide(arguments.server), MakeArchive, progress);
  } catch (...) {
    EndProgress(progress);
    throw;
  }
  EndProgress(progress);
  Print(stdout, Format(L"Published Quellorn {}: {} files, {:.1f} MB", arguments.version,
                       summary.files, summary.bytes / 1048576.0));
  Print(stdout, Format(L"  {} ({} bytes), {}", summary.feed.release.file, summary.feed.release.size,
                       summary.feed.files));
  Print(stdout, Format(L"  blobs: {} new, {} already there; {:.1f} MB written",
                       summary.blobsWritten, summary.blobsKept, summary.bytesWritten / 1048576.0));
  return 0;
}

int RunLauncher(const Arguments& arguments) {
  const Release launcher = PublishLauncher(PathFromWide(arguments.subject), arguments.version,
                                           PathFromWide(arguments.server));
  Print(stdout, Format(L"Published launcher {}: {} ({} bytes)", launcher.version, launcher.file,
                       launcher.size));
  return 0;
}

int RunVerify(const Arguments& arguments) {
  const Verdict verdict = Verify(arguments.subject);
  for (const auto& problem : verdict.problems) Print(stdout, problem);
  if (!verdict.problems.empty()) {
    Print(stdout,
          Format(L"{} problems; {} files are whole", verdict.problems.size(), verdict.checked));
    return 1;
  }
  Print(stdout,
        Format(L"All is well: release {}, {} files whole", verdict.version, verdict.checked));
  return 0;
}

}  // namespace

int RunPublish(const std::vector<std::wstring>& words) {
  const Arguments arguments = Parse(words);
  if (arguments.command.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  try {
    if (arguments.command == L"release") return RunRelease(arguments);
    if (arguments.command == L"launcher") return RunLauncher(arguments);
    return RunVerify(arguments);
  } catch (const Failure& failure) {
    Print(stderr, L"quellorn-publish: " + failure.message);
  } catch (const std::exception& failure) {
    Print(stderr, L"quellorn-publish: " + Widen(failure.what()));
  }
  return 1;
}

}  // namespace launcher::publish
