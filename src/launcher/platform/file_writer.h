#pragma once
// Writing a file block by block so that every failure shows at the block that caused it (a full
// disk stops a transfer there, not when the file is closed), and a disk-full failure can be told
// from the others. Never writes through a link that someone planted at the name: a file begun
// empty is always a new file, and one appended to must be a plain file. Holds its file open until
// Close or destruction.

#include <cstddef>
#include <filesystem>
#include <memory>
#include <system_error>

namespace launcher {

class FileWriter {
 public:
  // A new file in place of whatever the name held (a link goes, its target stays untouched); or
  // appended to the plain file there, made when there is none.
  enum class Start { Empty, AtEnd };

  FileWriter();
  ~FileWriter();  // closes without reporting
  FileWriter(FileWriter&&) noexcept;
  FileWriter& operator=(FileWriter&&) noexcept;

  // False with `error` set when the file can't be opened or created, or when the name is a link
  // and `start` is AtEnd.
  [[nodiscard]] bool Open(const std::filesystem::path& file, Start start, std::error_code& error);
  bool IsOpen() const;

  // All `count` bytes, or false with `error` set: std::errc::no_space_on_device for a full disk
  // (or quota) on both platforms.
  [[nodiscard]] bool Write(const void* bytes, std::size_t count, std::error_code& error);

  // Makes what was written reach the disk; false with `error` set when it can't.
  [[nodiscard]] bool Flush(std::error_code& error);

  // Closes; false with `error` when the close reports a failure of an earlier write.
  [[nodiscard]] bool Close(std::error_code& error);

 private:
  struct Handle;
  std::unique_ptr<Handle> handle_;
};

// Whether an error means the disk (or the user's quota on it) is full.
bool IsDiskFull(const std::error_code& error);

}  // namespace launcher
