#include "tools/publish/server/publish.h"

#include <algorithm>
#include <chrono>
#include <concepts>
#include <fstream>
#include <optional>
#include <set>
#include <string_view>
#include <system_error>
#include <vector>

#include "launcher/feed/chunk_index.h"
#include "launcher/feed/file_list.h"
#include "launcher/feed/manifest.h"
#include "launcher/feed/server_layout.h"
#include "launcher/feed/version.h"
#include "launcher/store/chunk_file.h"
#include "launcher/store/client_store.h"
#include "launcher/store/kept_files.h"
#include "launcher/store/zstd_unpack.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/read_file.h"
#include "launcher/text/text.h"
#include "launcher/transfer/block_list.h"
#include "launcher/transfer/sha256.h"
#include "tools/publish/server/blob_writer.h"
#include "tools/publish/server/build_scan.h"
#include "tools/publish/server/channels.h"
#include "tools/publish/server/server_changes.h"
#include "tools/publish/server/stored_forms.h"
#include "tools/publish/server/tar_follower.h"
#include "tools/publish/server/zstd_pack.h"
#include "tools/publish/signing/roles.h"

namespace launcher::publish {
namespace {

constexpr double kMebibyte = 1048576.0;

// Progress lines at most ten times a second, and always the last one.
class Pacer {
 public:
  explicit Pacer(const PublishProgress& progress) : progress_(progress) {}

  void operator()(const std::wstring& line, bool last = false) {
    if (Due(last)) progress_(line);
  }

  // The line made only when it is shown: for callers that report far more often than that.
  template <std::invocable MakeLine>
  void operator()(const MakeLine& makeLine, bool last = false) {
    if (Due(last)) progress_(makeLine());
  }

 private:
  bool Due(bool last) {
    if (!progress_) return false;
    const auto now = std::chrono::steady_clock::now();
    if (!last && now - shown_ < std::chrono::milliseconds(100)) return false;
    shown_ = now;
    return true;
  }

  const PublishProgress& progress_;
  std::chrono::steady_clock::time_point shown_;
};

// The archive's digest and its block list, from one read.
Digest HashArchive(const std::filesystem::path& archive, BlockList& blocks) {
  std::ifstream in(archive, std::ios::binary);
  Sha256 whole;
  blocks = BlockList{};
  std::string block(static_cast<std::size_t>(blocks.blockSize), '\0');
  while (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0) {
    const auto count = static_cast<std::size_t>(in.gcount());
    whole.Add(block.data(), count);
    blocks.blocks.push_back(DigestOf(std::string_view(block).substr(0, count)));
  }
  if (in.bad() || !in.eof()) {
    throw Failure{Format(L"{} couldn't be read", WideFromPath(archive))};
  }
  return {whole.Finish()};
}

// The launcher takes a version for a folder name only when it is a plain name that Windows keeps
// as it is and that can't be taken for one of the store's own names.
void RequirePlainVersion(const std::wstring& version) {
  if (!IsPlainName(version)) {
    throw Failure{
        Format(L"\"{}\" isn't a version the launcher accepts: use letters, digits, "
               L"\"-\" and \".\", starting with a letter or digit and not ending in \".\", and "
               L"no device name such as \"nul\" or \"com1\"",
               version)};
  }
  if (!IsStorableVersion(version)) {
    throw Failure{
        Format(L"\"{}\" isn't a version the launcher accepts: it ends like one of the "
               L"launcher's own files (.partial, .download, .parts, .record, .txt, "
               L".tmp, .log)",
               version)};
  }
}

[[noreturn]] void RefuseOtherBytes(const std::filesystem::path& path) {
  throw Failure{
      Format(L"{} is already published with other bytes: publish the changed files "
             L"under a new version",
             WideFromPath(path))};
}

// The launcher orders versions by their numbers alone: "2.3.0-beta" is 2.3.0 to it, so a name
// with more than digits and dots isn't the pre-release it looks like.
void RefuseUnorderedName(const std::wstring& version) {
  if (std::all_of(version.begin(), version.end(),
                  [](wchar_t c) { return c == L'.' || (c >= L'0' && c <= L'9'); })) {
    return;
  }
  std::wstring read;
  for (const std::uint32_t piece : ParseVersion(version)) {
    read += (read.empty() ? L"" : L".") + std::to_wstring(piece);
  }
  throw Failure{
      Format(L"\"{}\" reads to the launcher as {}: it is ordered as {} and reaches "
             L"every player of the feed it is published to. Publish a pre-release to "
             L"its own --channel, and give --allow-name if the name is what you want",
             version, read, read)};
}

// Reads every file once for its digest before anything is written, so an unreadable file stops
// the run while the server folder is still untouched. A large file is cut into its chunks in the
// same read, for `chunked` when given.
std::vector<Listed> HashBuild(const std::vector<BuildFile>& files, Pacer& pace,
                              std::vector<ChunkedFile>* chunked = nullptr) {
  std::uint64_t total = 0;
  for (const BuildFile& file : files) total += file.size;
  std::vector<Listed> listed;
  std::uint64_t done = 0;
  for (const BuildFile& file : files) {
    const auto unreadable = [&] {
      throw Failure{Format(L"{} couldn't be read", WideFromPath(file.source))};
    };
    if (chunked != nullptr && file.size >= kChunkedFileSize) {
      std::optional<ChunkedFile> chunks = ChunkFile(file.source, Narrow(file.name));
      if (!chunks || chunks->size != file.size) unreadable();
      listed.push_back({chunks->path, chunks->sha256, file.size});
      chunked->push_back(std::move(*chunks));
    } else {
      Sha256 hasher;
      if (AddFilePrefix(hasher, file.source, file.size) != file.size) unreadable();
      listed.push_back({Narrow(file.name), {hasher.Finish()}, file.size});
    }
    done += file.size;
    pace(Format(L"Hashing: {} of {} files, {:.1f} of {:.1f} MiB", listed.size(), files.size(),
                done / kMebibyte, total / kMebibyte),
         listed.size() == files.size());
  }
  return listed;
}

// The archive of files hashed on their own: tar's bytes aren't followed. Whether it is compressed.
bool MakeArchiveOf(const std::filesystem::path& build, const std::vector<Listed>& listed,
                   const std::filesystem::path& archive, const ArchiveMaker& makeArchive) {
  std::vector<std::wstring> names;
  for (const Listed& entry : listed) names.push_back(Widen(entry.path));
  return makeArchive(build, names, archive, [](const char*, std::size_t) {});
}

// The list, the large files' chunks and the archive, with the files read once: by tar, whose
// bytes are hashed (and written as blobs, when `blobs` is given) as it writes them. Large files
// are cut into chunks first, from a read of their own, and must come through tar the same.
// Nothing when tar's archive can't be followed; the build is then read another way.
struct OneRead {
  std::vector<Listed> listed;
  std::vector<ChunkedFile> chunked;
  bool compressed = false;
  BlobWriter::Written blobs;
};

std::optional<OneRead> ReadOnceByTar(const std::filesystem::path& build,
                                     const std::vector<BuildFile>& files,
                                     const std::filesystem::path& archive,
                                     const ArchiveMaker& makeArchive, Pacer& pace,
                                     ServerChanges* blobs, const std::filesystem::path& server,
                                     const wchar_t* doing = L"Archiving") {
  OneRead read;
  std::vector<std::optional<TarFollower::Member>> known(files.size());
  std::vector<std::string> names;
  std::vector<std::wstring> wideNames;
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    names.push_back(Narrow(files[i].name));
    wideNames.push_back(files[i].name);
    total += files[i].size;
    if (files[i].size < kChunkedFileSize) continue;
    std::optional<ChunkedFile> chunks = ChunkFile(files[i].source, names.back());
    if (!chunks) throw Failure{Format(L"{} couldn't be read", WideFromPath(files[i].source))};
    known[i] = TarFollower::Member{chunks->size, chunks->sha256};
    read.chunked.push_back(std::move(*chunks));
  }
  std::optional<BlobWriter> writer;
  if (blobs != nullptr) writer.emplace(server, *blobs, known);
  // Counted as tar's bytes come, so that a large file moves the line too.
  std::uint64_t done = 0;
  std::size_t ended = 0;
  const auto show = [&](bool last) {
    pace(
        [&] {
          return Format(L"{}: {} of {} files, {:.1f} of {:.1f} MiB", doing, ended, files.size(),
                        done / kMebibyte, total / kMebibyte);
        },
        last);
  };
  TarFollower follower(
      std::move(names),
      [&](std::size_t index, std::string_view bytes) {
        if (writer) writer->Bytes(index, bytes);
        done += bytes.size();
        show(false);
      },
      [&](std::size_t index, const TarFollower::Member& member) {
        if (writer) writer->Ended(index, member);
        ended = index + 1;
        show(ended == files.size());
      });
  read.compressed =
      makeArchive(build, wideNames, archive,
                  [&](const char* bytes, std::size_t count) { follower.Take(bytes, count); });
  if (!follower.Whole()) return std::nullopt;
  if (writer) read.blobs = writer->Finish();
  for (std::size_t i = 0; i < files.size(); ++i) {
    const TarFollower::Member& member = follower.Members()[i];
    if (known[i] && *known[i] != member) {
      throw Failure{
          Format(L"{} changed while it was being published", WideFromPath(files[i].source))};
    }
    read.listed.push_back({Narrow(files[i].name), member.sha256, member.size});
  }
  return read;
}

}  // namespace

namespace {

// One run of PublishRelease, step by step. Whatever it adds to the server folder is taken back
// unless it reaches its end.
class ReleaseRun {
 public:
  ReleaseRun(const std::filesystem::path& build, const std::wstring& version,
             const std::filesystem::path& server, const ArchiveMaker& makeArchive,
             const PublishProgress& progress, const ReleaseOptions& options)
      : build_(build),
        version_(version),
        server_(server),
        makeArchive_(makeArchive),
        options_(options),
        pace_(progress),
        listPath_(server / PathFromWide(layout::FileListName(version))),
        manifestPath_(server / PathFromWide(layout::ManifestName(version))) {}

  ReleaseSummary Publish() {
    Check();
    ReadBuild();
    FindArchive();
    MakeForms();
    ReportPlayers();
    WriteBlobs();
    WriteDocuments();
    // Last, and in one step: from here on launchers see the new release, whole.
    feed_.release = archive_;
    summary_.feed = PublishFeed(changes_, server_ / PathFromWide(feedName_), feed_, published_,
                                options_.signing);
    changes_.Commit();
    return std::move(summary_);
  }

 private:
  // Everything that can refuse the release before a byte is written.
  void Check() {
    RequirePlainVersion(version_);
    if (!options_.allowName) RefuseUnorderedName(version_);
    feedName_ = FeedNameOf(options_.channel);
    published_ = ReadPublishedFeed(server_, feedName_);
    RefuseDowngrade(published_, version_, options_.allowDowngrade);
    files_ = ScanBuild(build_);
    for (const std::wstring& folder : EmptyFolders(build_)) {
      summary_.warnings.push_back(
          Format(L"{} is an empty folder: a release carries files only, so players "
                 L"won't have it (the game must make it)",
                 folder));
    }
    if (options_.strict && !summary_.warnings.empty()) {
      throw Failure{
          Format(L"{} (and --strict refuses what players won't get)", summary_.warnings.front())};
    }
    feed_ = published_;
    // Every player is offered the new release: a rollout under way ends.
    feed_.rollout.reset();
    // Signed, so that a launcher installs an older release only when the studio means it.
    feed_.rollback = options_.allowDowngrade && !published_.release.version.empty() &&
                     IsNewerVersion(published_.release.version, version_);
    summary_.files = files_.size();
  }

  // The list and the chunk index, from one read by tar; a version published before is hashed
  // first, to be compared with what it holds.
  void ReadBuild() {
    std::error_code error;
    listThere_ = std::filesystem::exists(listPath_, error);
    changes_.MakeFolders(server_ / layout::kBlobFolder);
    archiveTemporary_ = changes_.Temporary(server_ / "Quellorn.tar");
    if (!listThere_) {
      once_ =
          ReadOnceByTar(build_, files_, archiveTemporary_, makeArchive_, pace_, &changes_, server_);
    }
    if (once_) {
      listed_ = std::move(once_->listed);
      chunked_ = std::move(once_->chunked);
    } else {
      listed_ = HashBuild(files_, pace_, &chunked_);
    }
    list_ = FormatFileList(listed_);
    chunkIndex_ = chunked_.empty() ? std::string() : FormatChunkIndex(chunked_);
    if (listThere_ && !HoldsExactly(listPath_, list_.size(), DigestOf(list_))) {
      RefuseOtherBytes(listPath_);
    }
    for (const Listed& entry : listed_) summary_.bytes += entry.size;
  }

  // The same build published again: its archive stands already (made perhaps by another
  // compressor), and its bytes are what players of this version have been checked against.
  void FindArchive() {
    std::error_code error;
    for (const layout::ArchiveForm form : layout::kArchiveForms) {
      const auto candidate = server_ / PathFromWide(layout::ArchiveName(version_, form));
      if (listThere_ && std::filesystem::exists(candidate, error)) archivePath_ = candidate;
    }
    archiveThere_ = !archivePath_.empty();
    if (!archiveThere_) {
      bool compressed = once_ && once_->compressed;
      if (!once_) {
        pace_(L"Making the archive\u2026", true);
        compressed = MakeArchiveOf(build_, listed_, archiveTemporary_, makeArchive_);
      }
      archivePath_ = server_ / PathFromWide(layout::ArchiveName(
                                   version_, compressed ? layout::ArchiveForm::Zstd
                                                        : layout::ArchiveForm::Plain));
    }
    const std::filesystem::path& bytes = archiveThere_ ? archivePath_ : archiveTemporary_;
    const Digest digest = HashArchive(bytes, blocks_);
    archive_ = {version_, WideFromPath(archivePath_.filename()), digest.Hex(),
                std::filesystem::file_size(bytes)};
    if (!archiveThere_ && std::filesystem::exists(archivePath_, error)) {
      // Left by a run that stopped before its list was written: used when it holds these bytes.
      if (!HoldsExactly(archivePath_, archive_.size, digest)) RefuseOtherBytes(archivePath_);
      archiveThere_ = true;
    }
  }

  // The stored forms and the packed manifest. A version published before keeps its manifest as
  // it stands: its patches were made from the releases there were then.
  void MakeForms() {
    std::error_code error;
    if (listThere_ && std::filesystem::exists(manifestPath_, error)) {
      manifest_ = ReadWholeFile(manifestPath_);
      const std::optional<std::string> text = UnpackBytes(manifest_, kLargestManifest);
      std::optional<Manifest> read;
      try {
        if (text) read = ParseManifest(*text);
      } catch (const Failure&) {
      }
      if (!read || read->listed != listed_) RefuseOtherBytes(manifestPath_);
      stored_ = std::move(read->stored);
      manifestThere_ = true;
      return;
    }
    FormsMade made =
        MakeStoredForms(server_, changes_, files_, listed_, chunked_,
                        EarlierReleases(server_, version_, options_.patchedReleases),
                        [this](const std::wstring& line, bool last) { pace_(line, last); });
    stored_ = std::move(made.stored);
    summary_.bytesWritten += made.bytesWritten;
    summary_.packed = made.packed;
    summary_.patches = made.patches;
    manifest_ = PackInFrames(FormatManifest({listed_, chunked_, stored_}));
  }

  void ReportPlayers() {
    summary_.plans = ReportUpdates(
        server_, {version_, listed_, chunked_, stored_, manifest_.size(), archive_.size});
    for (const UpdateReport& plan : summary_.plans) {
      // An update's limit: a new player takes the whole game whatever it is.
      if (plan.from.empty()) continue;
      if (options_.maxUpdateBytes > 0 && plan.bytes > options_.maxUpdateBytes) {
        throw Failure{
            Format(L"a player on {} would download {} bytes, more than the {} that "
                   L"--max-update-MB allows; nothing was published",
                   plan.from, plan.bytes, options_.maxUpdateBytes)};
      }
    }
  }

  void WriteBlobs() {
    if (once_) {
      for (const auto& [temporary, blob] : once_->blobs.blobs) changes_.Place(temporary, blob);
      summary_.blobsWritten = once_->blobs.blobs.size();
      summary_.blobsKept = once_->blobs.kept;
      summary_.bytesWritten += once_->blobs.bytes;
      return;
    }
    // Each blob copied from the build and hashed again: the build was hashed before tar read it,
    // and must not have changed since.
    for (std::size_t i = 0; i < files_.size(); ++i) {
      const auto blob = server_ / PathFromWide(layout::BlobName(listed_[i].sha256));
      if (HoldsExactly(blob, listed_[i].size, listed_[i].sha256)) {
        ++summary_.blobsKept;
      } else {
        const auto temporary = changes_.Temporary(blob);
        if (CopyHashed(files_[i].source, temporary, [](unsigned long long) {}) !=
            listed_[i].sha256) {
          throw Failure{
              Format(L"{} changed while it was being published", WideFromPath(files_[i].source))};
        }
        changes_.Place(temporary, blob);
        ++summary_.blobsWritten;
        summary_.bytesWritten += listed_[i].size;
      }
      pace_(Format(L"Writing blobs: {} of {} files, {:.1f} MiB written", i + 1, files_.size(),
                   summary_.bytesWritten / kMebibyte),
            i + 1 == files_.size());
    }
  }

  // The list and the chunk index (for launchers that read no manifest), the block list, the
  // manifest and the archive.
  void WriteDocuments() {
    WriteDocument(listPath_, list_, feed_.files, feed_.filesSha256);
    feed_.chunks.clear();
    feed_.chunksSha256.clear();
    if (!chunked_.empty()) {
      WriteDocument(server_ / PathFromWide(layout::ChunkIndexName(version_)), chunkIndex_,
                    feed_.chunks, feed_.chunksSha256);
    }
    // For launchers that unpack the archive as it arrives, checking each block before tar.
    WriteDocument(server_ / PathFromWide(layout::BlockListName(version_)), FormatBlockList(blocks_),
                  feed_.blocks, feed_.blocksSha256);
    WriteDocument(manifestPath_, manifest_, feed_.manifest, feed_.manifestSha256);
    if (!archiveThere_) {
      changes_.Place(archiveTemporary_, archivePath_);
      summary_.bytesWritten += archive_.size;
    }
  }

  // One of the release's documents, named in the feed by `name` and `sha256`: written unless it
  // stands there already with these bytes, refused when it stands there with others.
  void WriteDocument(const std::filesystem::path& path, const std::string& text, std::wstring& name,
                     std::wstring& sha256) {
    std::error_code error;
    if (!HoldsExactly(path, text.size(), DigestOf(text))) {
      if (std::filesystem::exists(path, error)) RefuseOtherBytes(path);
      changes_.Write(path, text);
      summary_.bytesWritten += text.size();
    }
    name = WideFromPath(path.filename());
    sha256 = Sha256Hex(text);
  }

  const std::filesystem::path& build_;
  const std::wstring& version_;
  const std::filesystem::path& server_;
  const ArchiveMaker& makeArchive_;
  const ReleaseOptions& options_;
  Pacer pace_;
  const std::filesystem::path listPath_;
  const std::filesystem::path manifestPath_;

  std::wstring feedName_;
  Feed published_;
  Feed feed_;
  std::vector<BuildFile> files_;
  ServerChanges changes_;
  bool listThere_ = false;
  std::filesystem::path archiveTemporary_;
  std::optional<OneRead> once_;
  std::vector<Listed> listed_;
  std::vector<ChunkedFile> chunked_;
  std::string list_;
  std::string chunkIndex_;
  std::vector<StoredContent> stored_;
  std::string manifest_;  // packed
  bool manifestThere_ = false;
  std::filesystem::path archivePath_;
  bool archiveThere_ = false;
  Release archive_;
  BlockList blocks_;
  ReleaseSummary summary_;
};

}  // namespace

ReleaseSummary PublishRelease(const std::filesystem::path& build, const std::wstring& version,
                              const std::filesystem::path& server, const ArchiveMaker& makeArchive,
                              const PublishProgress& progress, const ReleaseOptions& options) {
  return ReleaseRun(build, version, server, makeArchive, progress, options).Publish();
}

PlanSummary PlanRelease(const std::filesystem::path& build, const std::filesystem::path& server,
                        const ArchiveMaker& makeArchive, const PublishProgress& progress,
                        std::size_t patchedReleases) {
  std::error_code error;
  if (!std::filesystem::is_directory(server, error)) {
    throw Failure{Format(L"{} isn't a server folder", WideFromPath(server))};
  }
  const std::vector<BuildFile> files = ScanBuild(build);
  Pacer pace(progress);
  // Never committed: the archive and the stored forms go again whatever happens.
  ServerChanges changes;
  const auto archive = changes.Temporary(server / "Quellorn.tar");
  std::vector<ChunkedFile> chunked;
  std::vector<Listed> listed;
  if (std::optional<OneRead> once = ReadOnceByTar(build, files, archive, makeArchive, pace, nullptr,
                                                  {}, L"Reading the build")) {
    listed = std::move(once->listed);
    chunked = std::move(once->chunked);
  } else {
    listed = HashBuild(files, pace, &chunked);
    MakeArchiveOf(build, listed, archive, makeArchive);
  }
  changes.MakeFolders(server / layout::kBlobFolder);
  const FormsMade made = MakeStoredForms(
      server, changes, files, listed, chunked, EarlierReleases(server, L"", patchedReleases),
      [&pace](const std::wstring& line, bool last) { pace(line, last); });
  const std::string manifest = PackInFrames(FormatManifest({listed, chunked, made.stored}));
  const std::uint64_t archiveBytes = std::filesystem::file_size(archive);
  PlanSummary summary;
  summary.plans =
      ReportUpdates(server, {L"", listed, chunked, made.stored, manifest.size(), archiveBytes});
  const std::string list = FormatFileList(listed);
  summary.serverGrowth = archiveBytes + manifest.size() + list.size() + made.bytesWritten +
                         (chunked.empty() ? 0 : FormatChunkIndex(chunked).size());
  std::set<Digest> counted;
  for (const Listed& entry : listed) {
    const auto blob = server / PathFromWide(layout::BlobName(entry.sha256));
    if (counted.insert(entry.sha256).second && !std::filesystem::exists(blob, error)) {
      summary.serverGrowth += entry.size;
    }
  }
  return summary;
}

Release PublishLauncher(const std::filesystem::path& installer, const std::wstring& version,
                        const std::filesystem::path& server, const Signing& signing,
                        const std::wstring& channel) {
  RequirePlainVersion(version);
  const std::wstring feedName = FeedNameOf(channel);
  std::error_code error;
  if (!std::filesystem::is_regular_file(installer, error)) {
    throw Failure{Format(L"{} isn't a file", WideFromPath(installer))};
  }
  const Feed published = ReadPublishedFeed(server, feedName);
  Feed feed = published;
  if (!IsUsableRelease(feed.release)) {
    throw Failure{Format(L"{} names no release yet: publish a release first",
                         WideFromPath(server / PathFromWide(feedName)))};
  }
  ServerChanges changes;
  const auto target = server / PathFromWide(layout::InstallerName(version));
  const auto temporary = changes.Temporary(target);
  Release launcher{version, WideFromPath(target.filename()), L"", 0};
  Digest digest;
  try {
    digest = CopyHashed(installer, temporary, [](unsigned long long) {});
    launcher.sha256 = digest.Hex();
  } catch (const Failure&) {
    throw Failure{Format(L"{} couldn't be read, or {} written", WideFromPath(installer),
                         WideFromPath(target))};
  }
  launcher.size = std::filesystem::file_size(temporary);
  if (std::filesystem::exists(target, error)) {
    if (!HoldsExactly(target, launcher.size, digest)) RefuseOtherBytes(target);
  } else {
    changes.Place(temporary, target);
  }
  feed.launcher = launcher;
  // Under signed roles the installer runs only with its own document, which the launcher role
  // signs: one stolen release key can't ship one.
  const std::size_t signers = PublishLauncherDocument(changes, server, launcher, signing.keys);
  PublishFeed(changes, server / PathFromWide(feedName), feed, published, signing);
  changes.Commit();
  if (const std::optional<Root> root = NewestRoot(server)) {
    if (signers < root->launcher.threshold) {
      throw Failure{
          Format(L"the launcher {} is published, but signed by {} of the {} launcher keys "
                 L"it needs: add the others with quellorn-publish sign {} --key KEY",
                 version, signers, root->launcher.threshold,
                 WideFromPath(server / PathFromWide(layout::InstallerDocumentName(version))))};
    }
  }
  return launcher;
}

Feed Resign(const std::filesystem::path& server, const Signing& signing,
            const std::wstring& channel) {
  const std::wstring feedName = FeedNameOf(channel);
  const Feed published = ReadPublishedFeed(server, feedName);
  if (!IsUsableRelease(published.release)) {
    throw Failure{Format(L"{} names no release yet: publish a release first",
                         WideFromPath(server / PathFromWide(feedName)))};
  }
  ServerChanges changes;
  const Feed feed =
      PublishFeed(changes, server / PathFromWide(feedName), published, published, signing, true);
  changes.Commit();
  return feed;
}

}  // namespace launcher::publish
