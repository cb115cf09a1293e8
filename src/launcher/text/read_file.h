#pragma once
// Small files read whole: launcher.json, current.txt.

#include <filesystem>
#include <string>

namespace launcher {

// All bytes of the file, untranslated. A file that is missing or can't be read (a folder by that
// name, say) reads as no bytes; nothing is thrown.
std::string ReadWholeFile(const std::filesystem::path& file);

}  // namespace launcher
