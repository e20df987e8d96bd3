#include "posix/simulator_runner.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <future>
#include <memory>
#include <sstream>

#include "pc_side.h"

namespace pdt::sim {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using test::PcSide;

// Options with a few fields changed: With([](RunnerOptions& o) { o.repeat = true; }).
template <typename Change>
RunnerOptions With(Change change) {
    RunnerOptions options;
    change(options);
    return options;
}

std::string TempPath(const std::string& name) {
    return testing::TempDir() + "/" + name + "." + std::to_string(getpid());
}

// A runner serving on its own thread, stopped and joined when destroyed.
class RunningSimulator {
  public:
    RunningSimulator(SimConfig config, RunnerOptions options)
        : runner_(std::move(config), std::move(options)), path_(runner_.Open()) {
        done_ = std::async(std::launch::async, [this] { runner_.Run(stop_); });
    }
    ~RunningSimulator() {
        stop_ = true;
        if (done_.valid()) done_.wait();
    }
    const std::string& Path() const { return path_; }
    // True when Run has returned within `timeout`; rethrows what it threw.
    bool Finished(std::chrono::milliseconds timeout) {
        if (done_.wait_for(timeout) != std::future_status::ready) return false;
        done_.get();
        return true;
    }
    void Stop() { stop_ = true; }
    const SimulatorRunner& Runner() const { return runner_; }

  private:
    SimulatorRunner runner_;
    std::string path_;
    std::atomic<bool> stop_{false};
    std::future<void> done_;
};

SimConfig TwoRecords() {
    SimConfig config;
    config.table = 2;
    config.fileName = "ABC";
    config.records = {{"A1", "x", "5"}, {"B2", "y", "7"}};
    return config;
}

// The PC's side of a whole session with TwoRecords(): handshake, header, table
// request, then an ACK for the file name and for each of the six field frames.
// clang-format off
const std::vector<Bytes> kPcSteps = {
    {0x05}, {'U'}, {'T'}, {0x05}, {0x02, 'R', 'X', 0x03}, {0x06, 0x05}, {0x02, 'C', 'U', '2', 0x03},
    {0x05}, {0x06}, {0x06}, {0x06}, {0x06}, {0x06}, {0x06}, {0x06}};
// clang-format on

Bytes Expected(TerminalSimulator& reference, const Bytes& pcBytes) {
    Bytes all;
    for (uint8_t b : pcBytes) {
        const Bytes answer = reference.OnPcByte(b);
        all.insert(all.end(), answer.begin(), answer.end());
    }
    return all;
}

// Plays `steps` and checks every answer against the in-memory terminal.
void PlaySteps(PcSide& pc, TerminalSimulator& reference, const std::vector<Bytes>& steps) {
    for (size_t i = 0; i < steps.size(); ++i) {
        pc.Write(steps[i]);
        const Bytes expected = Expected(reference, steps[i]);
        ASSERT_EQ(pc.Read(expected.size()), expected) << "step " << i;
    }
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(SimulatorRunnerTest, WholeExchangeOverAPty) {
    const std::string transcript = TempPath("transcript.txt");
    RunningSimulator simulator(TwoRecords(),
                               With([&](RunnerOptions& o) { o.transcriptPath = transcript; }));
    TerminalSimulator reference(TwoRecords());
    PcSide pc(simulator.Path());
    PlaySteps(pc, reference, kPcSteps);
    EXPECT_EQ(pc.ReadUntilQuiet(50ms), Bytes{}) << "nothing after the last frame's ACK";
    pc.Write({0x1B});
    ASSERT_TRUE(simulator.Finished(3s)) << "the session ends with ESC";
    EXPECT_EQ(simulator.Runner().SessionsEnded(), 1u);
    EXPECT_EQ(simulator.Runner().Latencies().size(), 1u + 7u) << "the header and 7 frames";

    const std::string text = ReadFile(transcript);
    EXPECT_NE(text.find("PC>T 02 52 58 03\n"), std::string::npos) << text;
    EXPECT_NE(text.find("T>PC 03 41 42 43 C6\n"), std::string::npos) << text;
    EXPECT_NE(text.find("-- session ended"), std::string::npos) << text;
    std::remove(transcript.c_str());
}

TEST(SimulatorRunnerTest, RepeatServesSessionsThroughTheLinkUntilStopped) {
    const std::string link = TempPath("ttyPDT");
    auto simulator = std::make_unique<RunningSimulator>(TwoRecords(), With([&](RunnerOptions& o) {
                                                            o.link = link;
                                                            o.repeat = true;
                                                        }));
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(simulator->Path(), target);
    for (int session = 0; session < 2; ++session) {
        PcSide pc(link);  // the PC opens and closes its port for each session
        pc.Write({0x05, 'U'});
        EXPECT_EQ(pc.Read(2), (Bytes{0x06, 0x07})) << "session " << session;
        pc.Write({0x1B});
        EXPECT_EQ(pc.ReadUntilQuiet(30ms), Bytes{});
    }
    // Time for the last ESC to be served before the stop.
    for (int i = 0; i < 100 && simulator->Runner().SessionsEnded() < 2; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_FALSE(simulator->Finished(0ms)) << "--repeat keeps serving";
    simulator->Stop();
    ASSERT_TRUE(simulator->Finished(1s));
    EXPECT_EQ(simulator->Runner().SessionsEnded(), 2u);
    simulator.reset();
    EXPECT_NE(access(link.c_str(), F_OK), 0) << "the link goes with the simulator";
}

TEST(SimulatorRunnerTest, PacingTakesTheLineTime) {
    constexpr long kBaud = 19200;
    RunningSimulator simulator(TwoRecords(), With([](RunnerOptions& o) {
                                   o.baud = kBaud;
                                   o.bitsPerChar = 10;
                                   o.turnaround = 20ms;
                               }));
    TerminalSimulator reference(TwoRecords());
    PcSide pc(simulator.Path());
    PlaySteps(pc, reference, {{0x05}, {'U'}, {'T'}, {0x05}});
    const auto start = std::chrono::steady_clock::now();
    pc.Write({0x02, 'R', 'X', 0x03});
    const size_t bytes = 2 + kNaturalHeaderLength;  // ACK, STX, header
    ASSERT_EQ(pc.Read(bytes).size(), bytes);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    const auto lineTime = std::chrono::microseconds(bytes * 10 * 1'000'000 / kBaud);
    EXPECT_GE(elapsed, 20ms + lineTime - 1ms);
}

TEST(SimulatorRunnerTest, RightChecksumFollowsTheWrongOneAfterTheDelay) {
    SimConfig config = TwoRecords();
    config.badChecksumFrame = 0;
    config.faultDelay = 60ms;
    RunningSimulator simulator(config, {});
    TerminalSimulator reference(TwoRecords());
    PcSide pc(simulator.Path());
    PlaySteps(pc, reference, std::vector<Bytes>(kPcSteps.begin(), kPcSteps.begin() + 7));
    pc.Write({0x05});
    EXPECT_EQ(pc.Read(5), (Bytes{3, 'A', 'B', 'C', 0xC7}));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(pc.Read(1), Bytes{0xC6});
    EXPECT_GE(std::chrono::steady_clock::now() - start, 40ms);
}

TEST(SimulatorRunnerTest, HangUpDropsTheLineMidFrame) {
    SimConfig config = TwoRecords();
    config.hangupAfterFrames = 1;
    RunningSimulator simulator(config, {});
    TerminalSimulator reference(TwoRecords());
    PcSide pc(simulator.Path());
    PlaySteps(pc, reference, std::vector<Bytes>(kPcSteps.begin(), kPcSteps.begin() + 8));
    pc.Write({0x06});
    EXPECT_EQ(pc.Read(2), (Bytes{2, 'A'})) << "the frame is cut halfway";
    EXPECT_TRUE(pc.LineDropped(2s));
    EXPECT_TRUE(simulator.Finished(2s)) << "without --repeat the runner ends with the line";
}

TEST(SimulatorRunnerTest, RefusesBadOptions) {
    EXPECT_THROW(SimulatorRunner(TwoRecords(), With([](RunnerOptions& o) { o.bitsPerChar = 9; })),
                 std::invalid_argument);
    EXPECT_THROW(SimulatorRunner(TwoRecords(), With([](RunnerOptions& o) { o.baud = -1; })),
                 std::invalid_argument);
    EXPECT_THROW(SimulatorRunner(TwoRecords(), With([](RunnerOptions& o) {
                                     o.device = "/dev/null";
                                     o.link = "x";
                                 })),
                 std::invalid_argument);
    SimulatorRunner onNull(TwoRecords(), With([](RunnerOptions& o) { o.device = "/dev/null"; }));
    EXPECT_THROW(onNull.Open(), std::system_error) << "not a terminal";
    const std::string file = TempPath("plain-file");
    std::ofstream(file) << "keep me";
    SimulatorRunner overFile(TwoRecords(), With([&](RunnerOptions& o) { o.link = file; }));
    EXPECT_THROW(overFile.Open(), std::invalid_argument) << "a regular file is never replaced";
    EXPECT_EQ(ReadFile(file), "keep me");
    std::remove(file.c_str());
}

}  // namespace
}  // namespace pdt::sim
