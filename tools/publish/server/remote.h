#pragma once
// The server folder put onto remote storage through rclone, in an order that a reader of the
// remote can't catch half done: every content file first (blobs, archives, lists, indexes,
// manifests, installers), each checked by its size once it is there, and only then the signed
// documents that name them, in the order layout::ServedAs gives, the timestamp last. Content is
// named by its digest or version and never changes, so what the remote holds with its size already
// isn't sent again; the documents always are. Content is marked for caches to keep for good, the
// documents to be asked for anew each time (where the storage keeps such headers: S3 and its kin,
// Azure, GCS). Nothing is removed from the remote here but by RemoveFromRemote.
//
// A remote is whatever rclone takes: a configured "name:path", or a connection string such as
// ":webdav,url='https://host/',vendor=other:game". rclone is found on the PATH, or where
// QUELLORN_RCLONE names it. Runs rclone on the calling thread; throws Failure when it can't be
// run or reports a failure.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/publish/server/publish.h"

namespace launcher::publish {

inline constexpr char kContentCaching[] = "Cache-Control: public, max-age=31536000, immutable";
inline constexpr char kDocumentCaching[] = "Cache-Control: no-cache";

struct UploadOutcome {
  std::size_t contentSent = 0;
  std::uint64_t bytesSent = 0;   // of content
  std::size_t contentThere = 0;  // already on the remote with its size
  std::size_t documentsSent = 0;
};

UploadOutcome Upload(const std::filesystem::path& server, const std::wstring& remote,
                     const PublishProgress& progress = {});

// Removes `names` (relative to the server folder, "/" between folders) from the remote.
void RemoveFromRemote(const std::wstring& remote, const std::vector<std::wstring>& names);

// For the platforms' files: the rclone program to run.
std::filesystem::path RcloneProgram();

}  // namespace launcher::publish
