#include "launcher/store/archive_stream.h"

#include <algorithm>
#include <fstream>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "launcher/store/unpack.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/safe_join.h"
#include "launcher/text/saturating.h"
#include "launcher/text/text.h"

namespace launcher {

namespace {

constexpr wchar_t kNotUnpacked[] = L"The release couldn't be unpacked";

[[noreturn]] void Refuse(const std::string& name, const wchar_t* why) {
  throw Failure{kNotUnpacked, Format(L"its archive holds {}: {}", Widen(name), why)};
}

// Names as Windows tells them apart: ASCII letter case ignored.
std::string Folded(std::string name) {
  for (char& c : name) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  return name;
}

// Each folder a path lies in ("a", "a/b" for "a/b/c"), folded.
template <typename Each>
void ForEachFolderOf(const std::string& folded, const Each& each) {
  for (std::size_t slash = folded.find('/'); slash != std::string::npos;
       slash = folded.find('/', slash + 1)) {
    each(folded.substr(0, slash));
  }
}

std::size_t CharacterCount(std::string_view utf8) {
  return static_cast<std::size_t>(std::count_if(utf8.begin(), utf8.end(), [](char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
  }));
}

// A file's part of a tar archive: its header and its bytes padded to whole blocks.
std::uint64_t InTar(std::uint64_t size) {
  return 512 + (size + 511) / 512 * 512;
}

}  // namespace

// What the store can hold, entry by entry; with a file list, exactly what it names.
class ArchiveStream::Rules {
 public:
  explicit Rules(const std::vector<Listed>& listed) : listed_(listed), seen_(listed.size()) {
    byPath_.resize(listed.size());
    for (std::size_t i = 0; i < listed.size(); ++i) {
      byPath_[i] = i;
      ForEachFolderOf(Folded(listed[i].path),
                      [&](std::string folder) { listedFolders_.insert(std::move(folder)); });
      // A header and a long name or pax header for each file besides its bytes, and the end.
      bound_ = SaturatingAdd(bound_, SaturatingAdd(InTar(listed[i].size), 4096));
    }
    std::sort(byPath_.begin(), byPath_.end(),
              [&](std::size_t a, std::size_t b) { return listed_[a].path < listed_[b].path; });
    bound_ = listed.empty() ? std::numeric_limits<std::uint64_t>::max()
                            : SaturatingAdd(bound_, std::uint64_t{1} << 20);
  }

  // The most bytes of plain tar the release may take.
  std::uint64_t Bound() const { return bound_; }

  void Check(const TarEntries::Entry& entry) {
    std::string name = entry.name;
    while (name.starts_with("./")) name.erase(0, 2);
    if (entry.kind == TarEntries::Kind::Folder && (name.empty() || name == ".")) return;
    if (entry.kind == TarEntries::Kind::Other) {
      Refuse(name, L"a link, a device or another kind of entry a game's folder can't hold");
    }
    if (CharacterCount(name) > kLongestListedPath || !IsSafeName(Widen(name))) {
      Refuse(name, L"a name no folder can hold");
    }
    if (listed_.empty()) {
      CheckAlone(entry.kind == TarEntries::Kind::Folder, name);
    } else if (entry.kind == TarEntries::Kind::Folder) {
      if (!listedFolders_.contains(Folded(name))) {
        Refuse(name, L"a folder that no path of its file list leads through");
      }
    } else {
      CheckListed(name, entry.size);
    }
  }

 private:
  void CheckListed(const std::string& name, std::uint64_t size) {
    const auto found = std::lower_bound(
        byPath_.begin(), byPath_.end(), name,
        [&](std::size_t i, const std::string& wanted) { return listed_[i].path < wanted; });
    if (found == byPath_.end() || listed_[*found].path != name) {
      Refuse(name, L"a file its file list doesn't name");
    }
    if (listed_[*found].size != size) Refuse(name, L"a file of another size than its list names");
    if (seen_[*found]) Refuse(name, L"a file twice");
    seen_[*found] = true;
  }

  // Without a list: no name twice in any letter case, and no file where a folder must be.
  void CheckAlone(bool folder, const std::string& name) {
    const std::string folded = Folded(name);
    const auto refuse = [&] {
      Refuse(name, L"a name twice, in any letter case, or a file where a folder must be");
    };
    if (files_.contains(folded) || (!folder && folders_.contains(folded))) refuse();
    ForEachFolderOf(folded, [&](std::string parent) {
      if (files_.contains(parent)) refuse();
      folders_.insert(std::move(parent));
    });
    (folder ? folders_ : files_).insert(folded);
  }

  const std::vector<Listed>& listed_;
  std::vector<std::size_t> byPath_;
  std::vector<bool> seen_;
  std::set<std::string> listedFolders_;
  std::set<std::string> files_;
  std::set<std::string> folders_;
  std::uint64_t bound_ = 0;
};

ArchiveStream::ArchiveStream(std::filesystem::path folder, const std::vector<Listed>& listed)
    : folder_(std::move(folder)),
      rules_(std::make_unique<Rules>(listed)),
      reader_({[this](const TarEntries::Entry& entry) { rules_->Check(entry); },
               {},
               {},
               [this](std::string_view bytes) { PassOn(bytes); }},
              true),
      decoder_([this](const char* bytes, std::size_t count) { reader_.Take(bytes, count); }),
      // Started here, by the thread that keeps the stream: the checks may feed it from a thread
      // that ends first, and on Linux tar goes with the thread that started it.
      tar_(StartUnpacking(folder_)) {}

ArchiveStream::~ArchiveStream() = default;

void ArchiveStream::Add(std::uint64_t offset, const std::uint8_t* bytes, std::size_t count) {
  const std::uint64_t fed = fed_;
  if (offset > fed) throw Failure{kNotUnpacked, L"its bytes didn't come in order"};
  if (offset + count <= fed) return;
  const auto skip = static_cast<std::size_t>(fed - offset);
  decoder_.Take(bytes + skip, count - skip);
  fed_ = offset + count;
}

void ArchiveStream::PassOn(std::string_view bytes) {
  passedOn_ += bytes.size();
  if (passedOn_ > rules_->Bound()) {
    throw Failure{kNotUnpacked, L"its archive unpacks to more than its file list announces"};
  }
  if (!tar_.Feed(bytes.data(), bytes.size())) {
    throw Failure{tar_.Started() ? std::wstring(kNotUnpacked) : TarMissing(),
                  L"tar stopped taking the archive"};
  }
}

void ArchiveStream::Finish() {
  decoder_.Finish();
  if (!reader_.Ended()) throw Failure{kNotUnpacked, L"its archive ended early"};
  const int exitCode = tar_.Finish();
  if (!tar_.Started()) throw Failure{TarMissing()};
  if (exitCode != 0) throw Failure{kNotUnpacked, Format(L"tar ended with {}", exitCode)};
}

void UnpackFile(const std::filesystem::path& file, const std::filesystem::path& folder,
                const std::vector<Listed>& listed) {
  std::ifstream in(file, std::ios::binary);
  ArchiveStream stream(folder, listed);
  std::vector<char> buffer(1 << 20);
  std::uint64_t offset = 0;
  while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
    const auto count = static_cast<std::size_t>(in.gcount());
    stream.Add(offset, reinterpret_cast<const std::uint8_t*>(buffer.data()), count);
    offset += count;
  }
  if (!in.eof() || in.bad()) throw Failure{kNotUnpacked, L"its archive couldn't be read"};
  stream.Finish();
}

}  // namespace launcher
