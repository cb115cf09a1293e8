#include "launcher/text/log.h"

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>

#include "launcher/platform/file_writer.h"
#include "launcher/text/format.h"
#include "launcher/text/read_file.h"
#include "launcher/text/text.h"

namespace launcher {

namespace {

std::mutex g_lock;
std::optional<FileWriter> g_file;

// The newer half of a log that grew too long, from the first whole line on, in a new file. Only
// a plain file is read: a link at the name is no log of ours.
void KeepNewerHalf(const std::filesystem::path& file) {
  std::error_code error;
  const auto status = std::filesystem::symlink_status(file, error);
  if (error || !std::filesystem::is_regular_file(status) ||
      std::filesystem::file_size(file, error) <= kLogLimit || error) {
    return;
  }
  const std::string text = ReadWholeFile(file);
  const std::size_t start = text.find('\n', text.size() - kLogLimit / 2);
  FileWriter out;
  if (out.Open(file, FileWriter::Start::Empty, error) && start != std::string::npos) {
    static_cast<void>(out.Write(text.data() + start + 1, text.size() - start - 1, error));
  }
  static_cast<void>(out.Close(error));
}

std::string Now() {
  using namespace std::chrono;
  const auto now = floor<milliseconds>(system_clock::now());
  const auto days = floor<std::chrono::days>(now);
  const year_month_day date(days);
  const hh_mm_ss clock(now - days);
  return Narrow(Format(L"{:04d}-{:02d}-{:02d} {:02d}:{:02d}:{:02d}.{:03d}",
                       static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                       static_cast<unsigned>(date.day()), clock.hours().count(),
                       clock.minutes().count(), static_cast<long long>(clock.seconds().count()),
                       static_cast<long long>(clock.subseconds().count())));
}

}  // namespace

void OpenLog(const std::filesystem::path& file) {
  const std::lock_guard guard(g_lock);
  KeepNewerHalf(file);
  g_file.emplace();
  std::error_code error;
  if (g_file->Open(file, FileWriter::Start::AtEnd, error)) return;
  // Whatever else stands at the name (a link, say) makes way for a new log.
  if (!g_file->Open(file, FileWriter::Start::Empty, error)) g_file.reset();
}

void LogLine(std::wstring_view text) {
  const std::string line = Now() + "  " + Narrow(text) + "\n";
  const std::lock_guard guard(g_lock);
  if (!g_file) return;
  // Written at once, unbuffered: a run that dies still leaves what it did.
  std::error_code error;
  static_cast<void>(g_file->Write(line.data(), line.size(), error));
}

void CloseLog() {
  const std::lock_guard guard(g_lock);
  g_file.reset();
}

}  // namespace launcher
