#include "launcher/platform/durable_replace.h"

#include <system_error>

#include "launcher/platform/file_writer.h"

namespace launcher {

bool WriteFileDurably(const std::filesystem::path& file, std::string_view bytes) {
  FileWriter out;
  std::error_code error;
  // A write error may only show when the file is closed.
  return out.Open(file, FileWriter::Start::Empty, error) &&
         out.Write(bytes.data(), bytes.size(), error) && out.Flush(error) && out.Close(error);
}

bool ReplaceFileDurably(const std::filesystem::path& target, const std::filesystem::path& temporary,
                        std::string_view bytes) {
  return WriteFileDurably(temporary, bytes) && MoveDurably(temporary, target);
}

}  // namespace launcher
