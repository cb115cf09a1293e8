#include "tools/publish/commands/remote_commands.h"

#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/numbers.h"
#include "launcher/text/text.h"
#include "tools/publish/server/channels.h"
#include "tools/publish/server/remote.h"

namespace launcher::publish {

const std::vector<Form> kRemoteForms = {
    {L"upload", 0, {L"--server", L"--to"}, {L"--server", L"--to"}, {}},
    {L"rollout",
     1,
     {L"--server", L"--channel", L"--percent", L"--key*", L"--expires", L"--to"},
     {L"--server"},
     {L"--halt", L"--allow-downgrade"}},
};

const char kRemoteUsage[] =
    "       quellorn-publish upload --server SERVER_FOLDER --to REMOTE\n"
    "       quellorn-publish rollout VERSION --server SERVER_FOLDER --percent P [--channel NAME]\n"
    "                        [--key KEY_FILE]... [--expires DAYS] [--to REMOTE]\n"
    "       quellorn-publish rollout VERSION --server SERVER_FOLDER --halt [--allow-downgrade]\n"
    "                        [--channel NAME] [--key KEY_FILE]... [--expires DAYS] [--to REMOTE]\n";

namespace {

int RunUpload(const Arguments& arguments, Outcome& out, const PublishProgress& progress) {
  UploadIfAsked(arguments, out, progress);
  return 0;
}

int RunRollout(const Arguments& arguments, Outcome& out, const PublishProgress& progress) {
  const std::filesystem::path server = PathFromWide(arguments.Option(L"--server"));
  const std::wstring channel = arguments.Option(L"--channel");
  const std::wstring version = arguments.Subject();
  const std::wstring percentText = arguments.Option(L"--percent");
  const bool halt = arguments.Has(L"--halt");
  if (halt == !percentText.empty()) {
    throw Failure{L"rollout takes either --percent P or --halt"};
  }
  Feed feed;
  if (halt) {
    const Feed published = ReadPublishedFeed(server, FeedNameOf(channel));
    if (published.rollout && published.rollout->release.version != version) {
      throw Failure{Format(L"{} rolls out {}, not {}", FeedNameOf(channel),
                           published.rollout->release.version, version)};
    }
    feed = HaltRollout(server, channel, SigningOf(arguments), arguments.Has(L"--allow-downgrade"));
    out.Line(Format(L"{} offers {} alone again; players who took {} {}", FeedNameOf(channel),
                    feed.release.version, version, feed.rollback ? L"are moved back" : L"keep it"));
  } else {
    if (arguments.Has(L"--allow-downgrade")) {
      throw Failure{L"--allow-downgrade goes with --halt: a rollout only moves players forward"};
    }
    const auto percent = ReadUnsigned(std::wstring_view(percentText), 100, Minus::Refused);
    if (!percent || *percent == 0) {
      throw Failure{
          Format(L"--percent takes a whole number from 1 to 100, not \"{}\"", percentText)};
    }
    feed = RollOut(server, version, static_cast<std::uint32_t>(*percent), channel,
                   SigningOf(arguments));
    out.Line(feed.rollout ? Format(L"{} offers {} to {} % of the players and {} to the rest",
                                   FeedNameOf(channel), version, *percent, feed.release.version)
                          : Format(L"{} offers {} to every player", FeedNameOf(channel), version));
  }
  out.document.Text("feed", FeedNameOf(channel))
      .Text("version", feed.release.version)
      .Text("rollout", feed.rollout ? feed.rollout->release.version : L"")
      .Number("percent", feed.rollout ? feed.rollout->percent : 0)
      .Bool("rollback", feed.rollback);
  UploadIfAsked(arguments, out, progress);
  return 0;
}

}  // namespace

int RunRemoteCommand(const Arguments& arguments, Outcome& out, const PublishProgress& progress) {
  if (arguments.command == L"upload") return RunUpload(arguments, out, progress);
  return RunRollout(arguments, out, progress);
}

void UploadIfAsked(const Arguments& arguments, Outcome& out, const PublishProgress& progress) {
  const std::wstring remote = arguments.Option(L"--to");
  if (remote.empty()) return;
  const UploadOutcome upload =
      Upload(PathFromWide(arguments.Option(L"--server")), remote, progress);
  out.document.Raw("upload", JsonDocument()
                                 .Text("to", remote)
                                 .Number("contentSent", upload.contentSent)
                                 .Number("bytesSent", upload.bytesSent)
                                 .Number("contentThere", upload.contentThere)
                                 .Number("documentsSent", upload.documentsSent)
                                 .Close());
  out.Line(
      Format(L"Uploaded to {}: {} files of content ({:.1f} MiB), {} there already; then {} "
             L"signed documents",
             remote, upload.contentSent, upload.bytesSent / 1048576.0, upload.contentThere,
             upload.documentsSent));
}

}  // namespace launcher::publish
