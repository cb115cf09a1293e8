#pragma once
// The commands of quellorn-publish for what lies beyond the local server folder: upload (the
// folder onto remote storage, in the order that keeps every reader whole) and rollout (a release
// offered to a share of the players first); and the upload that --to adds to every command that
// changes the folder.

#include <vector>

#include "tools/publish/commands/arguments.h"
#include "tools/publish/server/publish.h"

namespace launcher::publish {

// Their forms, and the lines of the usage text that tell them.
extern const std::vector<Form> kRemoteForms;
extern const char kRemoteUsage[];

// One of them for `arguments`, whose command is one of kRemoteForms'. Throws Failure.
int RunRemoteCommand(const Arguments& arguments, Outcome& out, const PublishProgress& progress);

// With --to REMOTE: the server folder uploaded there, and the outcome told in `out`. Nothing
// without. Throws Failure.
void UploadIfAsked(const Arguments& arguments, Outcome& out, const PublishProgress& progress);

}  // namespace launcher::publish
