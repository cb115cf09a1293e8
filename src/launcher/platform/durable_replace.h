#pragma once
// Replacing a small file so that after a crash or power cut it holds either its old bytes or the
// new ones: the new bytes go to a temporary file that is flushed to disk, then moved over the
// target in one step.

#include <filesystem>
#include <string_view>

namespace launcher {

// False when the temporary file can't be written or flushed (the target is then untouched) or
// the move fails.
[[nodiscard]] bool ReplaceFileDurably(const std::filesystem::path& target,
                                      const std::filesystem::path& temporary,
                                      std::string_view bytes);

// The second half: `temporary`, already on the disk, moved over `target` so that the move itself
// survives a power cut. False when the move fails.
[[nodiscard]] bool MoveDurably(const std::filesystem::path& temporary,
                               const std::filesystem::path& target);

// The first half of that: `file` created or truncated, and its bytes flushed to the disk. For
// writers that put several files in place together, each with MoveIntoPlace.
[[nodiscard]] bool WriteFileDurably(const std::filesystem::path& file, std::string_view bytes);

}  // namespace launcher
