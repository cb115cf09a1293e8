#include "tools/publish/reports/verify.h"

#include <filesystem>
#include <memory>
#include <random>
#include <system_error>

#include "launcher/feed/feed.h"
#include "launcher/feed/file_list.h"
#include "launcher/feed/manifest.h"
#include "launcher/feed/server_layout.h"
#include "launcher/platform/temporary_directory.h"
#include "launcher/store/kept_files.h"
#include "launcher/store/zstd_unpack.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/read_file.h"
#include "launcher/text/text.h"
#include "launcher/transfer/block_list.h"
#include "launcher/transfer/download.h"
#include "launcher/transfer/sha256.h"
#include "launcher/transfer/text_fetch.h"
#include "launcher/trust/feed_trust.h"
#include "launcher/trust/signed_roles.h"
#include "tools/publish/server/channels.h"
#include "tools/publish/server/publish.h"

namespace launcher::publish {
namespace {

// Where the published files are read from: a folder, or the server over HTTP(S).
class Source {
 public:
  virtual ~Source() = default;
  // The file's bytes, or the problem with it.
  virtual std::string Text(const std::wstring& name, std::uint64_t limit) = 0;
  // Empty when the file is there with exactly this size and digest, else the problem.
  virtual std::wstring Check(const Release& file) = 0;
};

class FolderSource : public Source {
 public:
  explicit FolderSource(std::filesystem::path folder) : folder_(std::move(folder)) {}

  std::string Text(const std::wstring& name, std::uint64_t) override {
    const auto path = folder_ / PathFromWide(name);
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) throw Failure{L"missing"};
    return ReadWholeFile(path);
  }

  std::wstring Check(const Release& file) override {
    const auto path = folder_ / PathFromWide(file.file);
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return L"missing";
    const std::uint64_t size = std::filesystem::file_size(path, error);
    if (size != file.size) return Format(L"{} bytes, the feed promises {}", size, file.size);
    if (HashFile(path).Hex() != file.sha256) return L"its SHA-256 isn't the one promised";
    return {};
  }

 private:
  std::filesystem::path folder_;
};

class WebSource : public Source {
 public:
  explicit WebSource(const std::wstring& feedUrl)
      : base_(feedUrl.substr(0, feedUrl.rfind(L'/') + 1)),
        scratch_(TemporaryDirectory() /
                 PathFromWide(Format(L"quellorn-verify-{:016x}", RandomNumber()))) {
    std::filesystem::create_directories(scratch_);
  }
  ~WebSource() override {
    std::error_code ignored;
    std::filesystem::remove_all(scratch_, ignored);
  }

  std::string Text(const std::wstring& name, std::uint64_t limit) override {
    return GetText(base_ + name, limit);
  }

  // The launcher's own Download, which checks size and digest as it goes.
  std::wstring Check(const Release& file) override {
    const auto path = scratch_ / "file";
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    try {
      Download(base_ + file.file, file.size, file.sha256, path, [](std::uint64_t) {});
    } catch (const Failure& failure) {
      return failure.message;
    }
    std::filesystem::remove(path, ignored);
    return {};
  }

 private:
  static std::uint64_t RandomNumber() {
    std::random_device random;
    return (std::uint64_t{random()} << 32) | random();
  }

  std::wstring base_;
  std::filesystem::path scratch_;
};

void CheckFile(Source& source, const Release& file, const std::wstring& shown, Verdict& verdict) {
  const std::wstring problem = source.Check(file);
  if (problem.empty()) {
    ++verdict.checked;
  } else {
    verdict.problems.push_back(shown + L": " + problem);
  }
}

void CheckFileList(Source& source, const Feed& feed, Verdict& verdict) {
  std::string text;
  try {
    text = source.Text(feed.files, kFileListLimit);
  } catch (const Failure& failure) {
    verdict.problems.push_back(feed.files + L": " + failure.message);
    return;
  }
  if (Sha256Hex(text) != feed.filesSha256) {
    verdict.problems.push_back(feed.files + L": its SHA-256 isn't the feed's \"filesSha256\"");
  }
  std::vector<Listed> listed;
  try {
    listed = ParseFileList(text);
  } catch (const Failure& failure) {
    verdict.problems.push_back(feed.files + L": " + failure.message);
    return;
  }
  ++verdict.checked;
  for (const Listed& entry : listed) {
    const Release blob{L"", layout::BlobName(entry.sha256), entry.sha256.Hex(), entry.size};
    CheckFile(source, blob, blob.file + L" (" + Widen(entry.path) + L")", verdict);
  }
}

// The manifest: the feed's, the same list as the file list, and every stored form it names there
// with its size and digest.
void CheckManifest(Source& source, const Feed& feed, Verdict& verdict) {
  Manifest manifest;
  try {
    const std::string packed = source.Text(feed.manifest, kFileListLimit);
    if (Sha256Hex(packed) != feed.manifestSha256) {
      verdict.problems.push_back(feed.manifest +
                                 L": its SHA-256 isn't the feed's \"manifestSha256\"");
      return;
    }
    const std::optional<std::string> text = UnpackBytes(packed, kLargestManifest);
    if (!text) throw Failure{L"The release's manifest isn't one"};
    manifest = ParseManifest(*text);
    if (!feed.files.empty() &&
        manifest.listed != ParseFileList(source.Text(feed.files, kFileListLimit))) {
      throw Failure{Format(L"its files aren't those of {}", feed.files)};
    }
  } catch (const Failure& failure) {
    verdict.problems.push_back(feed.manifest + L": " + failure.message);
    return;
  }
  ++verdict.checked;
  const auto check = [&](const std::wstring& name, const StoredForm& form) {
    CheckFile(source, {L"", name, form.sha256.Hex(), form.size}, name, verdict);
  };
  for (const StoredContent& forms : manifest.stored) {
    if (forms.packed) check(layout::PackedBlobName(forms.content), *forms.packed);
    for (const Patch& patch : forms.patches) {
      check(layout::PatchName(forms.content, patch.base), patch.stored);
    }
  }
}

// The archive's block list: the feed's, and one that fits the archive.
void CheckBlockList(Source& source, const Feed& feed, Verdict& verdict) {
  try {
    const std::string text = source.Text(feed.blocks, kFileListLimit);
    if (Sha256Hex(text) != feed.blocksSha256) {
      verdict.problems.push_back(feed.blocks + L": its SHA-256 isn't the feed's \"blocksSha256\"");
      return;
    }
    static_cast<void>(ParseBlockList(text, feed.release.size));
    ++verdict.checked;
  } catch (const Failure& failure) {
    verdict.problems.push_back(feed.blocks + L": " + failure.message);
  }
}

// The timestamp, signed by the timestamp role of `newest`, naming each feed as it stands, each
// signed by the release role.
void VerifyTimestamp(Source& source, const Root& newest, const std::vector<std::wstring>& feedNames,
                     Verdict& verdict) {
  const auto now = std::chrono::system_clock::now();
  try {
    const std::string text = source.Text(layout::kTimestampName, kFeedLimit);
    const std::string signatures =
        source.Text(layout::SignatureName(layout::kTimestampName), kSignatureLimit);
    const std::optional<Timestamp> timestamp = ParseTimestamp(text);
    if (!timestamp || !SignedBy(text, signatures, newest.timestamp)) {
      verdict.problems.push_back(L"timestamp.json: it isn't signed by the timestamp keys");
      return;
    }
    if (HasExpired(timestamp->expires, now)) {
      verdict.problems.push_back(L"timestamp.json: expired at " + timestamp->expires +
                                 L": launchers can't check for updates; sign it anew");
    }
    for (const std::wstring& feedName : feedNames) {
      const std::string feedText = source.Text(feedName, kFeedLimit);
      const auto named = timestamp->feeds.find(feedName);
      if (named == timestamp->feeds.end() || named->second.sha256 != DigestOf(feedText)) {
        verdict.problems.push_back(feedName + L": the timestamp doesn't name it as it stands");
      } else if (!SignedBy(feedText, source.Text(layout::SignatureName(feedName), kSignatureLimit),
                           newest.release)) {
        verdict.problems.push_back(feedName + L": it isn't signed by the release keys");
      } else {
        ++verdict.checked;
      }
    }
  } catch (const Failure& failure) {
    verdict.problems.push_back(L"the signed roles: " + failure.message);
  }
}

// The signed roles, when the server has them: every root following the one before, and the
// timestamp naming each channel's feed as it stands, signed by the roles of the newest root.
// Nothing when there is no root.
void VerifyRoles(Source& source, const std::vector<std::wstring>& feedNames, Verdict& verdict) {
  std::optional<Root> newest;
  for (std::uint64_t version = 1;; ++version) {
    const std::wstring name = layout::RootName(version);
    std::string text;
    std::string signatures;
    try {
      text = source.Text(name, kFeedLimit);
      signatures = source.Text(layout::SignatureName(name), kSignatureLimit);
    } catch (const Failure&) {
      break;
    }
    const std::optional<Root> root = ParseRoot(text);
    const std::optional<std::wstring> why =
        newest ? WhyNotNextRoot(*newest, text, signatures)
               : (root && SignedBy(text, signatures, root->root)
                      ? std::nullopt
                      : std::optional<std::wstring>(L"it isn't a root signed by its root keys"));
    if (why) {
      verdict.problems.push_back(name + L": " + *why);
      return;
    }
    newest = root;
    ++verdict.checked;
  }
  if (!newest) return;
  const auto now = std::chrono::system_clock::now();
  if (HasExpired(newest->expires, now)) {
    verdict.problems.push_back(Format(L"root {} expired at {}", newest->version, newest->expires));
  }
  VerifyTimestamp(source, *newest, feedNames, verdict);
}

// The release a feed offers and everything that comes with it: its archive, block list, manifest
// and file list with every blob.
void VerifyRelease(Source& source, const std::wstring& feedName, const Feed& feed,
                   Verdict& verdict) {
  if (IsUsableRelease(feed.release)) {
    CheckFile(source, feed.release, feed.release.file, verdict);
  } else {
    verdict.problems.push_back(feedName + L": names no usable release");
  }
  if (!feed.blocks.empty()) CheckBlockList(source, feed, verdict);
  if (!feed.manifest.empty()) {
    if (IsPlainName(feed.manifest)) {
      CheckManifest(source, feed, verdict);
    } else {
      verdict.problems.push_back(feedName + L": \"manifest\" isn't a plain file name");
    }
  }
  if (!feed.files.empty()) {
    if (IsPlainName(feed.files)) {
      CheckFileList(source, feed, verdict);
    } else {
      verdict.problems.push_back(feedName + L": \"files\" isn't a plain file name");
    }
  }
}

// One channel's feed and everything it names, a rollout's release too; a file named by several
// channels is checked for each.
void VerifyFeed(Source& source, const std::wstring& feedName, const std::vector<PublicKey>& keys,
                Verdict& verdict) {
  Feed feed;
  std::string feedText;
  try {
    feedText = source.Text(feedName, kFeedLimit);
    feed = ParseFeed(feedText);
  } catch (const Failure& failure) {
    verdict.problems.push_back(feedName + L": " + failure.message);
    return;
  }
  ++verdict.checked;
  if (!keys.empty()) {
    const std::wstring signatureName = layout::SignatureName(feedName);
    try {
      const std::string signatures = source.Text(signatureName, kSignatureLimit);
      if (const auto why = WhyUntrusted(feedText, feed, signatures, keys,
                                        std::chrono::system_clock::now(), std::nullopt)) {
        verdict.problems.push_back(feedName + L": a signed launcher won't believe it: " + *why);
      } else {
        ++verdict.checked;
      }
    } catch (const Failure& failure) {
      verdict.problems.push_back(signatureName + L": " + failure.message);
    }
  }
  if (verdict.version.empty()) verdict.version = feed.release.version;
  if (feed.launcher) {
    if (IsUsableRelease(*feed.launcher)) {
      CheckFile(source, *feed.launcher, feed.launcher->file, verdict);
    } else {
      verdict.problems.push_back(feedName + L": names a launcher that can't be used");
    }
  }
  VerifyRelease(source, feedName, feed, verdict);
  if (feed.rollout) VerifyRelease(source, feedName + L" (its rollout)", RolledOut(feed), verdict);
}

}  // namespace

Verdict Verify(const std::wstring& target, const std::vector<PublicKey>& keys) {
  const bool web = target.rfind(L"http://", 0) == 0 || target.rfind(L"https://", 0) == 0;
  std::unique_ptr<Source> source;
  std::vector<std::wstring> feedNames;
  if (web) {
    source = std::make_unique<WebSource>(target);
    feedNames.push_back(target.substr(target.rfind(L'/') + 1));
  } else {
    source = std::make_unique<FolderSource>(PathFromWide(target));
    feedNames = ChannelFeeds(PathFromWide(target));
    if (feedNames.empty()) feedNames.push_back(layout::FeedName(L""));  // reported as missing
  }
  Verdict verdict;
  for (const std::wstring& feedName : feedNames) VerifyFeed(*source, feedName, keys, verdict);
  VerifyRoles(*source, feedNames, verdict);
  return verdict;
}

}  // namespace launcher::publish
