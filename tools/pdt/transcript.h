// A timestamped hex dump of both directions of the line, for support: one
// line per burst, at most 16 bytes a line.
//
//   12:04:31.114 PC>  05
//   12:04:31.131 <T   06
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "observed_line.h"

namespace pdt::cli {

class Transcript : public LineObserver {
  public:
    // Throws std::runtime_error when the file cannot be created.
    Transcript(const std::string& path, const std::string& heading);
    ~Transcript() override;

    void Received(const uint8_t* data, size_t count) override;
    void Sent(const uint8_t* data, size_t count) override;
    // A free-text note ("# ...") between the dumps.
    void Note(const std::string& text);

  private:
    void Dump(const char* direction, const uint8_t* data, size_t count);

    std::mutex mutex_;
    std::FILE* file_ = nullptr;
};

// "12:04:31.114" for the current local time.
std::string ClockStamp();
// "05 55 1b" for the bytes.
std::string HexBytes(const uint8_t* data, size_t count);

}  // namespace pdt::cli
