#include "progress_view.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace pdt::cli {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::seconds;

TEST(DownloadProgress, CountsTheExchangesLines) {
    DownloadProgress progress;
    auto t0 = Clock::now();
    progress.Take("Записей: ", "125", t0);
    progress.Take("Полей в записи: ", "3", t0);
    progress.Take("Файл: ", "DATA.TXT", t0);
    progress.Take("Запись: ", "A1; 5", t0);
    progress.Take("Запись: ", "B2; 7", t0 + seconds(1));
    EXPECT_EQ(progress.announced, 125);
    EXPECT_EQ(progress.fileName, "DATA.TXT");
    EXPECT_EQ(progress.received, 2);
}

TEST(RenderBar, ShowsCountRateAndTimeLeft) {
    DownloadProgress progress;
    auto t0 = Clock::now();
    EXPECT_EQ(RenderBar(progress, t0, 80), "waiting for the terminal...");
    progress.Take("Записей: ", "100", t0);
    progress.Take("Файл: ", "DATA.TXT", t0);
    for (int i = 0; i < 11; ++i) progress.Take("Запись: ", "x", t0 + seconds(i));
    // 10 records in the 10 s after the first: 1 record/s, 89 left.
    std::string bar = RenderBar(progress, t0 + seconds(10), 80);
    EXPECT_EQ(bar.rfind("DATA.TXT [####", 0), 0u) << bar;
    EXPECT_NE(bar.find("] 11/100  1.0 rec/s  1:29 left"), std::string::npos) << bar;
    EXPECT_LE(bar.size(), 79u);
    // Too narrow for the bar: the numbers alone.
    EXPECT_EQ(RenderBar(progress, t0 + seconds(10), 30).find('['), std::string::npos);
}

TEST(ProgressView, LinesModePrintsEachLine) {
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    auto view = MakeProgressView(ProgressMode::kAuto, out, false, 80);
    view->Line("Файл: ", "DATA.TXT");
    view->Line("Записей: ", "2");
    view->Finish();
    std::rewind(out);
    char buffer[128] = {};
    size_t n = std::fread(buffer, 1, sizeof buffer - 1, out);
    std::fclose(out);
    EXPECT_EQ(std::string(buffer, n), "Файл: DATA.TXT\nЗаписей: 2\n");
}

}  // namespace
}  // namespace pdt::cli
