#pragma once
// Running one of the system's programs (tar): an argument vector that reaches the program
// word for word, no shell, no console window, the program bound to the launcher's life (it ends
// when the launcher is killed), and a wait for its end without a time limit. Either run to its
// end at once, fed through its standard input, or read from its standard output.

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

namespace launcher {

// An argument in the system's own text: UTF-8 bytes on Linux, UTF-16 on Windows, as a path
// holds it.
using ProgramWord = std::filesystem::path::string_type;

// `program` is a full path, or on Linux a bare name looked up on the PATH. Returns its exit code
// (-1 when it didn't exit normally), or nothing when it couldn't be started.
std::optional<int> RunToEnd(const std::filesystem::path& program,
                            const std::vector<ProgramWord>& arguments);

// The platform's side of a program on a pipe: the child, the launcher's end, its exit code.
struct PipedChild;

// What a pipe to or from a program holds, on both systems. Less (Linux's own is 64 KiB) and a
// launcher that receives and a tar that unpacks keep waiting for each other by turns: an archive
// install took a fifth longer.
constexpr std::size_t kPipeBytes = std::size_t{1} << 20;

// A program started with a pipe from the launcher as its standard input. On Linux the program
// ends with the thread that started it (its parent-death signal): start it on a thread that
// outlives its work.
class FedProgram {
 public:
  // `program` as for RunToEnd; its standard output goes to `output` (made anew) when given. One
  // that can't be started (nor its output made) takes no input and finishes with -1.
  FedProgram(const std::filesystem::path& program, const std::vector<ProgramWord>& arguments,
             const std::filesystem::path& output = {});
  ~FedProgram();  // closes the program's input and waits for its end, as Finish
  FedProgram(FedProgram&&) noexcept;
  FedProgram& operator=(FedProgram&&) noexcept;

  // Blocks while the pipe is full. False once the program takes no more input (it ended, or
  // never started): these bytes and all later ones are lost to it.
  bool Feed(const void* bytes, std::size_t count);
  // Closes the program's input (end of file) and waits for its end: its exit code, -1 when it
  // didn't exit normally or never started. Once; later calls give the same.
  int Finish();
  // Whether the program could be started at all.
  bool Started() const;

 private:
  std::unique_ptr<PipedChild> state_;
};

// A program started with a pipe to the launcher as its standard output.
class TappedProgram {
 public:
  // `program` as for RunToEnd. One that can't be started gives no output and finishes with -1.
  TappedProgram(const std::filesystem::path& program, const std::vector<ProgramWord>& arguments);
  ~TappedProgram();  // closes the launcher's end and waits for the program's end, as Finish
  TappedProgram(TappedProgram&&) noexcept;
  TappedProgram& operator=(TappedProgram&&) noexcept;

  // Blocks until the program writes: the count of bytes read into `bytes`, 0 once its output has
  // ended (it closed it, ended, or never started).
  std::size_t Read(void* bytes, std::size_t count);
  // Closes the launcher's end (a program still writing fails) and waits for its end: its exit
  // code, -1 when it didn't exit normally or never started. Once; later calls give the same.
  int Finish();

 private:
  std::unique_ptr<PipedChild> state_;
};

}  // namespace launcher
