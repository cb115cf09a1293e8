#pragma once
// A release archive's compression undone as its bytes pass, told by its first bytes: zstd (with
// windows up to 128 MiB, the long window the publisher uses), gzip (archives of older publishers),
// or none (a plain tar). The launcher decodes the archive itself, so that it sees every entry
// before the system's tar does, and that tar needs to know no compression.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace launcher {

class ArchiveDecoder {
 public:
  using Output = std::function<void(const char* bytes, std::size_t count)>;

  explicit ArchiveDecoder(Output output);
  ~ArchiveDecoder();
  ArchiveDecoder(const ArchiveDecoder&) = delete;
  ArchiveDecoder& operator=(const ArchiveDecoder&) = delete;

  // The archive's next bytes, in any pieces. Throws Failure("The release's archive isn't one")
  // for bytes its format can't hold, and whatever `output` throws.
  void Take(const std::uint8_t* bytes, std::size_t count);
  // The archive's end. Throws the same when it ended inside a compressed stream.
  void Finish();

 private:
  enum class Format { Unknown, Plain, Gzip, Zstd };
  struct Gzip;
  struct Zstd;

  void StartDecoding();
  void Decode(const std::uint8_t* bytes, std::size_t count);
  void DecodeGzip(const std::uint8_t* bytes, std::size_t count);
  void DecodeZstd(const std::uint8_t* bytes, std::size_t count);

  Output output_;
  Format format_ = Format::Unknown;
  std::string head_;  // the first bytes, until they tell the format
  std::unique_ptr<Gzip> gzip_;
  std::unique_ptr<Zstd> zstd_;
};

}  // namespace launcher
