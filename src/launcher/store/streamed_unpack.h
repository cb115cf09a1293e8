#pragma once
// A release archive unpacked while it downloads: the bytes go to the system's tar on its
// standard input as they arrive, beside the download file that a later attempt resumes. What tar
// made counts only once the whole archive went through it in one piece and tar ended well; the
// caller names it the release only after the download's digest matched. Bytes that don't
// continue the stream (a resumed download, one that started over) or a tar that fails end the
// stream for good, and the caller unpacks from the file instead.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>

#include "launcher/platform/run_program.h"

namespace launcher {

class StreamedUnpack {
 public:
  explicit StreamedUnpack(std::filesystem::path folder) : folder_(std::move(folder)) {}

  // The archive's bytes at `offset`.
  void Add(std::uint64_t offset, const std::uint8_t* bytes, std::size_t count);
  // How many of the archive's bytes went to tar in one piece.
  std::uint64_t Fed() const { return fed_; }
  // Ends the stream: true when all `size` bytes went through tar in order and it ended well.
  bool Finish(std::uint64_t size);

 private:
  std::filesystem::path folder_;
  std::optional<FedProgram> tar_;
  std::uint64_t fed_ = 0;
  bool broken_ = false;
};

}  // namespace launcher
