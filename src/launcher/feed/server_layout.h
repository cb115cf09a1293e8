#pragma once
// Every name the update server's folder holds, made from a channel, a version or a digest: the
// feeds and their signatures, each release's archive, file list, chunk index and manifest, the
// blobs all releases share with their packed forms and patches, and the launcher installers. The
// launcher fetches by these names and the publishing tool writes, verifies and prunes by them;
// nowhere else is one spelled. Names are relative to the feed's folder, "/" between folders. Pure
// logic.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "launcher/text/digest.h"

namespace launcher::layout {

// The folder of the blobs: one file per distinct content, named by its digest.
inline constexpr wchar_t kBlobFolder[] = L"files";
// What every installer's name starts with, on the server and in the player's temporary folder.
inline constexpr wchar_t kInstallerPrefix[] = L"Quellorn-Launcher-";
inline constexpr wchar_t kSignatureSuffix[] = L".sig";

// Lower-case ASCII letters, digits and "-" inside: a channel that has a feed of its own.
bool IsChannelName(std::wstring_view channel);

// "latest.json" for the live channel (an empty name), else "latest-<channel>.json". The channel
// must be one IsChannelName takes.
std::wstring FeedName(std::wstring_view channel);
// Whether a file of the folder is some channel's feed.
bool IsFeedName(std::wstring_view name);
// The signature file beside a feed: "latest.json.sig".
std::wstring SignatureName(std::wstring_view feed);

// "files/<sha256>.bin".
std::wstring BlobName(const Digest& sha256);
// The digest of a blob's file name within the blob folder ("<sha256>.bin"); nothing for another.
std::optional<Digest> DigestOfBlob(std::wstring_view fileName);
// "files/<sha256>.zst": the blob's content as zstd frames, where that is smaller by enough.
std::wstring PackedBlobName(const Digest& sha256);
// "files/<target>-<base>.patch": a zstd frame that makes the target's content from the base's.
std::wstring PatchName(const Digest& target, const Digest& base);
// The content a blob folder's file holds or makes: its raw blob, packed blob or patch (the
// patch's target); nothing for any other name.
std::optional<Digest> ContentOfBlobFile(std::wstring_view fileName);

// How a release archive's tar is compressed: zstd, as the publisher makes it now, gzip, as older
// publishers did, or not at all. Each form has its own name; a server holds one per release.
enum class ArchiveForm : std::uint8_t { Zstd, Gzip, Plain };
inline constexpr ArchiveForm kArchiveForms[] = {ArchiveForm::Zstd, ArchiveForm::Gzip,
                                                ArchiveForm::Plain};
// "Quellorn-<version>.tar.zst", ".tar.gz" or ".tar".
std::wstring ArchiveName(std::wstring_view version, ArchiveForm form);
// "Quellorn-<version>-files.txt" and "Quellorn-<version>-chunks.txt".
std::wstring FileListName(std::wstring_view version);
std::wstring ChunkIndexName(std::wstring_view version);
// "Quellorn-<version>-blocks.txt": the archive's block list.
std::wstring BlockListName(std::wstring_view version);
// "Quellorn-<version>-manifest.zst": the list, the chunks and the stored forms in one packed
// document.
std::wstring ManifestName(std::wstring_view version);
// The version whose file list a name is; nothing for any other name.
std::optional<std::wstring> VersionOfFileList(std::wstring_view name);

// "Quellorn-Launcher-<version>.exe", and the document the launcher role signs of it,
// "Quellorn-Launcher-<version>.json".
std::wstring InstallerName(std::wstring_view version);
std::wstring InstallerDocumentName(std::wstring_view version);

// The signed roles' documents: "root/<N>.json", each version of the root, and the timestamp.
inline constexpr wchar_t kRootFolder[] = L"root";
inline constexpr wchar_t kTimestampName[] = L"timestamp.json";
std::wstring RootName(std::uint64_t version);
// Whether a file of the folder is a launcher installer.
bool IsInstallerName(std::wstring_view name);

// What the publishing tool keeps of the feeds it wrote, and when (for pruning's grace period):
// in the folder, but served to nobody and uploaded nowhere, as no name with a leading dot is.
inline constexpr wchar_t kFeedHistoryName[] = L".feed-history.txt";

// How a file of the folder travels to remote storage and through caches. Content (blobs, archives,
// lists, indexes, manifests, installers) is named by its digest or its version and never changes
// once written: it goes first and may be cached for good. The signed documents change with every
// publish and must reach players fresh; each names only what goes before it, in this order: the
// installers' documents, the versions of the root, the channels' feeds, and the timestamp that
// names the feeds. Signatures go with their document. Nothing for a name that isn't served (one
// with a leading dot in any of its folders, a temporary of the publishing tool's).
enum class Served : std::uint8_t { Content, InstallerDocument, Root, Feed, Timestamp };
std::optional<Served> ServedAs(std::wstring_view path);

}  // namespace launcher::layout
