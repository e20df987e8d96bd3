// The PC's end of a pty for tests: raw mode, reads with a deadline.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace pdt::sim::test {

class PcSide {
  public:
    explicit PcSide(const std::string& path);  // throws std::system_error
    PcSide(const PcSide&) = delete;
    PcSide& operator=(const PcSide&) = delete;
    ~PcSide();

    void Write(const std::vector<uint8_t>& bytes);
    // Up to `count` bytes, or fewer when `timeout` passes or the line drops.
    std::vector<uint8_t> Read(size_t count,
                              std::chrono::milliseconds timeout = std::chrono::seconds(3));
    // Whatever arrives within `quiet` of the last byte.
    std::vector<uint8_t> ReadUntilQuiet(std::chrono::milliseconds quiet);
    // True when the other side has gone (read gives EIO or end of file).
    bool LineDropped(std::chrono::milliseconds timeout);

  private:
    int fd_ = -1;
};

}  // namespace pdt::sim::test
