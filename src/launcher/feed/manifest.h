#pragma once
// A release's manifest: its file list, its chunk index and how the server stores each content
// besides the raw blob (packed with zstd, or as patches against contents of earlier releases), in
// one document that the server holds packed. Every stored form is named with its own size and
// digest, so its download is bounded and checked before a byte of it is decoded. Pure logic.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "launcher/feed/chunk_index.h"
#include "launcher/feed/file_list.h"
#include "launcher/text/digest.h"

namespace launcher {

// The bytes the server holds for one form of a content.
struct StoredForm {
  Digest sha256;
  std::uint64_t size = 0;

  bool operator==(const StoredForm&) const = default;
};

// A patch that makes the content from an installed file of the base content.
struct Patch {
  Digest base;
  std::uint64_t baseSize = 0;
  StoredForm stored;

  bool operator==(const Patch&) const = default;
};

struct StoredContent {
  Digest content;
  std::optional<StoredForm> packed;
  std::vector<Patch> patches;
  // For a chunked content, a packed blob made of one frame per chunk, in order: each frame's
  // size, so that the frames of the chunks an update lacks can be fetched by Range.
  std::vector<std::uint64_t> frames;

  bool operator==(const StoredContent&) const = default;
};

struct Manifest {
  std::vector<Listed> listed;
  std::vector<ChunkedFile> chunks;
  std::vector<StoredContent> stored;  // ordered by content, each content once

  bool operator==(const Manifest&) const = default;
};

// The most a manifest may hold unpacked: a list of a million files with their chunks.
inline constexpr std::size_t kLargestManifest = std::size_t{512} << 20;

// "quellorn manifest 1", then three sections, each a line "<name> <bytes>" and that many bytes:
// "files" (the file list's text), "chunks" (the chunk index's, or nothing) and "stored", one
// line per form: "<content> TAB zst TAB <digest> TAB <size>", "<content> TAB frames TAB <size>,..."
// (after its zst line) or "<content> TAB patch TAB <base> TAB <base size> TAB <digest> TAB
// <size>".
std::string FormatManifest(const Manifest& manifest);

// Throws Failure("The release's manifest isn't one") for anything else, or the file list's or
// the chunk index's failure for a section that isn't one. Stored forms out of order, of a
// content the list doesn't name, or frames that don't add up to their packed blob, one per chunk
// of that content, are refused as well.
Manifest ParseManifest(const std::string& text);

// The same of a manifest held in consecutive blocks, each released once read: a large manifest's
// text and its entries are never all held at once.
Manifest ParseManifest(std::vector<std::string> blocks);

// The stored forms of `content`; nullptr when only its raw blob is there.
const StoredContent* FindStored(const std::vector<StoredContent>& stored, const Digest& content);

// Where each chunk's frame lies in a packed blob of `frames`: offset and size.
std::vector<std::pair<std::uint64_t, std::uint64_t>> FramePlaces(
    const std::vector<std::uint64_t>& frames);

}  // namespace launcher
