// The simulated terminal's end of the serial line on POSIX: the master side of
// a new pseudo-terminal, or a given tty device.
#pragma once

#include <chrono>
#include <string>

namespace pdt::sim {

class SimLine {
  public:
    SimLine() = default;
    SimLine(const SimLine&) = delete;
    SimLine& operator=(const SimLine&) = delete;
    ~SimLine() { Close(); }

    // A new pty pair in raw mode. The PC opens `Path()`; `link`, when not
    // empty, becomes a symlink to it (an existing symlink is replaced).
    // Throws std::system_error or std::invalid_argument.
    void OpenPty(const std::string& link);
    // A tty device in raw mode, 8N1, at `baud` when that is a standard rate
    // (0 leaves the speed as it is).
    void OpenDevice(const std::string& path, long baud);
    // Waits until the PC has read what was written (at most `limit`), so
    // that a hang-up does not swallow bytes already on the line.
    void Drain(std::chrono::milliseconds limit) const;
    void Close();

    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    const std::string& Path() const { return path_; }

  private:
    void MakeLink(const std::string& link);

    int fd_ = -1;
    // The runner keeps the pty's slave open itself, so the master does not see
    // a hang-up each time the PC closes its port between sessions.
    int slaveHold_ = -1;
    std::string path_;
    std::string link_;
};

}  // namespace pdt::sim
