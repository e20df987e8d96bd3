// A child process of the reliability tests (the pdt tool, as the simulated
// terminal or as the PC), with its output in files and its CPU time readable
// while it runs.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace pdt::reliability {

class ToolRun {
  public:
    // Starts `program args...`; stdout and stderr go to files in `workDir`.
    ToolRun(const std::string& program, const std::vector<std::string>& args,
            const std::filesystem::path& workDir, const std::string& name);
    ~ToolRun();  // kills the process if it still runs
    ToolRun(const ToolRun&) = delete;
    ToolRun& operator=(const ToolRun&) = delete;

    bool Running();
    void Signal(int signal);
    // The exit code (128 + n for death by signal n), or -1 when it did not
    // end within `limit` (it is then killed).
    int Wait(std::chrono::milliseconds limit);
    // User + system time so far; only while the process runs.
    double CpuSeconds() const;
    std::string Out() const;
    std::string Err() const;

  private:
    pid_t pid_ = -1;
    int status_ = -1;
    std::filesystem::path out_;
    std::filesystem::path err_;
};

std::string ReadFile(const std::filesystem::path& path);
// Waits in short sleeps until `path` exists; false after `limit`.
bool WaitForPath(const std::filesystem::path& path, std::chrono::milliseconds limit);
// Waits in short sleeps until `condition` holds; false after `limit`.
template <class Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds limit);

}  // namespace pdt::reliability

#include <thread>

namespace pdt::reliability {

template <class Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace pdt::reliability
