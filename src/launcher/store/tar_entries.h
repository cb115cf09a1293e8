#pragma once
// A plain tar stream read header by header as its bytes pass: each entry's kind, name and size,
// and each file's data, so that the launcher can look at every entry of a release before tar
// writes it, and the publishing tool can take each file's digest from the archive tar makes.
// Knows ustar and GNU headers, GNU long names and pax headers (their path and size, which tar
// obeys too); what the reader reports is exactly what tar will make of the stream. Pure logic.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace launcher {

class TarEntries {
 public:
  enum class Kind {
    File,
    Folder,
    Other,  // a link, a device, a pipe, a sparse file: nothing a release may hold
  };
  struct Entry {
    Kind kind = Kind::File;
    std::string name;  // as the archive spells it: UTF-8, "/" between folders, no trailing "/"
    std::uint64_t size = 0;  // of its data: a file's bytes (tar skips those of other kinds)
  };
  struct Handlers {
    std::function<void(const Entry&)> entry;       // each entry, once its header is read
    std::function<void(std::string_view)> data;    // the current file's data, in pieces
    std::function<void()> fileEnd;                 // the current file's data is complete
    std::function<void(std::string_view)> passOn;  // every byte as tar may see it
  };

  // With `plainModes`, every header passed on gives a file the mode 0644 (0755 when its owner
  // may execute it) and a folder 0755, whatever the archive says: no setuid or setgid bit, and
  // nothing others may write.
  explicit TarEntries(Handlers handlers, bool plainModes = false)
      : on_(std::move(handlers)), plainModes_(plainModes) {}

  // The stream's next bytes, in any pieces. Throws Failure("The release's archive isn't one")
  // for a header that isn't a tar's and a long name or pax header over 64 KiB, and whatever a
  // handler throws. Once the archive's end has passed, nothing more is read or passed on.
  void Take(const char* bytes, std::size_t count);

  // Whether the end-of-archive block has passed.
  bool Ended() const { return state_ == State::Ended; }

 private:
  enum class State { Header, Data, Padding, Ended };
  enum class Data { File, LongName, Pax, Skipped };

  void Parse();  // the header just gathered
  // The entry a file, folder or other header gives, with the long name or pax records before it.
  Entry EntryOf(std::string_view header, char type, std::uint64_t headerSize);
  void EndOfData();
  void PassOn(std::string_view bytes) const {
    if (on_.passOn) on_.passOn(bytes);
  }

  Handlers on_;
  bool plainModes_;
  State state_ = State::Header;
  std::string header_;  // the header block being gathered
  Data data_ = Data::File;
  std::uint64_t remaining_ = 0;  // of the current entry's data
  std::uint64_t padding_ = 0;    // after it, to the next 512-byte block
  std::string extended_;         // a long name's or pax header's data
  std::string nextName_;         // given by one for the next entry
  std::string nextSize_;         // a pax header's size for the next entry, as written
};

}  // namespace launcher
