#pragma once
// The publisher's zstd: on every core, at the level the studio chooses (9 unless --level says
// otherwise: on game data the levels above it save well under 1 % at many times the time). The
// same bytes in give the same bytes out, whatever the cores.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "launcher/store/zstd_unpack.h"

namespace launcher::publish {

inline constexpr int kDefaultLevel = 9;

// The archive's window, 2 MiB: the launcher decodes the archive as it arrives and holds the whole
// window in memory meanwhile, on top of the release's file list. A longer one saved nothing on game
// data (the tar of bench-update-bytes' 566 MB game, zstd -9: 397,297,789 bytes with 128 MiB,
// 397,286,412 with 2 MiB); a player's memory it costs. Packed blobs and patches are bounded by
// their content and reference.
inline constexpr int kArchiveWindowLog = 21;

// The level every packing of the run uses; set once by the command line.
int& PackingLevel();

// A zstd stream into a file, written as its bytes come, within the archive's window.
class ZstdPacker {
 public:
  // `pledged`, when known, goes into the frame: the launcher then needs no larger window than the
  // content. Throws Failure when the file can't be made.
  ZstdPacker(const std::filesystem::path& file, std::optional<std::uint64_t> pledged);
  ~ZstdPacker();
  ZstdPacker(const ZstdPacker&) = delete;
  ZstdPacker& operator=(const ZstdPacker&) = delete;

  void Add(const char* bytes, std::size_t count);
  // Ends the frame: the bytes the file holds. Throws Failure when it couldn't be written.
  std::uint64_t Finish();

 private:
  struct Context;
  void Write(const void* bytes, std::size_t count);

  std::unique_ptr<Context> context_;
  std::ofstream out_;
  std::uint64_t written_ = 0;
};

// `plain` packed into `packed`; its size. Throws Failure.
std::uint64_t PackFile(const std::filesystem::path& plain, const std::filesystem::path& packed);

// Contents packed on every core from this size on; below, a thread costs more than it saves.
inline constexpr std::size_t kThreadedFrom = std::size_t{8} << 20;

// `bytes` as one frame of their own, which a launcher can decode alone; with a `reference`, the
// frame is a patch that decodes only with the same reference as its prefix (at most 2^28 bytes
// with the content).
std::string PackBytes(std::string_view bytes, std::string_view reference = {});

// `bytes` as frames of their own of `frameSize` bytes each (the last one shorter), for a document
// such as the manifest: the launcher decodes each straight into a block and lets it go once read.
inline constexpr std::size_t kDocumentFrame = std::size_t{1} << 20;
std::string PackInFrames(std::string_view bytes, std::size_t frameSize = kDocumentFrame);

}  // namespace launcher::publish
