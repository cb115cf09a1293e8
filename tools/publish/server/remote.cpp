#include "tools/publish/server/remote.h"

#include <algorithm>
#include <limits>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <system_error>

#include "launcher/feed/server_layout.h"
#include "launcher/platform/run_program.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/numbers.h"
#include "launcher/text/text.h"
#include "tools/publish/server/server_changes.h"

namespace launcher::publish {

namespace {

constexpr double kMebibyte = 1048576.0;
// rclone's exit code for a folder that isn't there (yet).
constexpr int kDirectoryNotFound = 3;

using Sizes = std::map<std::wstring, std::uint64_t>;

ProgramWord Word(const std::wstring& text) {
  return PathFromWide(text).native();
}

void RunRclone(const std::vector<std::wstring>& words, const std::wstring& what) {
  // Only errors: rclone's notices (a remote given on the command line has no config file to
  // save to) would read like problems.
  std::vector<ProgramWord> arguments{Word(L"--log-level"), Word(L"ERROR")};
  for (const std::wstring& word : words) arguments.push_back(Word(word));
  const std::optional<int> code = RunToEnd(RcloneProgram(), arguments);
  if (!code) {
    throw Failure{
        L"rclone couldn't be started: install it (on Debian: apt-get install rclone), or name "
        L"it with QUELLORN_RCLONE"};
  }
  if (*code != 0) {
    throw Failure{Format(L"rclone failed {} (exit code {}); its message is above", what, *code)};
  }
}

// What the remote holds, by name, with each file's size; nothing when its folder isn't there yet.
Sizes RemoteFiles(const std::wstring& remote) {
  TappedProgram lister(RcloneProgram(),
                       {Word(L"lsf"), Word(L"-R"), Word(L"--files-only"), Word(L"--format"),
                        Word(L"sp"), Word(L"--separator"), Word(L"\t"), Word(remote)});
  std::string text;
  char buffer[65536];
  while (const std::size_t got = lister.Read(buffer, sizeof buffer)) text.append(buffer, got);
  const int code = lister.Finish();
  if (code == kDirectoryNotFound) return {};
  if (code != 0) {
    throw Failure{
        Format(L"rclone couldn't list {} (exit code {}); its message is above", remote, code)};
  }
  Sizes sizes;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    const auto size = ReadUnsigned(std::string_view(line).substr(0, tab),
                                   std::numeric_limits<std::uint64_t>::max(), Minus::Refused);
    if (size) sizes[Widen(line.substr(tab + 1))] = *size;
  }
  return sizes;
}

struct ServedFile {
  std::wstring name;  // "/" between folders
  std::uint64_t size = 0;
  layout::Served served = layout::Served::Content;
};

// Every file of the folder that is served, by layout::ServedAs.
std::vector<ServedFile> ServedFiles(const std::filesystem::path& server) {
  std::vector<ServedFile> files;
  std::error_code error;
  std::filesystem::recursive_directory_iterator entry(server, error);
  if (error) {
    throw Failure{Format(L"The server folder {} can't be read", WideFromPath(server))};
  }
  for (; entry != std::filesystem::recursive_directory_iterator(); entry.increment(error)) {
    if (error) throw Failure{Format(L"The server folder {} can't be read", WideFromPath(server))};
    const std::wstring name =
        WideFromPath(entry->path().lexically_relative(server).generic_wstring());
    const std::optional<layout::Served> served = layout::ServedAs(name);
    if (!served) {
      if (entry->is_directory(error)) entry.disable_recursion_pending();
      continue;
    }
    if (!entry->is_regular_file(error)) continue;
    files.push_back({name, entry->file_size(error), *served});
  }
  return files;
}

// A list of names for rclone's --files-from-raw, beside the folder's files but served nowhere,
// gone when the upload ends either way.
class NameList {
 public:
  NameList(const std::filesystem::path& server, const std::vector<std::wstring>& names)
      : file_(server / PathFromWide(Format(L".upload-{:016x}.txt", Random()))) {
    std::string text;
    for (const std::wstring& name : names) text += Narrow(name) + "\n";
    ServerChanges changes;
    changes.Write(file_, text);
    changes.Commit();
  }
  ~NameList() {
    std::error_code ignored;
    std::filesystem::remove(file_, ignored);
  }
  NameList(const NameList&) = delete;
  NameList& operator=(const NameList&) = delete;

  std::wstring Path() const { return WideFromPath(file_); }

 private:
  static std::uint64_t Random() {
    std::random_device random;
    return (std::uint64_t{random()} << 32) | random();
  }

  std::filesystem::path file_;
};

// Every one of `files` must be on the remote with its size.
void RequireArrived(const std::vector<ServedFile>& files, const std::wstring& remote,
                    const wchar_t* consequence) {
  const Sizes there = RemoteFiles(remote);
  for (const ServedFile& file : files) {
    const auto found = there.find(file.name);
    if (found == there.end() || found->second != file.size) {
      throw Failure{Format(L"{} didn't arrive whole on {}: {}. Run the upload again", file.name,
                           remote, consequence)};
    }
  }
}

}  // namespace

UploadOutcome Upload(const std::filesystem::path& server, const std::wstring& remote,
                     const PublishProgress& progress) {
  const auto report = [&](const std::wstring& line) {
    if (progress) progress(line);
  };
  std::vector<ServedFile> content;
  std::vector<ServedFile> documents;
  for (ServedFile& file : ServedFiles(server)) {
    (file.served == layout::Served::Content ? content : documents).push_back(std::move(file));
  }
  UploadOutcome outcome;
  const Sizes there = RemoteFiles(remote);
  std::vector<std::wstring> toSend;
  for (const ServedFile& file : content) {
    const auto found = there.find(file.name);
    if (found != there.end() && found->second == file.size) {
      ++outcome.contentThere;
      continue;
    }
    toSend.push_back(file.name);
    outcome.bytesSent += file.size;
  }
  outcome.contentSent = toSend.size();
  if (!toSend.empty()) {
    report(Format(L"Uploading {} files of content, {:.1f} MiB, to {}\u2026", toSend.size(),
                  outcome.bytesSent / kMebibyte, remote));
    const NameList list(server, toSend);
    RunRclone({L"copy", WideFromPath(server), remote, L"--files-from-raw", list.Path(),
               L"--no-traverse", L"--size-only", L"--header-upload", Widen(kContentCaching)},
              L"uploading the content");
  }
  RequireArrived(content, remote, L"nothing that names it was uploaded");
  // Kind by kind, each after those it names; within a kind one at a time, by name, so that a
  // document and its signature follow each other closely. Always sent: a new feed may have the
  // old one's size, and even its time.
  for (const layout::Served kind : {layout::Served::InstallerDocument, layout::Served::Root,
                                    layout::Served::Feed, layout::Served::Timestamp}) {
    std::vector<std::wstring> names;
    for (const ServedFile& document : documents) {
      if (document.served == kind) names.push_back(document.name);
    }
    if (names.empty()) continue;
    report(Format(L"Uploading {}\u2026", names.front()));
    const NameList list(server, names);
    RunRclone({L"copy", WideFromPath(server), remote, L"--files-from-raw", list.Path(),
               L"--no-traverse", L"--ignore-times", L"--check-first", L"--order-by", L"name",
               L"--transfers", L"1", L"--header-upload", Widen(kDocumentCaching)},
              L"uploading " + names.front());
    outcome.documentsSent += names.size();
  }
  RequireArrived(documents, remote, L"the remote may name what it lacks");
  return outcome;
}

void RemoveFromRemote(const std::wstring& remote, const std::vector<std::wstring>& names) {
  if (names.empty()) return;
  const NameList list(std::filesystem::temp_directory_path(), names);
  RunRclone({L"delete", remote, L"--files-from-raw", list.Path()}, L"removing files");
}

}  // namespace launcher::publish
