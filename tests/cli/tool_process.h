// Runs the built pdt program as a child process, its standard output and
// error captured in files, for the whole-program tests.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace pdt::cli::testing {

class ToolProcess {
  public:
    // Starts `pdt args...`; stdout and stderr go to files in `workDir`.
    ToolProcess(const std::vector<std::string>& args, const std::filesystem::path& workDir,
                const std::string& name);
    ~ToolProcess();  // kills the process if it still runs
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;

    void Signal(int signal);
    // The exit code (128 + n for death by signal n), or -1 when it did not
    // end within `limit` (it is then killed).
    int Wait(std::chrono::milliseconds limit = std::chrono::seconds(20));
    std::string Out() const;
    std::string Err() const;

  private:
    pid_t pid_ = -1;
    std::filesystem::path out_;
    std::filesystem::path err_;
};

std::string ReadFile(const std::filesystem::path& path);
// Waits (in short sleeps) until `path` exists; false after `limit`.
bool WaitForPath(const std::filesystem::path& path,
                 std::chrono::milliseconds limit = std::chrono::seconds(10));

}  // namespace pdt::cli::testing
