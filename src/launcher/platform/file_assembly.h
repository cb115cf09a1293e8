#pragma once
// A new file put together in order from stretches of an existing file and bytes in memory. The
// stretches are copied by the system itself where it can (Linux: copy_file_range, which shares
// the blocks on file systems that can; Windows: block cloning on volumes that support it), not
// through this process; and what was put together can be read back at any offset from several
// threads at once while more is added, so that copied bytes are checked where they now lie. Like
// FileWriter, never writes through a link planted at the new file's name.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <system_error>

namespace launcher {

class FileAssembly {
 public:
  FileAssembly();
  ~FileAssembly();  // closes both files without reporting
  FileAssembly(const FileAssembly&) = delete;
  FileAssembly& operator=(const FileAssembly&) = delete;

  // Opens `source` for reading (not through a link) and makes `target` a new, empty file in
  // place of whatever the name held. False with `error` set when either can't be.
  [[nodiscard]] bool Open(const std::filesystem::path& source, const std::filesystem::path& target,
                          std::error_code& error);

  // Adds `count` bytes of the source from `offset`. False with `error` set when they can't be
  // read or written (std::errc::no_space_on_device for a full disk); a source that ends before
  // them is an error too.
  [[nodiscard]] bool Copy(std::uint64_t offset, std::uint64_t count, std::error_code& error);

  // Adds `count` bytes from memory.
  [[nodiscard]] bool Write(const void* bytes, std::size_t count, std::error_code& error);

  // Reads `count` bytes of what was added, from `offset`; any thread, while more is added.
  [[nodiscard]] bool ReadBack(std::uint64_t offset, void* buffer, std::size_t count) const;

  // Closes both; false with `error` when the close reports a failure of an earlier write.
  [[nodiscard]] bool Close(std::error_code& error);

 private:
  struct Files;
  std::unique_ptr<Files> files_;
  std::atomic<std::uint64_t> size_ = 0;  // what was added so far: where the next stretch goes
};

}  // namespace launcher
