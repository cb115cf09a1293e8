#include "launcher/store/version_record.h"

#include <charconv>
#include <string_view>
#include <system_error>

#include "launcher/platform/durable_replace.h"
#include "launcher/platform/file_writer.h"
#include "launcher/text/read_file.h"
#include "launcher/text/safe_join.h"
#include "launcher/text/text.h"

namespace launcher {

namespace {

// The first line; a record of another layout is not read at all.
constexpr std::string_view kHeader = "quellorn version record 1\n";

// One line per file: digest, size, time, volume, index and path, separated by tabs.
void AppendLine(std::string& out, const Listed& entry, const FileStamp& stamp) {
  out += entry.sha256.Text();
  for (const std::uint64_t number :
       {entry.size, static_cast<std::uint64_t>(stamp.modified), stamp.volume, stamp.index}) {
    out += '\t';
    out += std::to_string(number);
  }
  out += '\t';
  out += entry.path;
  out += '\n';
}

bool ReadNumber(std::string_view& rest, std::uint64_t& number) {
  const std::size_t tab = rest.find('\t');
  if (tab == std::string_view::npos) return false;
  const char* end = rest.data() + tab;
  const auto [at, error] = std::from_chars(rest.data(), end, number);
  rest.remove_prefix(tab + 1);
  return error == std::errc{} && at == end;
}

bool ReadLine(std::string_view line, RecordedFile& file) {
  if (line.size() < 65 || line[64] != '\t') return false;
  const auto digest = Digest::FromHex(line.substr(0, 64));
  if (!digest) return false;
  file.listed.sha256 = *digest;
  std::string_view rest = line.substr(65);
  std::uint64_t modified = 0;
  if (!ReadNumber(rest, file.listed.size) || !ReadNumber(rest, modified) ||
      !ReadNumber(rest, file.stamp.volume) || !ReadNumber(rest, file.stamp.index)) {
    return false;
  }
  file.stamp.size = file.listed.size;
  file.stamp.modified = static_cast<std::int64_t>(modified);
  file.listed.path = std::string(rest);
  return !file.listed.path.empty();
}

}  // namespace

std::filesystem::path PlaceOf(const std::filesystem::path& folder, const std::string& path) {
  return folder / std::filesystem::path(std::u8string(path.begin(), path.end()));
}

std::filesystem::path RecordOf(const std::filesystem::path& root, const std::wstring& version) {
  return root / PathFromWide(version + L".record");
}

bool WriteRecord(const std::filesystem::path& record, const std::filesystem::path& folder,
                 const std::vector<Listed>& listed, const std::vector<KeptFile>& kept) {
  std::filesystem::path temporary = record;
  temporary += ".tmp";
  std::error_code error;
  FileWriter out;
  bool written = out.Open(temporary, FileWriter::Start::Empty, error);
  // Written in blocks: a hundred thousand files' lines are never all held at once.
  std::string block(kHeader);
  const auto flush = [&] {
    written = written && out.Write(block.data(), block.size(), error);
    block.clear();
  };
  auto next = kept.begin();
  for (std::size_t i = 0; i < listed.size(); ++i) {
    const Listed& entry = listed[i];
    while (next != kept.end() && next->index < i) ++next;
    const bool linked = next != kept.end() && next->index == i && next->linked;
    const std::optional<FileStamp> stamp =
        linked ? next->trusted : StampOf(SafeJoin(folder, Widen(entry.path)), true);
    if (!stamp || stamp->size != entry.size) {
      written = false;
      break;
    }
    AppendLine(block, entry, *stamp);
    if (block.size() >= 65536) flush();
  }
  flush();
  written = written && out.Flush(error);
  written = out.Close(error) && written && MoveDurably(temporary, record);
  if (!written) std::filesystem::remove(temporary, error);
  return written;
}

std::vector<RecordedFile> ReadRecord(const std::filesystem::path& record) {
  const std::string text = ReadWholeFile(record);
  if (!text.starts_with(kHeader) || !text.ends_with('\n')) return {};
  std::vector<RecordedFile> files;
  std::string_view rest = std::string_view(text).substr(kHeader.size());
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    RecordedFile file;
    if (!ReadLine(rest.substr(0, end), file)) return {};
    files.push_back(std::move(file));
    rest.remove_prefix(end + 1);
  }
  return files;
}

}  // namespace launcher
