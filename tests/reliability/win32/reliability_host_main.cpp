// reliability_host: one host process that downloads the simulated terminal's
// table through PDT.dll again and again, pressing OK once every record is in,
// and reports its own handles, threads and memory along the way. The soak run
// and the memory benchmark use it; with --flat it fails when those figures
// grow between the first report and the last.
//
//   reliability_host --com N --records R [--downloads D] [--report 1,100,200]
//                    [--flat] [--timeout MS] [--dll PATH\PDT.dll]
//
// One line per reported download:
//   download=K records=R handles=H threads=T private_kb=P working_kb=W
// and at the end: peak_working_kb=X cpu_s=Y
// Exit status: 0 done, 1 bad use or a download went wrong, 2 not flat.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "driver_session.h"

namespace {

using pdt::reliability::ProcessFigures;

struct Options {
    int com = 0;
    int records = 0;
    int downloads = 1;
    std::set<int> report;
    bool flat = false;
    int timeout = 600000;
    std::wstring dll = pdt::reliability::WinePath(PDT_DLL_PATH);
};

// Growth a flat run may show between its first and last report: Wine and the
// C runtime keep a little more for themselves now and then.
constexpr DWORD kHandleSlack = 4;
constexpr size_t kPrivateSlackBytes = 4u << 20;

std::optional<Options> Parse(const std::vector<std::wstring>& args) {
    Options options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        if (arg == L"--flat") {
            options.flat = true;
            continue;
        }
        if (i + 1 >= args.size()) return std::nullopt;
        const std::wstring value = args[++i];
        try {
            if (arg == L"--com") {
                options.com = std::stoi(value);
            } else if (arg == L"--records") {
                options.records = std::stoi(value);
            } else if (arg == L"--downloads") {
                options.downloads = std::stoi(value);
            } else if (arg == L"--timeout") {
                options.timeout = std::stoi(value);
            } else if (arg == L"--dll") {
                options.dll = value;
            } else if (arg == L"--report") {
                std::wstringstream list(value);
                for (std::wstring item; std::getline(list, item, L',');)
                    options.report.insert(std::stoi(item));
            } else {
                return std::nullopt;
            }
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }
    if (options.com < 1 || options.records < 1 || options.downloads < 1) return std::nullopt;
    if (options.report.empty()) options.report = {1, options.downloads};
    return options;
}

void Print(int download, int records, const ProcessFigures& figures) {
    std::printf("download=%d records=%d handles=%lu threads=%d private_kb=%zu working_kb=%zu\n",
                download, records, static_cast<unsigned long>(figures.handles), figures.threads,
                figures.privateBytes / 1024, figures.workingSet / 1024);
    std::fflush(stdout);
}

bool Flat(const ProcessFigures& first, const ProcessFigures& last) {
    bool flat = true;
    if (last.handles > first.handles + kHandleSlack) {
        std::fprintf(stderr, "handles grew from %lu to %lu\n",
                     static_cast<unsigned long>(first.handles),
                     static_cast<unsigned long>(last.handles));
        flat = false;
    }
    if (last.threads > first.threads) {
        std::fprintf(stderr, "threads grew from %d to %d\n", first.threads, last.threads);
        flat = false;
    }
    if (last.privateBytes > first.privateBytes + kPrivateSlackBytes) {
        std::fprintf(stderr, "private memory grew from %zu KB to %zu KB\n",
                     first.privateBytes / 1024, last.privateBytes / 1024);
        flat = false;
    }
    return flat;
}

int Run(const Options& options) {
    using namespace pdt::reliability;
    WriteSettingsFile(TerminalSettings(options.com));
    pdthost::PdtLibrary library(options.dll);
    library.InitDll();
    const std::vector<pdthost::Step> plan = {pdthost::WaitRecords(options.records),
                                             pdthost::Press(pdthost::Button::Ok)};
    std::optional<ProcessFigures> first, last;
    for (int download = 1; download <= options.downloads; ++download) {
        size_t received = 0;
        {
            Outcome outcome;
            Receive(library, plan, outcome, options.timeout);
            received = outcome.Pairs().size();
            if (!outcome.report.failure.empty())
                std::fprintf(stderr, "download %d: %s\n", download, outcome.report.failure.c_str());
        }
        if (received != static_cast<size_t>(options.records)) {
            std::fprintf(stderr, "download %d: %zu records instead of %d\n", download, received,
                         options.records);
            return 1;
        }
        if (options.report.count(download)) {
            last = CurrentProcessFigures();
            if (!first) first = last;
            Print(download, options.records, *last);
        }
    }
    const ProcessFigures end = CurrentProcessFigures();
    std::printf("peak_working_kb=%zu cpu_s=%.2f\n", end.peakWorkingSet / 1024, end.cpuSeconds);
    if (options.flat && first && last && !Flat(*first, *last)) return 2;
    return 0;
}

}  // namespace

int main() {
    int count = 0;
    LPWSTR* raw = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> args(raw + (count > 0 ? 1 : 0), raw + count);
    LocalFree(raw);
    const std::optional<Options> options = Parse(args);
    if (!options) {
        std::fputs(
            "usage: reliability_host --com N --records R [--downloads D] [--report 1,100,200]\n"
            "                        [--flat] [--timeout MS] [--dll PATH\\PDT.dll]\n",
            stderr);
        return 1;
    }
    try {
        return Run(*options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "reliability_host: %s\n", error.what());
        return 1;
    }
}
