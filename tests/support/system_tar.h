#pragma once
// Makes sure the system has the tar that Unpack starts. Wine has no tar.exe: there the test
// extractor built beside the tests is put into the system folder. A system that has its own tar
// (Linux, a real Windows) is left alone.

namespace launcher::support {

void ProvideSystemTar();

}  // namespace launcher::support
