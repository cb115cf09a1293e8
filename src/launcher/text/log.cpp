#include "launcher/text/log.h"

#include <chrono>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>

#include "launcher/text/format.h"
#include "launcher/text/read_file.h"
#include "launcher/text/text.h"

namespace launcher {

namespace {

std::mutex g_lock;
std::optional<std::ofstream> g_file;

// The newer half of a log that grew too long, from the first whole line on.
void KeepNewerHalf(const std::filesystem::path& file) {
  std::error_code error;
  if (std::filesystem::file_size(file, error) <= kLogLimit || error) return;
  const std::string text = ReadWholeFile(file);
  std::size_t start = text.size() - kLogLimit / 2;
  start = text.find('\n', start);
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (start != std::string::npos) out << text.substr(start + 1);
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
  g_file.emplace(file, std::ios::binary | std::ios::app);
  if (!g_file->is_open()) g_file.reset();
}

void LogLine(std::wstring_view text) {
  const std::string line = Now() + "  " + Narrow(text) + "\n";
  const std::lock_guard guard(g_lock);
  if (!g_file) return;
  // Flushed at once: a run that dies still leaves what it did.
  *g_file << line << std::flush;
}

void CloseLog() {
  const std::lock_guard guard(g_lock);
  g_file.reset();
}

}  // namespace launcher
