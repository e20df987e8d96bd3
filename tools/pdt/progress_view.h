// Progress of a download on standard error: the exchange's own progress lines
// ("Файл: …", "Записей: …", "Запись: …") one per line, or on a terminal a bar
// that counts records against the number the header announced, with the rate
// and the time left.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "receive_options.h"

namespace pdt::cli {

// What the progress lines of one exchange have told so far.
struct DownloadProgress {
    std::string fileName;
    std::optional<int64_t> announced;  // records the header announced
    int64_t received = 0;
    std::optional<std::chrono::steady_clock::time_point> firstRecordAt;

    // Takes one progress line of the exchange.
    void Take(std::string_view label, std::string_view payload,
              std::chrono::steady_clock::time_point now);
};

class ProgressView {
  public:
    virtual ~ProgressView() = default;
    // One progress line of the exchange, in the order the exchange wrote them.
    virtual void Line(std::string_view label, std::string_view payload) = 0;
    // Called now and then while the exchange runs (redraws the bar).
    virtual void Tick() {}
    // The exchange is over; leaves the terminal on a fresh line.
    virtual void Finish() {}
};

// `mode` kAuto picks the bar on a terminal and the lines otherwise.
std::unique_ptr<ProgressView> MakeProgressView(ProgressMode mode, std::FILE* out,
                                               bool outIsTerminal, int columns);

// The bar's text for a state of the download, `columns` wide at most.
std::string RenderBar(const DownloadProgress& progress, std::chrono::steady_clock::time_point now,
                      int columns);

}  // namespace pdt::cli
