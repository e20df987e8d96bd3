// `pdt receive` against a terminal that misbehaves, on real ptys: the
// simulated terminal (`pdt simulate`) fails in one way per case. Whatever
// happens on the line, the tool ends in time with the records so far and the
// matching exit code, and stays idle while it waits on a dead or silent line.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim_records.h"
#include "tool_run.h"

namespace pdt::reliability {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr int kExitOk = 0;
constexpr int kExitIncomplete = 4;
constexpr const char* kTimeoutSeconds = "2";
// The tool gives up after kTimeoutSeconds of quiet; anything much later hangs.
constexpr auto kEndLimit = 15s;
constexpr auto kIdleWindow = 1000ms;
// A waiting process polls now and then; one spinning on a dead line takes a core.
constexpr double kIdleCpuShare = 0.2;

using Pairs = std::vector<std::pair<std::string, int>>;

Pairs Generated(size_t count) {
    Pairs pairs;
    for (const sim::Record& record : sim::GenerateRecords(count))
        pairs.emplace_back(record[0], std::stoi(record[2]));
    return pairs;
}

// The CSV the tool prints: a header line, then "barcode,quantity".
Pairs ParseCsv(const std::string& text) {
    Pairs pairs;
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line)) {
        const size_t comma = line.rfind(',');
        if (comma == std::string::npos) continue;
        pairs.emplace_back(line.substr(0, comma), std::stoi(line.substr(comma + 1)));
    }
    return pairs;
}

size_t RecordLines(const std::string& progress) {
    size_t count = 0;
    for (size_t at = progress.find("Запись: "); at != std::string::npos;
         at = progress.find("Запись: ", at + 1))
        ++count;
    return count;
}

class ReceiveFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/pdt-reliability.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        link_ = dir_ / "line";
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::unique_ptr<ToolRun> StartTerminal(std::vector<std::string> args) {
        args.insert(args.begin(), "simulate");
        args.insert(args.end(), {"--link", link_.string()});
        auto terminal = std::make_unique<ToolRun>(PDT_TOOL, args, dir_, "terminal");
        EXPECT_TRUE(WaitForPath(link_, 10s)) << terminal->Err();
        return terminal;
    }

    std::unique_ptr<ToolRun> StartReceive(const std::string& device) {
        return std::make_unique<ToolRun>(
            PDT_TOOL,
            std::vector<std::string>{"receive", "--device", device, "--quantity-field", "3",
                                     "--format", "csv", "--progress", "lines", "--timeout",
                                     kTimeoutSeconds},
            dir_, "receive");
    }

    // The tool's CPU share over a quiet stretch, or 0 when it has ended by then.
    static double IdleShare(ToolRun& receive) {
        const double before = receive.CpuSeconds();
        std::this_thread::sleep_for(kIdleWindow);
        if (!receive.Running()) return 0;
        return (receive.CpuSeconds() - before) / std::chrono::duration<double>(kIdleWindow).count();
    }

    fs::path dir_;
    fs::path link_;
};

struct Fault {
    const char* name;
    std::vector<std::string> terminal;
    size_t tableRecords;
    size_t recordsKept;
    int exitCode;
};

TEST_F(ReceiveFaults, EachFaultEndsInTimeWithTheRecordsSoFar) {
    // Frame 0 is the file-name frame; the records have three fields each.
    const Fault faults[] = {
        {"hang-up mid-transfer",
         {"--records", "40", "--hangup-after", "31"},
         40,
         10,
         kExitIncomplete},
        {"silent terminal", {"--records", "40", "--silence-after", "16"}, 40, 5, kExitIncomplete},
        {"checksum error",
         {"--records", "10", "--bad-checksum", "4", "--fault-delay-ms", "50"},
         10,
         10,
         kExitOk},
        {"header of 5,000 bytes", {"--records", "10", "--header-length", "5000"}, 10, 10, kExitOk},
        {"zero-length frame", {"--records", "10", "--zero-length-frame", "5"}, 10, 10, kExitOk},
        {"wrong answer to the first ENQ",
         {"--records", "10", "--wrong-handshake", "0"},
         10,
         0,
         kExitIncomplete},
    };
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.name);
        auto terminal = StartTerminal(fault.terminal);
        auto receive = StartReceive(link_.string());
        EXPECT_TRUE(WaitFor([&] { return RecordLines(receive->Err()) >= fault.recordsKept; }, 10s));
        EXPECT_LT(IdleShare(*receive), kIdleCpuShare);
        EXPECT_EQ(receive->Wait(kEndLimit), fault.exitCode) << receive->Err();
        const Pairs table = Generated(fault.tableRecords);
        EXPECT_EQ(ParseCsv(receive->Out()),
                  Pairs(table.begin(), table.begin() + fault.recordsKept));
        terminal.reset();
        fs::remove(link_);
    }
}

// The pty's other side disappears with its process in the middle of a paced
// transfer.
TEST_F(ReceiveFaults, PortVanishingKeepsTheRecordsSoFar) {
    auto terminal = StartTerminal({"--records", "300", "--baud", "19200"});
    auto receive = StartReceive(link_.string());
    ASSERT_TRUE(WaitFor([&] { return RecordLines(receive->Err()) >= 3; }, 10s)) << receive->Err();
    terminal->Signal(SIGKILL);
    EXPECT_LT(IdleShare(*receive), kIdleCpuShare);
    EXPECT_EQ(receive->Wait(kEndLimit), kExitIncomplete) << receive->Err();
    const Pairs got = ParseCsv(receive->Out());
    const Pairs table = Generated(300);
    ASSERT_GE(got.size(), 3u);
    ASSERT_LT(got.size(), table.size());
    EXPECT_EQ(got, Pairs(table.begin(), table.begin() + static_cast<long>(got.size())));
}

// A terminal that answers everything with noise, rich in the protocol's
// control bytes so the exchange gets far, then falls silent.
class NoiseTerminal {
  public:
    NoiseTerminal() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
            throw std::runtime_error("no pty");
        path_ = ptsname(master_);
        thread_ = std::thread([this] { Serve(); });
    }
    ~NoiseTerminal() {
        stop_ = true;
        thread_.join();
        close(master_);
    }
    const std::string& Path() const { return path_; }

  private:
    void Serve() {
        std::mt19937 random(20240611);
        const uint8_t controls[] = {0x02, 0x03, 0x05, 0x06, 0x07, 0x1B, 0x00, 0xFF};
        const auto end = std::chrono::steady_clock::now() + 1500ms;
        while (!stop_ && std::chrono::steady_clock::now() < end) {
            pollfd pfd{master_, POLLIN, 0};
            if (poll(&pfd, 1, 50) <= 0) continue;
            uint8_t in[256];
            if (read(master_, in, sizeof in) <= 0) {
                std::this_thread::sleep_for(20ms);
                continue;
            }
            uint8_t out[64];
            for (uint8_t& byte : out)
                byte = random() % 2 ? controls[random() % std::size(controls)]
                                    : static_cast<uint8_t>(random());
            if (write(master_, out, sizeof out) < 0) std::this_thread::sleep_for(20ms);
        }
        // Silent from here on; the line stays open until the test ends.
        while (!stop_) std::this_thread::sleep_for(20ms);
    }

    int master_ = -1;
    std::string path_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST_F(ReceiveFaults, GarbageFromTheTerminalEndsCleanly) {
    NoiseTerminal terminal;
    auto receive = StartReceive(terminal.Path());
    std::this_thread::sleep_for(1600ms);  // the noise, then quiet
    EXPECT_LT(IdleShare(*receive), kIdleCpuShare);
    const int status = receive->Wait(kEndLimit);
    EXPECT_TRUE(status == kExitOk || status == kExitIncomplete)
        << "exit " << status << ": " << receive->Err();
}

}  // namespace
}  // namespace pdt::reliability
