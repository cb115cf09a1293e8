#pragma once
// The publisher's zstd: on every core, with the long window the launcher decodes within (128
// MiB), at the level the studio chooses (9 unless --level says otherwise: on game data the levels
// above it save well under 1 % at many times the time). The same bytes in give the same bytes
// out, whatever the cores.

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

// The level every packing of the run uses; set once by the command line.
int& PackingLevel();

// A zstd stream into a file, written as its bytes come.
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

}  // namespace launcher::publish
