#include "progress_view.h"

#include <algorithm>
#include <charconv>

#include "record_format.h"

namespace pdt::cli {
namespace {

using Clock = std::chrono::steady_clock;

// The labels the exchange writes (UTF-8).
constexpr std::string_view kFileLabel = "Файл: ";
constexpr std::string_view kCountLabel = "Записей: ";
constexpr std::string_view kRecordLabel = "Запись: ";

std::string Duration(double seconds) {
    auto total = static_cast<long>(seconds + 0.5);
    char buffer[32];
    if (total >= 3600) {
        std::snprintf(buffer, sizeof buffer, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60,
                      total % 60);
    } else {
        std::snprintf(buffer, sizeof buffer, "%ld:%02ld", total / 60, total % 60);
    }
    return buffer;
}

class LinesView : public ProgressView {
  public:
    explicit LinesView(std::FILE* out) : out_(out) {}
    void Line(std::string_view label, std::string_view payload) override {
        std::fprintf(out_, "%.*s%.*s\n", static_cast<int>(label.size()), label.data(),
                     static_cast<int>(payload.size()), payload.data());
        std::fflush(out_);
    }

  private:
    std::FILE* out_;
};

class SilentView : public ProgressView {
  public:
    void Line(std::string_view, std::string_view) override {}
};

class BarView : public ProgressView {
  public:
    BarView(std::FILE* out, int columns) : out_(out), columns_(columns) {}

    void Line(std::string_view label, std::string_view payload) override {
        progress_.Take(label, payload, Clock::now());
    }

    void Tick() override {
        std::string bar = RenderBar(progress_, Clock::now(), columns_);
        if (bar == shown_) return;
        // \r and the erase-to-end keep the bar on one line.
        std::fprintf(out_, "\r%s\033[K", bar.c_str());
        std::fflush(out_);
        shown_ = bar;
    }

    void Finish() override {
        Tick();
        if (!shown_.empty()) std::fputc('\n', out_);
        std::fflush(out_);
        shown_.clear();
    }

  private:
    std::FILE* out_;
    int columns_;
    DownloadProgress progress_;
    std::string shown_;
};

}  // namespace

void DownloadProgress::Take(std::string_view label, std::string_view payload,
                            Clock::time_point now) {
    if (label == kFileLabel) {
        fileName = std::string(payload);
    } else if (label == kCountLabel) {
        int64_t count = 0;
        auto [ptr, ec] = std::from_chars(payload.data(), payload.data() + payload.size(), count);
        if (ec == std::errc() && ptr == payload.data() + payload.size()) announced = count;
    } else if (label == kRecordLabel) {
        if (!firstRecordAt) firstRecordAt = now;
        ++received;
    }
}

std::string RenderBar(const DownloadProgress& progress, Clock::time_point now, int columns) {
    std::string name = progress.fileName.empty() ? "" : progress.fileName + " ";
    if (!progress.announced) return name + "waiting for the terminal...";

    int64_t total = std::max<int64_t>(*progress.announced, 0);
    std::string counts = std::to_string(progress.received) + "/" + std::to_string(total);
    std::string tail;
    if (progress.firstRecordAt && progress.received > 1) {
        // The rate counts from the first record: the handshake and header are
        // not part of the per-record pace.
        double seconds = std::chrono::duration<double>(now - *progress.firstRecordAt).count();
        double rate = seconds > 0 ? static_cast<double>(progress.received - 1) / seconds : 0;
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.1f rec/s", rate);
        tail = buffer;
        if (rate > 0 && total > progress.received) {
            tail +=
                "  " + Duration(static_cast<double>(total - progress.received) / rate) + " left";
        }
    }
    std::string text = counts + (tail.empty() ? "" : "  " + tail);

    int room = columns - 1 - static_cast<int>(DisplayWidth(name) + text.size()) - 3;
    if (room >= 10) {
        int width = std::min(room, 40);
        double share =
            total > 0
                ? std::min(1.0, static_cast<double>(progress.received) / static_cast<double>(total))
                : 0.0;
        int filled = static_cast<int>(share * width);
        return name + "[" + std::string(filled, '#') + std::string(width - filled, '-') + "] " +
               text;
    }
    return name + text;
}

std::unique_ptr<ProgressView> MakeProgressView(ProgressMode mode, std::FILE* out,
                                               bool outIsTerminal, int columns) {
    if (mode == ProgressMode::kAuto)
        mode = outIsTerminal ? ProgressMode::kBar : ProgressMode::kLines;
    switch (mode) {
        case ProgressMode::kBar:
            return std::make_unique<BarView>(out, columns);
        case ProgressMode::kLines:
            return std::make_unique<LinesView>(out);
        default:
            return std::make_unique<SilentView>();
    }
}

}  // namespace pdt::cli
