// Writing an output file whole or not at all.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace pdt::cli {

class FileWriteError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Writes `content` into a temporary file beside `path`, flushes it to disk and
// renames it over `path`. On any failure the temporary file is removed, an
// existing `path` stays as it was, and FileWriteError names the file and the
// system's reason.
void WriteFileAtomically(const std::string& path, std::string_view content);

}  // namespace pdt::cli
