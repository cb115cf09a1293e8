#include "tools/publish/server/tar_follower.h"

#include <utility>

#include "launcher/text/failure.h"

namespace launcher::publish {

TarFollower::TarFollower(std::vector<std::string> names, Bytes bytes, Ended ended)
    : names_(std::move(names)),
      bytes_(std::move(bytes)),
      ended_(std::move(ended)),
      reader_({[this](const TarEntries::Entry& entry) { Entry(entry); },
               [this](std::string_view data) {
                 hasher_.Add(data.data(), data.size());
                 bytes_(members_.size(), data);
               },
               [this] { FileEnd(); },
               {}}) {
  members_.reserve(names_.size());
}

void TarFollower::Take(const char* bytes, std::size_t count) {
  if (state_ != State::Following) return;  // what follows the end is tar's padding of its record
  try {
    reader_.Take(bytes, count);
  } catch (const Failure&) {
    state_ = State::Lost;
    return;
  }
  if (reader_.Ended()) state_ = members_.size() == names_.size() ? State::Ended : State::Lost;
}

void TarFollower::Entry(const TarEntries::Entry& entry) {
  // A link, a folder or anything else a build's list doesn't give; another name, or one more.
  if (entry.kind != TarEntries::Kind::File || members_.size() == names_.size() ||
      entry.name != names_[members_.size()]) {
    throw Failure{L"not followed"};
  }
  hasher_ = Sha256();
  fileSize_ = entry.size;
}

void TarFollower::FileEnd() {
  const Member member{fileSize_, {hasher_.Finish()}};
  members_.push_back(member);
  ended_(members_.size() - 1, member);
}

}  // namespace launcher::publish
