#pragma once
// The launcher's zstd decoding of what the server stores packed: a manifest in memory, a packed
// blob or a patch from one file into another. Every decoding is bounded by the size its result
// must come to and stops past it, so a frame made to expand without end costs at most that.
// What comes out is hashed on the way; whether it is the content wanted is the caller's check.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/text/digest.h"

namespace launcher {

// The publisher's long window (2^27 bytes), the most a packed blob, document or archive may ask
// for; and patches', which span their reference and their content together (2^28). A frame that
// asks for more is refused rather than let it take the memory.
inline constexpr int kPackedWindowLog = 27;
inline constexpr int kPatchWindowLog = 28;

// The frames of `packed` decoded whole; nothing when they aren't zstd frames that end, or would
// come to more than `most` bytes.
std::optional<std::string> UnpackBytes(std::string_view packed, std::size_t most);

// The same, each frame's bytes in a block of their own: a frame that tells its size is decoded
// straight into its block, with no window beside it, so a document packed as frames of a
// megabyte costs no more than its text to unpack. Nothing as for UnpackBytes.
std::optional<std::vector<std::string>> UnpackFrames(std::string_view packed, std::size_t most);

// The frames of `packed` decoded into a new file `plain` (whatever was at the name goes, a link
// without its target), with `reference` as the prefix a patch was made against (none for a
// packed blob). The digest of what was written when it came to exactly `size` bytes; nothing, and
// nothing left at `plain`, when the frames are damaged, end early or go past `size`. Throws
// Failure when `packed` can't be read or `plain` written (a full disk says how much room is
// missing).
std::optional<Digest> UnpackFile(const std::filesystem::path& packed,
                                 const std::filesystem::path& plain, std::uint64_t size,
                                 std::string_view reference = {});

}  // namespace launcher
