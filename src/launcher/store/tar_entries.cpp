#include "launcher/store/tar_entries.h"

#include <algorithm>
#include <charconv>
#include <optional>

#include "launcher/text/failure.h"

namespace launcher {

namespace {

constexpr std::size_t kBlock = 512;
// A long name or pax header longer than this isn't one tar writes for a game's file.
constexpr std::uint64_t kLongestExtended = 1 << 16;

[[noreturn]] void Malformed() {
  throw Failure{L"The release's archive isn't one"};
}

// A numeric field: octal digits, or base 256 (a first byte with its top bit set) for 8 GiB and up.
std::optional<std::uint64_t> NumberField(std::string_view field) {
  std::uint64_t value = 0;
  if (static_cast<unsigned char>(field[0]) == 0x80) {
    for (std::size_t i = 1; i < field.size(); ++i) {
      if (value >> 56 != 0) return std::nullopt;
      value = value << 8 | static_cast<unsigned char>(field[i]);
    }
    return value;
  }
  std::size_t i = 0;
  while (i < field.size() && field[i] == ' ') ++i;
  const std::size_t first = i;
  for (; i < field.size() && field[i] >= '0' && field[i] <= '7'; ++i) {
    if (value >> 60 != 0) return std::nullopt;
    value = value << 3 | static_cast<std::uint64_t>(field[i] - '0');
  }
  if (i == first || (i < field.size() && field[i] != ' ' && field[i] != '\0')) return std::nullopt;
  return value;
}

// A text field ends at its first NUL, or fills its width.
std::string_view TextField(std::string_view field) {
  return field.substr(0, std::min(field.find('\0'), field.size()));
}

std::uint64_t Checksum(std::string_view header) {
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < kBlock; ++i) {
    sum += i >= 148 && i < 156 ? ' ' : static_cast<unsigned char>(header[i]);
  }
  return sum;
}

// Writes `value` in octal into the field at [at, at + width): digits, then a NUL.
void WriteOctal(std::string& header, std::size_t at, std::size_t width, std::uint64_t value) {
  for (std::size_t i = width - 1; i-- > 0; value >>= 3) {
    header[at + i] = static_cast<char>('0' + (value & 7));
  }
  header[at + width - 1] = '\0';
}

// Mode 0644 or 0755, and the checksum that goes with it.
void MakeModePlain(std::string& header, bool folder) {
  const std::optional<std::uint64_t> mode = NumberField(std::string_view(header).substr(100, 8));
  const bool executable = folder || (mode && (*mode & 0100) != 0);
  WriteOctal(header, 100, 8, executable ? 0755 : 0644);
  WriteOctal(header, 148, 7, Checksum(header));
  header[155] = ' ';
}

// The records of a pax header ("LENGTH key=VALUE\n", LENGTH in decimal counting the whole
// record), each given to `record`. Throws for anything else.
template <typename Record>
void PaxRecords(std::string_view records, const Record& record) {
  while (!records.empty()) {
    std::uint64_t length = 0;
    const auto [at, error] =
        std::from_chars(records.data(), records.data() + records.size(), length);
    const std::size_t digits = static_cast<std::size_t>(at - records.data());
    if (error != std::errc{} || digits == 0 || length > records.size() || length < digits + 2 ||
        records[digits] != ' ' || records[length - 1] != '\n') {
      Malformed();
    }
    const std::string_view text = records.substr(digits + 1, length - digits - 2);
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) Malformed();
    record(text.substr(0, equals), text.substr(equals + 1));
    records.remove_prefix(length);
  }
}

}  // namespace

void TarEntries::Take(const char* bytes, std::size_t count) {
  while (count > 0 && state_ != State::Ended) {
    std::size_t used = 0;
    switch (state_) {
      case State::Header:
        used = std::min(count, kBlock - header_.size());
        header_.append(bytes, used);
        if (header_.size() == kBlock) Parse();
        break;
      case State::Data:
        used = static_cast<std::size_t>(std::min<std::uint64_t>(count, remaining_));
        if (data_ == Data::File && on_.data) {
          on_.data({bytes, used});
        } else if (data_ == Data::LongName || data_ == Data::Pax) {
          extended_.append(bytes, used);
        }
        PassOn({bytes, used});
        remaining_ -= used;
        if (remaining_ == 0) EndOfData();
        break;
      case State::Padding:
        used = static_cast<std::size_t>(std::min<std::uint64_t>(count, padding_));
        PassOn({bytes, used});
        padding_ -= used;
        if (padding_ == 0) state_ = State::Header;
        break;
      case State::Ended:
        break;
    }
    bytes += used;
    count -= used;
  }
}

void TarEntries::Parse() {
  std::string header = std::move(header_);
  header_.clear();
  if (std::all_of(header.begin(), header.end(), [](char c) { return c == '\0'; })) {
    // The end: whatever may follow it is never tar's, so tar is given the whole end marker now.
    if (!nextName_.empty() || !nextSize_.empty()) Malformed();
    PassOn(header);
    PassOn(header);
    state_ = State::Ended;
    return;
  }
  const std::string_view view = header;
  std::optional<std::uint64_t> size = NumberField(view.substr(124, 12));
  if (!size || NumberField(view.substr(148, 8)) != Checksum(view)) Malformed();
  const char type = view[156];
  data_ = type == 'L'   ? Data::LongName
          : type == 'x' ? Data::Pax
          : type == 'g' ? Data::Skipped
                        : Data::File;
  if (data_ != Data::File) {
    // A long name or pax header, for the next entry; a global one ('g') is a comment for all
    // that follow, whose records change nothing here.
    if (*size > kLongestExtended) Malformed();
  } else {
    const Entry entry = EntryOf(view, type, *size);
    size = entry.size;  // a pax header's, when it gave one: tar obeys it too
    if (on_.entry) on_.entry(entry);
    if (plainModes_ && entry.kind != Kind::Other) MakeModePlain(header, entry.kind == Kind::Folder);
  }
  remaining_ = *size;
  padding_ = (kBlock - *size % kBlock) % kBlock;
  extended_.clear();
  PassOn(header);
  state_ = State::Data;
  if (remaining_ == 0) EndOfData();
}

TarEntries::Entry TarEntries::EntryOf(std::string_view header, char type,
                                      std::uint64_t headerSize) {
  Entry entry;
  entry.kind = type == '5'                                  ? Kind::Folder
               : type == '0' || type == '\0' || type == '7' ? Kind::File
                                                            : Kind::Other;
  std::uint64_t size = headerSize;
  if (!nextSize_.empty()) {
    const auto [at, error] =
        std::from_chars(nextSize_.data(), nextSize_.data() + nextSize_.size(), size);
    if (error != std::errc{} || at != nextSize_.data() + nextSize_.size()) Malformed();
  }
  entry.name = nextName_;
  if (entry.name.empty()) {
    entry.name = TextField(header.substr(0, 100));
    // POSIX ustar puts what doesn't fit into a prefix; GNU's header keeps times there.
    const std::string_view prefix = TextField(header.substr(345, 155));
    if (header.substr(257, 6) == std::string_view("ustar\0", 6) && !prefix.empty()) {
      entry.name = std::string(prefix) + "/" + entry.name;
    }
  }
  while (entry.name.size() > 1 && entry.name.back() == '/') entry.name.pop_back();
  nextName_.clear();
  nextSize_.clear();
  // A folder's data would be skipped by tar; none is what a release's folder has.
  if (entry.kind == Kind::Folder && size != 0) entry.kind = Kind::Other;
  entry.size = size;
  return entry;
}

void TarEntries::EndOfData() {
  state_ = padding_ == 0 ? State::Header : State::Padding;
  switch (data_) {
    case Data::File:
      if (on_.fileEnd) on_.fileEnd();
      break;
    case Data::LongName:
      nextName_ = TextField(extended_);
      break;
    case Data::Pax:
      PaxRecords(extended_, [this](std::string_view key, std::string_view value) {
        if (key == "path") nextName_ = value;
        if (key == "size") nextSize_ = value;
      });
      break;
    case Data::Skipped:
      break;
  }
}

}  // namespace launcher
