#include "tools/publish/server/tar_follower.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace launcher::publish {
namespace {

constexpr std::size_t kBlock = 512;
// A long name longer than this isn't one tar writes for a build's file.
constexpr std::uint64_t kLongestExtended = 1 << 16;

// A size field: octal digits, or base 256 (a first byte with its top bit set) for 8 GiB and up.
std::optional<std::uint64_t> SizeField(std::string_view field) {
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

bool ChecksumHolds(std::string_view header) {
  const std::optional<std::uint64_t> stated = SizeField(header.substr(148, 8));
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < kBlock; ++i) {
    sum += i >= 148 && i < 156 ? ' ' : static_cast<unsigned char>(header[i]);
  }
  return stated == sum;
}

// The "path" a pax header gives ("LENGTH path=VALUE\n" records, LENGTH in decimal counting the
// whole record), empty when none.
std::string PaxPath(std::string_view records) {
  std::string path;
  while (!records.empty()) {
    std::size_t digits = 0;
    std::uint64_t length = 0;
    for (; digits < records.size() && records[digits] >= '0' && records[digits] <= '9'; ++digits) {
      length = length * 10 + static_cast<std::uint64_t>(records[digits] - '0');
      if (length > records.size()) return {};
    }
    if (digits == 0 || length < digits + 2 || records[digits] != ' ' ||
        records[length - 1] != '\n') {
      return {};
    }
    const std::string_view record = records.substr(digits + 1, length - digits - 2);
    if (record.starts_with("path=")) path = record.substr(5);
    records.remove_prefix(length);
  }
  return path;
}

}  // namespace

TarFollower::TarFollower(std::vector<std::string> names, Bytes bytes, Ended ended)
    : names_(std::move(names)), bytes_(std::move(bytes)), ended_(std::move(ended)) {
  members_.reserve(names_.size());
}

void TarFollower::Take(const char* bytes, std::size_t count) {
  while (count > 0) {
    std::size_t used = 0;
    switch (state_) {
      case State::Header:
        used = std::min(count, kBlock - header_.size());
        header_.append(bytes, used);
        if (header_.size() == kBlock) Parse();
        break;
      case State::Data:
        used = static_cast<std::size_t>(std::min<std::uint64_t>(count, remaining_));
        if (kind_ == Kind::File) {
          hasher_.Add(bytes, used);
          bytes_(members_.size(), {bytes, used});
        } else {
          extended_.append(bytes, used);
        }
        remaining_ -= used;
        if (remaining_ == 0) EndOfData();
        break;
      case State::Padding:
        used = static_cast<std::size_t>(std::min<std::uint64_t>(count, padding_));
        padding_ -= used;
        if (padding_ == 0) state_ = State::Header;
        break;
      case State::Ended:
      case State::Lost:
        return;  // what follows the end is tar's padding of its last record
    }
    bytes += used;
    count -= used;
  }
}

void TarFollower::Parse() {
  const std::string block = std::move(header_);
  header_.clear();
  const std::string_view header = block;
  const bool empty = std::all_of(header.begin(), header.end(), [](char c) { return c == '\0'; });
  if (empty) {
    state_ = members_.size() == names_.size() && nextName_.empty() ? State::Ended : State::Lost;
    return;
  }
  const std::optional<std::uint64_t> size = SizeField(header.substr(124, 12));
  if (!size || !ChecksumHolds(header)) return Lose();
  remaining_ = *size;
  padding_ = (kBlock - *size % kBlock) % kBlock;
  state_ = State::Data;
  switch (header[156]) {
    case 'L':
      kind_ = Kind::LongName;
      break;
    case 'x':
      kind_ = Kind::Pax;
      break;
    case '0':
    case '\0':
    case '7': {
      kind_ = Kind::File;
      std::string name = std::move(nextName_);
      nextName_.clear();
      if (name.empty()) {
        name = TextField(header.substr(0, 100));
        // POSIX ustar puts what doesn't fit into a prefix; GNU's header keeps times there.
        const std::string_view prefix = TextField(header.substr(345, 155));
        if (header.substr(257, 6) == std::string_view("ustar\0", 6) && !prefix.empty()) {
          name = std::string(prefix) + "/" + name;
        }
      }
      if (members_.size() == names_.size() || name != names_[members_.size()]) return Lose();
      hasher_ = Sha256();
      fileSize_ = *size;
      break;
    }
    default:
      return Lose();  // a link, a folder or anything else a build's list doesn't give
  }
  if (kind_ != Kind::File && *size > kLongestExtended) return Lose();
  extended_.clear();
  if (remaining_ == 0) EndOfData();
}

void TarFollower::EndOfData() {
  state_ = padding_ == 0 ? State::Header : State::Padding;
  switch (kind_) {
    case Kind::File: {
      Member member{fileSize_, {hasher_.Finish()}};
      members_.push_back(member);
      ended_(members_.size() - 1, member);
      break;
    }
    case Kind::LongName:
      nextName_ = TextField(extended_);
      break;
    case Kind::Pax:
      nextName_ = PaxPath(extended_);
      break;
  }
}

}  // namespace launcher::publish
