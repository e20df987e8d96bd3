#include "transcript.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <stdexcept>

namespace pdt::cli {

std::string ClockStamp() {
    auto now = std::chrono::system_clock::now();
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<int>(millis.count()));
    return buffer;
}

std::string HexBytes(const uint8_t* data, size_t count) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        if (i) out += ' ';
        out += digits[data[i] >> 4];
        out += digits[data[i] & 0x0F];
    }
    return out;
}

Transcript::Transcript(const std::string& path, const std::string& heading) {
    file_ = std::fopen(path.c_str(), "w");
    if (!file_) {
        throw std::runtime_error("--transcript: cannot create \"" + path +
                                 "\": " + std::strerror(errno));
    }
    Note(heading);
}

Transcript::~Transcript() {
    if (file_) std::fclose(file_);
}

void Transcript::Received(const uint8_t* data, size_t count) {
    Dump("<T  ", data, count);
}

void Transcript::Sent(const uint8_t* data, size_t count) {
    Dump("PC> ", data, count);
}

void Transcript::Note(const std::string& text) {
    std::lock_guard lock(mutex_);
    std::fprintf(file_, "%s # %s\n", ClockStamp().c_str(), text.c_str());
    std::fflush(file_);
}

void Transcript::Dump(const char* direction, const uint8_t* data, size_t count) {
    constexpr size_t kPerLine = 16;
    std::lock_guard lock(mutex_);
    std::string stamp = ClockStamp();
    for (size_t offset = 0; offset < count; offset += kPerLine) {
        size_t n = std::min(kPerLine, count - offset);
        std::fprintf(file_, "%s %s %s\n", stamp.c_str(), direction,
                     HexBytes(data + offset, n).c_str());
    }
    // Flushed at once: a transcript is read after something went wrong.
    std::fflush(file_);
}

}  // namespace pdt::cli
