#pragma once
// The commands of quellorn-publish for the signed roles: the first root, a rotation of a role's
// keys, a signature added to a document made elsewhere, and the timestamp signed anew (what a
// studio's cron runs every few hours).

#include <vector>

#include "tools/publish/commands/arguments.h"

namespace launcher::publish {

// Their forms, and the lines of the usage text that tell them.
extern const std::vector<Form> kRoleForms;
extern const char kRoleUsage[];

// One of them for `arguments`, whose command is one of kRoleForms'. Throws Failure.
int RunRoleCommand(const Arguments& arguments, Outcome& out);

}  // namespace launcher::publish
