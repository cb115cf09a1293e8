#include "launcher/store/version_record.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iterator>
#include <set>
#include <string_view>
#include <system_error>

#include "launcher/platform/durable_replace.h"
#include "launcher/platform/file_writer.h"
#include "launcher/text/read_file.h"
#include "launcher/text/safe_join.h"
#include "launcher/text/text.h"

namespace launcher {

namespace {

// The first line; a record of another layout is not read at all. Older launchers wrote the first
// layout, which has no folders.
constexpr std::string_view kHeader = "quellorn version record 2\n";
constexpr std::string_view kFirstHeader = "quellorn version record 1\n";
constexpr std::string_view kFolders = "folders ";
// A start reads this much of a record at first: the folders of all but the largest versions.
constexpr std::size_t kHeadRead = 65536;

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

// A chunk of the file above: "TAB digest TAB size".
void AppendChunk(std::string& out, const Chunk& chunk) {
  out += '\t';
  out += chunk.sha256.Text();
  out += '\t';
  out += std::to_string(chunk.size);
  out += '\n';
}

bool ReadChunk(std::string_view line, RecordedFile& file) {
  if (line.size() < 67 || line[0] != '\t' || line[65] != '\t') return false;
  const auto digest = Digest::FromHex(line.substr(1, 64));
  std::uint64_t size = 0;
  const char* end = line.data() + line.size();
  const auto [at, error] = std::from_chars(line.data() + 66, end, size);
  if (!digest || error != std::errc{} || at != end || size == 0) return false;
  const std::uint64_t offset =
      file.chunks.empty() ? 0 : file.chunks.back().offset + file.chunks.back().size;
  if (size > file.listed.size - offset) return false;
  file.chunks.push_back({*digest, offset, size});
  return true;
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

// The folders that hold the listed files, the version's own ("") first, each once. Gathered as a
// set: a hundred thousand files may lie in a hundred folders.
std::vector<std::string> FoldersOf(const std::vector<Listed>& listed) {
  std::set<std::string_view> folders = {""};
  for (const Listed& entry : listed) {
    const std::string_view path = entry.path;
    for (std::size_t slash = path.find('/'); slash != std::string_view::npos;
         slash = path.find('/', slash + 1)) {
      folders.insert(path.substr(0, slash));
    }
  }
  return {folders.begin(), folders.end()};
}

// "folders <bytes>" and a line "<time> TAB <path>" per folder; nothing in it when one can't be
// stamped, which only costs the starts a look at every file.
std::string FolderSection(const std::filesystem::path& folder, const std::vector<Listed>& listed) {
  std::string lines;
  for (const std::string& path : FoldersOf(listed)) {
    const std::optional<std::int64_t> stamp = FolderStampOf(PlaceOf(folder, path));
    if (!stamp) {
      lines.clear();
      break;
    }
    lines += std::to_string(*stamp);
    lines += '\t';
    lines += path;
    lines += '\n';
  }
  return std::string(kFolders) + std::to_string(lines.size()) + "\n" + lines;
}

// The folder section of a record's text that begins with it, and the rest after it; nothing when
// it isn't one.
std::optional<std::pair<std::string_view, std::string_view>> SplitFolders(std::string_view text) {
  if (!text.starts_with(kFolders)) return std::nullopt;
  const std::size_t lineEnd = text.find('\n');
  if (lineEnd == std::string_view::npos) return std::nullopt;
  std::uint64_t size = 0;
  const char* end = text.data() + lineEnd;
  const auto [at, error] = std::from_chars(text.data() + kFolders.size(), end, size);
  if (error != std::errc{} || at != end || size > text.size() - lineEnd - 1) return std::nullopt;
  return std::pair(text.substr(lineEnd + 1, static_cast<std::size_t>(size)),
                   text.substr(lineEnd + 1 + static_cast<std::size_t>(size)));
}

}  // namespace

std::filesystem::path PlaceOf(const std::filesystem::path& folder, const std::string& path) {
  return folder / std::filesystem::path(std::u8string(path.begin(), path.end()));
}

std::filesystem::path RecordOf(const std::filesystem::path& root, const std::wstring& version) {
  return root / PathFromWide(version + L".record");
}

bool WriteRecord(const std::filesystem::path& record, const std::filesystem::path& folder,
                 const std::vector<Listed>& listed, const std::vector<KeptFile>& kept,
                 const std::vector<ChunkedFile>& chunks) {
  std::filesystem::path temporary = record;
  temporary += ".tmp";
  std::error_code error;
  FileWriter out;
  bool written = out.Open(temporary, FileWriter::Start::Empty, error);
  // Written in blocks: a hundred thousand files' lines are never all held at once.
  std::string block = std::string(kHeader) + FolderSection(folder, listed);
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
    if (const ChunkedFile* chunked = chunks.empty() ? nullptr : FindChunked(chunks, entry)) {
      for (const Chunk& chunk : chunked->chunks) AppendChunk(block, chunk);
    }
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
  if (!text.ends_with('\n')) return {};
  std::string_view rest = text;
  if (rest.starts_with(kHeader)) {
    const auto split = SplitFolders(rest.substr(kHeader.size()));
    if (!split) return {};
    rest = split->second;
  } else if (rest.starts_with(kFirstHeader)) {
    rest.remove_prefix(kFirstHeader.size());
  } else {
    return {};
  }
  std::vector<RecordedFile> files;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end + 1);
    if (line.starts_with('\t')) {
      if (files.empty() || !ReadChunk(line, files.back())) return {};
      continue;
    }
    RecordedFile file;
    if (!ReadLine(line, file)) return {};
    files.push_back(std::move(file));
  }
  // Chunks that don't make up their file are not the index's: the file is cut again.
  for (RecordedFile& file : files) {
    const std::uint64_t covered =
        file.chunks.empty() ? 0 : file.chunks.back().offset + file.chunks.back().size;
    if (covered != file.listed.size) file.chunks.clear();
  }
  return files;
}

bool FoldersUnchanged(const std::filesystem::path& record, const std::filesystem::path& folder) {
  std::ifstream in(record, std::ios::binary);
  std::string head(kHeadRead, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(in.gcount()));
  if (!std::string_view(head).starts_with(kHeader)) return false;
  auto split = SplitFolders(std::string_view(head).substr(kHeader.size()));
  if (!split && in) {  // more folders than the first read holds
    head += std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    split = SplitFolders(std::string_view(head).substr(kHeader.size()));
  }
  if (!split || split->first.empty()) return false;
  for (std::string_view lines = split->first; !lines.empty();) {
    const std::size_t lineEnd = lines.find('\n');
    const std::size_t tab = lines.find('\t');
    if (lineEnd == std::string_view::npos || tab > lineEnd) return false;
    std::int64_t recorded = 0;
    const auto [at, error] = std::from_chars(lines.data(), lines.data() + tab, recorded);
    if (error != std::errc{} || at != lines.data() + tab) return false;
    const std::string path(lines.substr(tab + 1, lineEnd - tab - 1));
    if (FolderStampOf(PlaceOf(folder, path)) != recorded) return false;
    lines.remove_prefix(lineEnd + 1);
  }
  return true;
}

}  // namespace launcher
