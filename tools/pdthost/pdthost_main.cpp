// pdthost: a sample host for PDT.dll.
//
//   pdthost [options] PATH\PDT.dll [receive|configure]
//
// Loads the library, calls InitDll and then ReceiveData (the default) or
// Configure through the pointers it reads from memory, like any host. The
// result of ReceiveData is printed one record a line as "barcode;quantity",
// or "Null", or "unchanged". For demos and tests it can work the reception
// dialog by itself:
//   --ok-after-records N   press OK once the progress log shows N records
//   --ok-after-quiet MS    press OK once the progress log has been quiet MS ms
//   --request-after-records N   press "Запрос" once, after N records
//   --cancel               press Cancel as soon as the dialog is shown
//   --screenshot FILE.bmp  save the dialog just before pressing OK
//   --timeout MS           longest wait for any step (default 60000)
//   --out FILE             also write the result lines to FILE
// Error boxes of the dialog are answered and their texts printed to stderr.
// Exit status: 0 done, 1 bad use or the library cannot be loaded, 2 the
// dialog did not behave as planned.
#include <windows.h>

#include <oleauto.h>
#include <shellapi.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "dialog_autopilot.h"
#include "host_contract.h"
#include "result_text.h"

namespace {

struct Options {
    std::wstring library;
    bool configure = false;
    std::optional<int> okAfterRecords;
    std::optional<int> okAfterQuiet;
    std::optional<int> requestAfterRecords;
    bool cancel = false;
    std::wstring screenshot;
    int timeout = 60000;
    std::wstring out;
};

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

int Usage() {
    std::fputs(
        "usage: pdthost [--ok-after-records N] [--ok-after-quiet MS] [--request-after-records N]\n"
        "               [--cancel] [--screenshot FILE.bmp] [--timeout MS] [--out FILE]\n"
        "               PDT.dll [receive|configure]\n",
        stderr);
    return 1;
}

std::optional<Options> ParseOptions(const std::vector<std::wstring>& args) {
    Options options;
    std::vector<std::wstring> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        auto number = [&]() { return std::stoi(args[++i]); };
        if (arg == L"--cancel") {
            options.cancel = true;
        } else if (arg == L"--ok-after-records" && hasValue) {
            options.okAfterRecords = number();
        } else if (arg == L"--ok-after-quiet" && hasValue) {
            options.okAfterQuiet = number();
        } else if (arg == L"--request-after-records" && hasValue) {
            options.requestAfterRecords = number();
        } else if (arg == L"--timeout" && hasValue) {
            options.timeout = number();
        } else if (arg == L"--screenshot" && hasValue) {
            options.screenshot = args[++i];
        } else if (arg == L"--out" && hasValue) {
            options.out = args[++i];
        } else if (arg.starts_with(L"--")) {
            return std::nullopt;
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.empty() || positional.size() > 2) return std::nullopt;
    options.library = positional[0];
    if (positional.size() == 2) {
        if (positional[1] == L"configure")
            options.configure = true;
        else if (positional[1] != L"receive")
            return std::nullopt;
    }
    return options;
}

std::vector<pdthost::Step> PlanFor(const Options& options) {
    using namespace pdthost;
    std::vector<Step> plan;
    if (options.cancel) return {WaitDialog(), Press(Button::Cancel)};
    if (options.requestAfterRecords)
        plan.insert(plan.end(),
                    {WaitRecords(*options.requestAfterRecords), Press(Button::Request)});
    if (options.okAfterRecords) plan.push_back(WaitRecords(*options.okAfterRecords));
    if (options.okAfterQuiet) plan.push_back(WaitQuiet(*options.okAfterQuiet));
    if (plan.empty()) return plan;  // the user works the dialog
    if (!options.screenshot.empty()) plan.push_back(Screenshot(options.screenshot));
    plan.push_back(Press(Button::Ok));
    return plan;
}

int Receive(pdthost::PdtLibrary& library, const Options& options) {
    std::vector<pdthost::Step> plan = PlanFor(options);
    std::optional<pdthost::Autopilot> autopilot;
    if (!plan.empty()) autopilot.emplace(GetCurrentThreadId(), plan, options.timeout);

    VARIANT result;
    VariantInit(&result);
    const VARIANT passed = result;
    library.ReceiveData(&result);

    int status = 0;
    if (autopilot) {
        const pdthost::AutopilotReport report = autopilot->Finish();
        for (const std::wstring& text : report.errorBoxes)
            std::fprintf(stderr, "error box: %s\n", Utf8(text).c_str());
        if (!report.failure.empty()) {
            std::fprintf(stderr, "autopilot: %s\n", report.failure.c_str());
            status = 2;
        }
    }
    std::ofstream out;
    if (!options.out.empty()) out.open(std::filesystem::path(options.out), std::ios::binary);
    for (const std::string& line : pdthost::ResultLines(result, passed)) {
        std::printf("%s\n", line.c_str());
        if (out) out << line << '\n';
    }
    VariantClear(&result);
    return status;
}

}  // namespace

int main() {
    int count = 0;
    LPWSTR* raw = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> args(raw + (count > 0 ? 1 : 0), raw + count);
    LocalFree(raw);

    const std::optional<Options> options = ParseOptions(args);
    if (!options) return Usage();
    try {
        pdthost::PdtLibrary library(options->library);
        library.InitDll();
        if (options->configure) {
            library.Configure();
            return 0;
        }
        return Receive(library, *options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "pdthost: %s\n", error.what());
        return 1;
    }
}
