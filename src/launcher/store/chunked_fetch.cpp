#include "launcher/store/chunked_fetch.h"

#include <algorithm>
#include <fstream>
#include <system_error>
#include <vector>

#include "launcher/platform/file_writer.h"
#include "launcher/store/chunk_file.h"
#include "launcher/store/move_into_place.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/log.h"
#include "launcher/text/text.h"
#include "launcher/transfer/http.h"
#include "launcher/transfer/sha256.h"

namespace launcher {

namespace {

// The chunk's bytes by a Range request; nothing when the server sends anything else.
std::optional<std::string> FetchChunk(const std::wstring& url, const Chunk& chunk) {
  std::string bytes;
  bool wholeFile = false;
  HttpGet(
      url, Request{chunk.offset, false, false, chunk.size},
      [&](std::uint64_t offset) { wholeFile = offset != chunk.offset; },
      [&](const std::uint8_t* data, std::uint64_t count) {
        // A server that ignores Range sends the whole blob: stop at once, it is no chunk.
        if (wholeFile || bytes.size() + count > chunk.size)
          throw Failure{L"not the chunk asked for"};
        bytes.append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(count));
      });
  if (bytes.size() != chunk.size || DigestOf(bytes) != chunk.sha256) return std::nullopt;
  return bytes;
}

}  // namespace

bool FetchByChunks(const ChunkedFile& wanted, const std::filesystem::path& installed,
                   const std::wstring& blobUrl, const std::filesystem::path& work,
                   const std::filesystem::path& destination, ChunkTally& tally,
                   const std::function<void(std::uint64_t)>& onBytes) {
  const std::optional<ChunkedFile> held = ChunkFile(installed, wanted.path);
  if (!held) return false;
  const auto digestOrder = [](const Chunk& a, const Chunk& b) { return a.sha256 < b.sha256; };
  std::vector<Chunk> byDigest = held->chunks;
  std::sort(byDigest.begin(), byDigest.end(), digestOrder);
  ChunkTally tallied;
  bool built = false;
  try {
    std::ifstream in(installed, std::ios::binary);
    FileWriter out;
    std::error_code error;
    if (!out.Open(work, FileWriter::Start::Empty, error)) return false;
    Sha256 whole;
    std::string bytes;
    built = true;
    for (const Chunk& chunk : wanted.chunks) {
      const auto found = std::lower_bound(byDigest.begin(), byDigest.end(), chunk, digestOrder);
      bool taken = false;
      if (found != byDigest.end() && found->sha256 == chunk.sha256 && found->size == chunk.size) {
        bytes.resize(static_cast<std::size_t>(chunk.size));
        in.seekg(static_cast<std::streamoff>(found->offset));
        // The installed file may have changed since it was cut: its bytes count only as read.
        taken = in.read(bytes.data(), static_cast<std::streamsize>(bytes.size())).good() &&
                DigestOf(bytes) == chunk.sha256;
        in.clear();
      }
      if (taken) {
        tallied.taken += chunk.size;
      } else {
        std::optional<std::string> fetched = FetchChunk(blobUrl, chunk);
        if (!fetched) {
          built = false;
          break;
        }
        bytes = std::move(*fetched);
        tallied.fetched += chunk.size;
      }
      whole.Add(bytes.data(), bytes.size());
      if (!out.Write(bytes.data(), bytes.size(), error)) {
        built = false;
        break;
      }
      onBytes(chunk.size);
    }
    built = out.Close(error) && built && whole.Finish() == wanted.sha256.bytes;
    if (built) MoveIntoPlace(work, destination);
  } catch (const Failure& failure) {
    LogLine(Format(L"{}: fetched whole instead of by chunks ({})", Widen(wanted.path),
                   failure.message));
    built = false;
  } catch (const std::filesystem::filesystem_error&) {
    built = false;
  }
  if (!built) {
    std::error_code ignored;
    std::filesystem::remove(work, ignored);
    return false;
  }
  tally.taken += tallied.taken;
  tally.fetched += tallied.fetched;
  LogLine(Format(L"{}: {} bytes taken from the installed file, {} fetched by chunks",
                 Widen(wanted.path), tallied.taken, tallied.fetched));
  return true;
}

}  // namespace launcher
