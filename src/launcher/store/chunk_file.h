#pragma once
// A file on disk cut into its content-defined chunks and hashed chunk by chunk, and whole when
// asked, in one read: the publishing tool's chunk index, and the launcher's view of an installed
// file that an update may take chunks from.

#include <filesystem>
#include <optional>
#include <string>

#include "launcher/feed/chunk_index.h"

namespace launcher {

enum class WholeDigest { Skip, Compute };

// `path` names the file in the index. Nothing when the file can't be read whole. With `Skip`
// the result's whole-file digest stays zero; with `Compute` it is hashed on a second thread
// beside the chunks.
std::optional<ChunkedFile> ChunkFile(const std::filesystem::path& file, const std::string& path,
                                     WholeDigest whole = WholeDigest::Compute);

}  // namespace launcher
