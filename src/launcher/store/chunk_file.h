#pragma once
// A file on disk cut into its content-defined chunks and hashed, whole and chunk by chunk, in one
// read: the publishing tool's chunk index, and the launcher's view of an installed file that an
// update may take chunks from.

#include <filesystem>
#include <optional>
#include <string>

#include "launcher/feed/chunk_index.h"

namespace launcher {

// `path` names the file in the index. Nothing when the file can't be read whole.
std::optional<ChunkedFile> ChunkFile(const std::filesystem::path& file, const std::string& path);

}  // namespace launcher
