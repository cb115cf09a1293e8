#pragma once
// Follows a plain tar archive as tar writes it and takes each file's digest from it, so the list
// and the blobs of a release hold the very bytes its archive holds, read from the build once,
// even if the build changes meanwhile. Only the files asked for, in the order asked for, with
// nothing between them but long names (GNU and pax) count as following; anything else (a link,
// a folder, another name) ends it, and the caller reads the build another way.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/store/tar_entries.h"
#include "launcher/text/digest.h"
#include "launcher/transfer/sha256.h"

namespace launcher::publish {

class TarFollower {
 public:
  struct Member {
    std::uint64_t size = 0;
    Digest sha256;

    bool operator==(const Member&) const = default;
  };
  // Each piece of file `index`'s bytes, in order.
  using Bytes = std::function<void(std::size_t index, std::string_view bytes)>;
  // File `index` ended, with this digest.
  using Ended = std::function<void(std::size_t index, const Member& member)>;

  // `names` as the archive holds them: UTF-8, "/" between folders.
  TarFollower(std::vector<std::string> names, Bytes bytes, Ended ended);

  // The archive's next bytes, in any pieces.
  void Take(const char* bytes, std::size_t count);

  // Whether the archive held exactly the files asked for, in order, and then its end.
  bool Whole() const { return state_ == State::Ended; }
  // One per file, in the order asked for; whole only when Whole().
  const std::vector<Member>& Members() const { return members_; }

 private:
  enum class State { Following, Ended, Lost };

  void Entry(const TarEntries::Entry& entry);
  void FileEnd();

  std::vector<std::string> names_;
  Bytes bytes_;
  Ended ended_;
  std::vector<Member> members_;
  State state_ = State::Following;
  std::uint64_t fileSize_ = 0;  // of the current file
  Sha256 hasher_;
  TarEntries reader_;
};

}  // namespace launcher::publish
