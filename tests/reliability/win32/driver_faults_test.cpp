// PDT.dll against a terminal that misbehaves, end to end under Wine: the
// simulated terminal sits on a pty mapped to a COM port and fails in one way
// per port (see CMakeLists.txt). Whatever happens on the line, the host gets
// the records so far or its variant back untouched, the dialog still closes,
// and the process stays idle once the line has gone quiet.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "driver_session.h"

namespace pdt::reliability {
namespace {

using namespace pdthost;

// A loaded process may spend a little time on the autopilot's polling and
// Wine's own threads; a driver thread spinning on a dead line takes a core.
constexpr double kIdleCpuShare = 0.2;
constexpr int kQuietMillis = 300;
constexpr int kIdleWindowMillis = 1500;
// Longer than any step needs; then the autopilot cancels so nothing hangs.
constexpr int kAutopilotMillis = 20000;

struct LoadedDriver {
    explicit LoadedDriver(const SettingsText& settings) {
        WriteSettingsFile(settings);
        library.emplace(WinePath(PDT_DLL_PATH));
        library->InitDll();
    }
    std::optional<PdtLibrary> library;
};

struct Fault {
    const char* id;
    int port;
    size_t recordsBeforeLoss;  // what the host gets with OK
    size_t tableRecords;       // what the simulator serves
};

// Must match the peers in CMakeLists.txt.
const Fault kFaults[] = {
    {"HangUpMidTransfer", 1, 10, 40},  // the pty's other side closes
    {"SilentTerminal", 2, 5, 40},         {"HeaderOf5000Bytes", 4, 10, 10},
    {"ZeroLengthFrame", 5, 10, 10},       {"ChecksumError", 8, 10, 10},
    {"GarbageInsteadOfAnswers", 9, 0, 0},
};

// Waits for the records (or the dialog), lets the line go quiet and measures
// the process's CPU time over a quiet stretch with the dialog still open.
std::vector<Step> LossThen(size_t records, Step last, double& cpuShare) {
    auto window = std::make_shared<CpuWindow>();
    return {records > 0 ? WaitRecords(static_cast<int>(records)) : WaitDialog(),
            WaitQuiet(kQuietMillis),
            Inspect([window](HWND) { window->Start(); }),
            WaitQuiet(kIdleWindowMillis),
            Inspect([window, &cpuShare](HWND) { cpuShare = window->Share(); }),
            std::move(last)};
}

// The dialog's log and error boxes, for a failure message.
std::string Describe(const AutopilotReport& report) {
    std::wstring text = L"log:\n" + report.memo;
    for (const std::wstring& box : report.errorBoxes) text += L"\nerror box: " + box;
    std::string utf8(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr,
                                                             0, nullptr, nullptr)),
                     '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, utf8.data(), static_cast<int>(utf8.size()),
                        nullptr, nullptr);
    utf8.pop_back();
    return utf8;
}

class DriverFaults : public ::testing::TestWithParam<Fault> {};

TEST_P(DriverFaults, EndsWithTheRightResultAndAnIdleProcess) {
    const Fault& fault = GetParam();
    LoadedDriver driver(TerminalSettings(fault.port));
    const auto table = GeneratedPairs(fault.tableRecords);
    const decltype(table) expected(table.begin(), table.begin() + fault.recordsBeforeLoss);

    double cpuShare = 1;
    Outcome kept;
    Receive(*driver.library, LossThen(fault.recordsBeforeLoss, Press(Button::Ok), cpuShare), kept,
            kAutopilotMillis);
    EXPECT_EQ(kept.report.failure, "") << Describe(kept.report);
    if (expected.empty())
        EXPECT_TRUE(kept.Untouched());
    else
        EXPECT_EQ(kept.Pairs(), expected);
    EXPECT_LT(cpuShare, kIdleCpuShare);

    Outcome cancelled;
    Receive(*driver.library, LossThen(fault.recordsBeforeLoss, Press(Button::Cancel), cpuShare),
            cancelled, kAutopilotMillis);
    EXPECT_EQ(cancelled.report.failure, "") << Describe(cancelled.report);
    EXPECT_TRUE(cancelled.Untouched());
    EXPECT_LT(cpuShare, kIdleCpuShare);
}

INSTANTIATE_TEST_SUITE_P(Terminal, DriverFaults, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<Fault>& info) {
                             return std::string(info.param.id);
                         });

// A host may load the library again after it has freed it; the second
// instance reads its settings anew and downloads like the first.
TEST(DriverReload, SecondLoadAfterADownload) {
    const auto expected = GeneratedPairs(10);
    for (int load = 1; load <= 2; ++load) {
        SCOPED_TRACE("load " + std::to_string(load));
        LoadedDriver driver(TerminalSettings(8));
        Outcome outcome;
        Receive(*driver.library, {WaitRecords(10), Press(Button::Ok)}, outcome, kAutopilotMillis);
        EXPECT_EQ(outcome.report.failure, "") << Describe(outcome.report);
        EXPECT_EQ(outcome.Pairs(), expected);
    }
}

// The same after an exchange that stopped half-way (the terminal fell silent
// after five records): the library freed, the process goes on and raises and
// catches an exception of its own, as any host does, then loads it again.
TEST(DriverReload, FreeAfterAFailedExchange) {
    for (int load = 1; load <= 2; ++load) {
        SCOPED_TRACE("load " + std::to_string(load));
        {
            LoadedDriver driver(TerminalSettings(1));
            Outcome outcome;
            Receive(*driver.library, {WaitRecords(5), WaitQuiet(kQuietMillis), Press(Button::Ok)},
                    outcome, kAutopilotMillis);
            EXPECT_EQ(outcome.report.failure, "") << Describe(outcome.report);
            EXPECT_EQ(outcome.Pairs().size(), 5u);
        }
        bool caught = false;
        try {
            throw std::runtime_error("the host's own exception");
        } catch (const std::runtime_error&) {
            caught = true;
        }
        EXPECT_TRUE(caught);
    }
}

}  // namespace
}  // namespace pdt::reliability
