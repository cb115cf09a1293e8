#pragma once
// The record of an installed version, "<version>.record" beside its folder: for each of its files
// the path, size and digest the file list gave and the stamp the file had once verified. A file
// whose stamp still matches holds what was verified, as far as the file system can tell, so an
// update carries it over and a start trusts it without reading its bytes. Written durably before
// the version is named current; a version without one (installed by an older launcher, or from an
// archive without a file list) simply has its files hashed. Ahead of the files it records the
// stamps of the version's folders, so that a start can tell from them alone that no file was
// created, deleted or renamed, without looking at each file.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "launcher/feed/chunk_index.h"
#include "launcher/feed/file_list.h"
#include "launcher/platform/file_stamp.h"

namespace launcher {

struct RecordedFile {
  Listed listed;
  FileStamp stamp;
  // A large file's chunks as the signed index gave them when it was installed: an update takes
  // them from the file by these while its stamp holds, instead of cutting it again.
  std::vector<Chunk> chunks;
};

// A file of the current version that may give a listed entry of the next its bytes.
struct KeptFile {
  std::size_t index = 0;  // the entry's place in the list
  std::filesystem::path source;
  // The stamp the current version's record vouches for the source by; none: hashed when copied.
  std::optional<FileStamp> trusted;
  bool linked = false;  // the staged file is the source itself, hard linked
};

// root / (version + ".record"); doesn't touch the disk.
std::filesystem::path RecordOf(const std::filesystem::path& root, const std::wstring& version);

// Writes the record of the listed files below `folder` through record + ".tmp", flushed to the
// disk before the move. A linked file of `kept` (in the list's order) is recorded by the stamp it
// was vouched for by, so that a change since shows at the next look; every other file by its
// stamp now; a file the index `chunks` names, with its chunks. False, with no record left behind,
// when a file can't be stamped or the record can't be written.
[[nodiscard]] bool WriteRecord(const std::filesystem::path& record,
                               const std::filesystem::path& folder,
                               const std::vector<Listed>& listed,
                               const std::vector<KeptFile>& kept = {},
                               const std::vector<ChunkedFile>& chunks = {});

// The record's entries; none when it is missing or any part of it is unreadable. Its paths are
// the launcher's own, but whatever is written to one goes through SafeJoin all the same.
std::vector<RecordedFile> ReadRecord(const std::filesystem::path& record);

// Whether every folder the record stamped below `folder` still has its stamp: no name in them
// was created, deleted or renamed since. Reads the head of the record only; false for a record of
// an older layout, one without folders, or any failure.
[[nodiscard]] bool FoldersUnchanged(const std::filesystem::path& record,
                                    const std::filesystem::path& folder);

// Where a record's path lies below `folder`, for a look at the file only: joined without SafeJoin's
// checks, which cost more than the look itself when a start looks at every file.
std::filesystem::path PlaceOf(const std::filesystem::path& folder, const std::string& path);

}  // namespace launcher
