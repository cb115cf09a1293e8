#include "launcher/transfer/write_failure.h"

#include <algorithm>

#include "launcher/platform/file_writer.h"
#include "launcher/text/format.h"

namespace launcher {

Failure NotEnoughSpace(std::uint64_t missingBytes) {
  constexpr std::uint64_t kMegabyte = 1048576;
  const std::uint64_t megabytes =
      std::max<std::uint64_t>(1, missingBytes / kMegabyte + (missingBytes % kMegabyte != 0));
  return Failure{
      Format(L"There isn't enough free space on the disk: {} MB more are needed.", megabytes)};
}

void ThrowWriteFailure(const std::error_code& error, std::uint64_t stillToWrite,
                       const std::wstring& otherwise) {
  if (IsDiskFull(error)) throw NotEnoughSpace(stillToWrite);
  throw Failure{otherwise};
}

}  // namespace launcher
