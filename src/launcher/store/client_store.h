#pragma once
// The client store: the folder "Client" beside the launcher, one folder per installed version and
// current.txt naming the one to start. A version becomes current only by an atomic replace of
// current.txt, after every byte of it is checked and on the disk, so the previous one stays
// startable until the new one is complete. Used from one thread at a time; the single-instance
// lock keeps other launchers away.
//
// Beside the versions the store holds its own files and, for a version V being installed, its
// working names: V.download (the archive), V.partial (the staging folder) and V.parts (single
// files while they download, by digest); and V.record, what each file of an installed version V
// held when it was verified. No version may be named like any of them.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "launcher/feed/chunk_index.h"
#include "launcher/feed/file_list.h"
#include "launcher/feed/manifest.h"
#include "launcher/feed/release.h"
#include "launcher/store/stage.h"
#include "launcher/transfer/block_list.h"
#include "launcher/trust/trust_state.h"

namespace launcher {

// Whether `version` can be a folder of the store: a name that can't be taken for current.txt,
// another of the store's files or folders ("roots") or a working name of some version (it doesn't
// end in ".partial", ".download", ".parts", ".record", ".txt", ".tmp" or ".log", in any letter
// case). Plain names are checked elsewhere.
bool IsStorableVersion(const std::wstring& version);

// What a look at an installed version found: the files it should hold, and those that don't hold
// what they should.
struct Inspection {
  std::vector<Listed> listed;
  std::vector<Listed> damaged;
};

struct KeptFile;
struct StagingPlan;

// The archive's block list, fetched when the archive is taken; none when the feed names none that
// can be used.
using ArchiveBlocks = std::function<std::optional<BlockList>()>;

struct InstallOptions {
  // Kept files are hashed as they are copied, whatever the version's record says of them.
  bool hashKept = false;
  // Files the record vouches for enter the new version as hard links; without, they are copied
  // as on a file system that has no links.
  bool linkKept = true;
  // When given: how each listed file came, by its place in the list (all from the archive when
  // that was taken).
  std::vector<Came>* came = nullptr;
};

class ClientStore {
 public:
  explicit ClientStore(std::filesystem::path storeRoot) : root(std::move(storeRoot)) {}

  // The current version's name, or empty when current.txt is missing, unreadable, not a plain
  // name (trailing white space is forgiven) or names a version without its executable.
  std::wstring Current() const;

  // root / version / "Quellorn.exe"; doesn't touch the disk.
  std::filesystem::path Executable(const std::wstring& version) const;

  // Removes every entry of the root but the current version's folder and record, current.txt and
  // the store's own files (feed-sequence.txt, trust.txt, roots, identity.txt, launcher.log, .lock).
  // Does nothing when no version is current. Throws std::filesystem::filesystem_error only when the
  // listing can't be advanced.
  void Prune() const;

  // Brings `release` into the store and makes it current: by its archive, or file by file when
  // a current version holds enough of `listed` to carry over (by the version's record, without
  // reading them, unless `options.hashKept`), as PlanUpdate chooses. All or nothing: until the
  // last step the previous version stays current and untouched, and what a failed attempt leaves is
  // reused by the next. `listed` is the release's file list when the feed names a usable one, else
  // empty; the staged version must hold what it lists. `base` is the feed's folder URL, ending
  // in "/". Throws Failure or std::filesystem::filesystem_error.
  // A changed large file that `chunks` names is built from the chunks the current version's file
  // at its path still holds, the rest fetched by Range requests. A file that `stored` has a patch
  // for from an installed content is made by it, and one fetched whole comes packed where the
  // server holds it so.
  // The archive, when it is taken, is checked block by block by the list `blocks` gives (asked
  // for only then) as it arrives, or as a whole before it is unpacked when there is none.
  void Install(const Release& release, const std::wstring& base, const std::vector<Listed>& listed,
               const InstallProgress& progress, const std::vector<ChunkedFile>& chunks = {},
               const InstallOptions& options = {}, const ArchiveBlocks& blocks = {},
               const std::vector<StoredContent>& stored = {}) const;

  // By the version's record: a file that is missing or has another size or time than recorded is
  // damaged. No contents are read. Finds nothing for a version without a record, and nothing
  // (listing nothing) when no name in any of its folders was created, deleted or renamed since
  // the record was written: a change inside a file is then found by --repair or the next update.
  Inspection InspectByRecord(const std::wstring& version) const;

  // Every file of `listed` hashed: one that isn't its entry's bytes is damaged. Reports Checking
  // progress.
  Inspection InspectByHashing(const std::wstring& version, std::vector<Listed> listed,
                              const InstallProgress& progress) const;

  // Fetches the damaged files of the installed `version` (up to six at a time, resumed through
  // "<version>.parts") and puts each in place of what its folder holds once verified, then records
  // the version anew. Every file is replaced in one step, so a repair cut short leaves no file
  // worse than it was. Reports Downloading progress. Throws Failure or
  // std::filesystem::filesystem_error.
  void Repair(const std::wstring& version, const std::wstring& base, const Inspection& inspection,
              const InstallProgress& progress) const;

  // Makes `version` current through current.txt.tmp, whose bytes reach the disk before the
  // atomic move. Throws Failure("The new version couldn't be named current") when any step fails;
  // current.txt then still names the previous version.
  void NameCurrent(const std::wstring& version) const;

  // The highest sequence number of a signed feed accepted so far (feed-sequence.txt); nothing
  // before the first.
  std::optional<std::uint64_t> AcceptedSequence() const;

  // Records `sequence` when it is higher than the one recorded, in the same durable way as
  // current.txt. False when it couldn't be written.
  [[nodiscard]] bool AcceptSequence(std::uint64_t sequence) const;

  // What a launcher with a root has accepted (trust.txt and its copy in roots/), each value the
  // highest any copy holds; an unreadable copy counts as none.
  TrustState AcceptedTrust() const;

  // Records `state` merged with what is recorded, in both copies, each in the same durable way as
  // current.txt. False when a copy couldn't be written.
  [[nodiscard]] bool AcceptTrust(const TrustState& state) const;

  // This installation's own identity (identity.txt: 32 random hexadecimal digits), made and kept
  // durably the first time it is asked for: what decides its side of a staged rollout. It never
  // leaves the machine. One that can't be kept is made anew at each start.
  std::string Identity() const;

  // The roots accepted so far, as the update server holds them: roots/<N>.json and its ".sig".
  std::filesystem::path RootsFolder() const { return root / "roots"; }

  const std::filesystem::path root;

 private:
  // Removes the working names of every version but `installing`, and a leftover
  // current.txt.tmp: what earlier attempts at other versions left must not take the room this
  // install needs.
  void RemoveLeftovers(const std::wstring& installing) const;

  // The steps of Install: the staging folder filled from the archive, or file by file as the
  // plan says; then the staged version checked, put on the disk and made current.
  void StageByArchive(const Release& release, const std::wstring& base,
                      const std::vector<Listed>& listed, const ArchiveBlocks& blocks,
                      const InstallProgress& progress) const;
  void StageByFiles(const std::wstring& version, const std::wstring& base,
                    const std::vector<Listed>& listed, StagingPlan& plan,
                    const InstallProgress& progress, const std::vector<ChunkedFile>& chunks) const;
  void Switch(const std::wstring& version, const std::vector<Listed>& listed,
              const std::vector<KeptFile>& kept, bool exact,
              const std::vector<ChunkedFile>& chunks) const;
};

}  // namespace launcher
