#include "tools/publish/server/stored_forms.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <system_error>
#include <utility>

#include "launcher/feed/server_layout.h"
#include "launcher/feed/version.h"
#include "launcher/store/kept_files.h"
#include "launcher/store/update_plan.h"
#include "launcher/store/zstd_unpack.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/read_file.h"
#include "launcher/text/text.h"
#include "launcher/transfer/sha256.h"
#include "tools/publish/server/channels.h"
#include "tools/publish/server/zstd_pack.h"

namespace launcher::publish {

namespace {

// A packed blob is kept when it is at most this share of the content (95 %).
constexpr std::uint64_t kPackedKeptPercent = 95;
// A patch is kept when it is under this share of the next cheapest way (90 %).
constexpr std::uint64_t kPatchKeptPercent = 90;

std::optional<Manifest> ReadManifest(const std::filesystem::path& file) {
  std::error_code error;
  if (!std::filesystem::exists(file, error)) return std::nullopt;
  const std::optional<std::string> text = UnpackBytes(ReadWholeFile(file), kLargestManifest);
  if (!text) throw Failure{L"The release's manifest isn't one"};
  return ParseManifest(*text);
}

[[noreturn]] void ChangedMeanwhile(const BuildFile& source) {
  throw Failure{Format(L"{} changed while it was being published", WideFromPath(source.source))};
}

// The build file read whole, checked against its listed content.
std::string ReadChecked(const BuildFile& file, const Listed& entry) {
  std::string bytes = ReadWholeFile(file.source);
  if (bytes.size() != entry.size || DigestOf(bytes) != entry.sha256) ChangedMeanwhile(file);
  return bytes;
}

// A stored form the server holds already at `file`: taken as it stands, when it is a plain file.
std::optional<StoredForm> Existing(const std::filesystem::path& file) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(file, error)) return std::nullopt;
  const std::uint64_t size = std::filesystem::file_size(file, error);
  if (error || size == 0) return std::nullopt;
  return StoredForm{HashFile(file), size};
}

class FormMaker {
 public:
  FormMaker(const std::filesystem::path& server, ServerChanges& changes,
            const std::vector<EarlierRelease>& earlier)
      : server_(server), changes_(changes) {
    for (const EarlierRelease& release : earlier) {
      for (const StoredContent& forms : release.manifest.stored) {
        if (forms.packed) knownPacked_.emplace(forms.content, forms);
      }
    }
  }

  // The content's packed blob (with its frames, for a chunked one), made when it saves enough.
  // A file below the chunked size is packed from the bytes `read` gives; a chunked one is read
  // chunk by chunk.
  template <typename Read>
  void Pack(StoredContent& forms, const Listed& entry, const BuildFile& source,
            const ChunkedFile* chunked, const Read& read) {
    const std::filesystem::path file = server_ / PathFromWide(layout::PackedBlobName(entry.sha256));
    if (const auto known = knownPacked_.find(entry.sha256); known != knownPacked_.end()) {
      const StoredContent& earlier = known->second;
      if ((chunked != nullptr) == !earlier.frames.empty() &&
          HoldsExactly(file, earlier.packed->size, earlier.packed->sha256)) {
        forms.packed = earlier.packed;
        forms.frames = earlier.frames;
        return;
      }
    }
    if (chunked != nullptr) return PackChunks(forms, entry, source, *chunked, file);
    if (const std::optional<StoredForm> there = Existing(file)) {
      forms.packed = there;
      return;
    }
    // Below the chunked size: small enough to hold whole.
    const std::string packed = PackBytes(read());
    if (packed.size() * 100 <= entry.size * kPackedKeptPercent) forms.packed = Place(file, packed);
  }

  // A patch from `base` (a content of an earlier release, whose raw blob the server holds) to
  // `entry`, when it is under 90 % of `cheapest`.
  std::optional<Patch> Patched(const Listed& entry, const std::string& bytes, const Listed& base,
                               std::uint64_t cheapest) {
    const std::filesystem::path file =
        server_ / PathFromWide(layout::PatchName(entry.sha256, base.sha256));
    if (const std::optional<StoredForm> there = Existing(file)) {
      return Patch{base.sha256, base.size, *there};
    }
    const std::filesystem::path baseBlob = server_ / PathFromWide(layout::BlobName(base.sha256));
    const std::string reference = ReadWholeFile(baseBlob);
    if (reference.size() != base.size) return std::nullopt;  // pruned, or never written whole
    const std::string patch = PackBytes(bytes, reference);
    if (patch.size() * 100 >= cheapest * kPatchKeptPercent) return std::nullopt;
    return Patch{base.sha256, base.size, Place(file, patch)};
  }

  std::uint64_t BytesWritten() const { return written_; }

 private:
  // One frame per chunk, read chunk by chunk, so that an update fetches the frames of the chunks
  // it lacks; zstd stores a chunk that doesn't compress in raw blocks.
  void PackChunks(StoredContent& forms, const Listed& entry, const BuildFile& source,
                  const ChunkedFile& chunked, const std::filesystem::path& file) {
    const std::filesystem::path temporary = changes_.Temporary(file);
    std::ifstream in(source.source, std::ios::binary);
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    Sha256 whole;
    Sha256 stored;
    std::uint64_t size = 0;
    std::vector<std::uint64_t> frames;
    std::string chunk;
    for (const Chunk& piece : chunked.chunks) {
      chunk.resize(static_cast<std::size_t>(piece.size));
      if (!in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()))) {
        ChangedMeanwhile(source);
      }
      whole.Add(chunk.data(), chunk.size());
      const std::string frame = PackBytes(chunk);
      out.write(frame.data(), static_cast<std::streamsize>(frame.size()));
      stored.Add(frame.data(), frame.size());
      frames.push_back(frame.size());
      size += frame.size();
    }
    if (Digest{whole.Finish()} != entry.sha256 || in.peek() != std::ifstream::traits_type::eof()) {
      ChangedMeanwhile(source);
    }
    if (!out.flush()) throw Failure{Format(L"{} couldn't be written", WideFromPath(file))};
    out.close();
    std::error_code ignored;
    if (size * 100 > entry.size * kPackedKeptPercent) {
      std::filesystem::remove(temporary, ignored);
      return;
    }
    changes_.Place(temporary, file);
    written_ += size;
    forms.packed = StoredForm{Digest{stored.Finish()}, size};
    forms.frames = std::move(frames);
  }

  StoredForm Place(const std::filesystem::path& file, const std::string& bytes) {
    const std::filesystem::path temporary = changes_.Temporary(file);
    {
      std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      if (!out.flush()) throw Failure{Format(L"{} couldn't be written", WideFromPath(file))};
    }
    changes_.Place(temporary, file);
    written_ += bytes.size();
    return {DigestOf(bytes), bytes.size()};
  }

  const std::filesystem::path& server_;
  ServerChanges& changes_;
  std::map<Digest, StoredContent> knownPacked_;
  std::uint64_t written_ = 0;
};

// What an update from `release` would otherwise fetch of `entry`: its packed blob or itself, or
// the chunks its old file at the path lacks, whichever is less.
std::uint64_t CheapestOtherWay(const Listed& entry, const StoredContent& forms,
                               const std::vector<ChunkedFile>& chunks, const Listed& old,
                               const EarlierRelease& release) {
  std::uint64_t cheapest = forms.packed ? forms.packed->size : entry.size;
  const ChunkedFile* wanted = FindChunked(chunks, entry);
  const ChunkedFile* held = FindChunked(release.manifest.chunks, old);
  if (wanted != nullptr && held != nullptr) {
    cheapest = std::min(cheapest, MissingChunkBytes(*wanted, *held, forms.frames));
  }
  return cheapest;
}

// The entry of `release` at `path`; nullptr when it has none.
const Listed* AtPath(const std::vector<Listed>& sortedByPath, const std::string& path) {
  const auto found = std::lower_bound(
      sortedByPath.begin(), sortedByPath.end(), path,
      [](const Listed& entry, const std::string& wanted) { return entry.path < wanted; });
  return found != sortedByPath.end() && found->path == path ? &*found : nullptr;
}

}  // namespace

std::vector<EarlierRelease> EarlierReleases(const std::filesystem::path& server,
                                            const std::wstring& version, std::size_t count) {
  std::vector<PublishedRelease> published = PublishedReleases(server);
  std::erase_if(published, [&](const PublishedRelease& release) {
    return !version.empty() &&
           (release.version == version || !IsNewerVersion(version, release.version));
  });
  std::vector<EarlierRelease> earlier;
  for (auto release = published.rbegin(); release != published.rend() && earlier.size() < count;
       ++release) {
    EarlierRelease read{release->version, {}};
    try {
      if (std::optional<Manifest> manifest =
              ReadManifest(server / PathFromWide(layout::ManifestName(release->version)))) {
        read.manifest = std::move(*manifest);
      } else {
        read.manifest.listed = ParseFileList(ReadWholeFile(server / PathFromWide(release->list)));
        if (!release->chunks.empty()) {
          read.manifest.chunks =
              ParseChunkIndex(ReadWholeFile(server / PathFromWide(release->chunks)));
        }
      }
    } catch (const Failure& failure) {
      throw Failure{Format(L"{}: {}", release->version, failure.message)};
    }
    earlier.push_back(std::move(read));
  }
  return earlier;
}

FormsMade MakeStoredForms(const std::filesystem::path& server, ServerChanges& changes,
                          const std::vector<BuildFile>& files, const std::vector<Listed>& listed,
                          const std::vector<ChunkedFile>& chunks,
                          const std::vector<EarlierRelease>& earlier,
                          const std::function<void(const std::wstring&, bool)>& pace) {
  // Each earlier release's entries by path, and its contents, to find what its players hold.
  std::vector<std::vector<Listed>> byPath;
  std::vector<std::set<Digest>> contents;
  for (const EarlierRelease& release : earlier) {
    byPath.push_back(release.manifest.listed);
    std::sort(byPath.back().begin(), byPath.back().end(),
              [](const Listed& a, const Listed& b) { return a.path < b.path; });
    contents.emplace_back();
    for (const Listed& entry : release.manifest.listed) contents.back().insert(entry.sha256);
  }
  FormMaker maker(server, changes, earlier);
  FormsMade made;
  std::map<Digest, StoredContent> stored;
  for (std::size_t i = 0; i < listed.size(); ++i) {
    const Listed& entry = listed[i];
    pace(Format(L"Packing and patching: {} of {} files", i + 1, listed.size()),
         i + 1 == listed.size());
    if (entry.size == 0) continue;
    const auto [place, first] =
        stored.emplace(entry.sha256, StoredContent{entry.sha256, {}, {}, {}});
    StoredContent& forms = place->second;
    // A content the same as at another path is stored once; each path may still have patches of
    // its own, from what that path held before.
    std::optional<std::string> bytes;
    const auto read = [&]() -> const std::string& {
      if (!bytes) bytes = ReadChecked(files[i], entry);
      return *bytes;
    };
    if (first) maker.Pack(forms, entry, files[i], FindChunked(chunks, entry), read);
    for (std::size_t r = 0; r < earlier.size(); ++r) {
      const Listed* old = AtPath(byPath[r], entry.path);
      if (old == nullptr || contents[r].count(entry.sha256) > 0 ||
          old->size + entry.size > kLargestPatchedPair || old->size == 0) {
        continue;
      }
      const bool patched =
          std::any_of(forms.patches.begin(), forms.patches.end(),
                      [&](const Patch& patch) { return patch.base == old->sha256; });
      if (patched) continue;
      const std::uint64_t cheapest = CheapestOtherWay(entry, forms, chunks, *old, earlier[r]);
      if (std::optional<Patch> patch = maker.Patched(entry, read(), *old, cheapest)) {
        forms.patches.push_back(*patch);
      }
    }
  }
  for (auto& [content, forms] : stored) {
    if (!forms.packed && forms.patches.empty()) continue;
    made.packed += forms.packed ? 1 : 0;
    made.patches += forms.patches.size();
    made.stored.push_back(std::move(forms));
  }
  made.bytesWritten = maker.BytesWritten();
  return made;
}

}  // namespace launcher::publish
