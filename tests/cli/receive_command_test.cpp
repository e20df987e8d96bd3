// Whole runs of `pdt receive` (and `pdt demo`): against the terminal
// simulator on a pty, and against a terminal scripted by the test on a pty of
// its own, for what the simulator does not do (silence, Ctrl-C).
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "sim_records.h"
#include "tool_process.h"

namespace pdt::cli::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr int kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitPortFailed = 3,
              kExitIncomplete = 4, kExitInterrupted = 130;

class ReceiveCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() /
               ("pdt-cli-" + std::to_string(::getpid()) + "-" + info->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Starts the simulator serving one session on a pty linked at dir_/tty.
    std::unique_ptr<ToolProcess> StartSimulator(std::vector<std::string> args) {
        fs::path link = dir_ / "tty";
        args.insert(args.begin(), {"simulate", "--link", link.string()});
        auto simulator = std::make_unique<ToolProcess>(args, dir_, "simulator");
        EXPECT_TRUE(WaitForPath(link)) << "simulator did not start";
        return simulator;
    }

    int Receive(std::vector<std::string> args, std::string* out = nullptr,
                std::string* err = nullptr) {
        args.insert(args.begin(), "receive");
        ToolProcess tool(args, dir_, "receive");
        int code = tool.Wait();
        if (out) *out = tool.Out();
        if (err) *err = tool.Err();
        return code;
    }

    // The simulator's generated records: barcode in field 1, quantity in field 3.
    static std::string ExpectedCsv(size_t count) {
        std::string csv = "barcode,quantity\r\n";
        for (const auto& record : sim::GenerateRecords(count)) {
            csv += record[0] + "," + record[2] + "\r\n";
        }
        return csv;
    }

    std::string Tty() const { return (dir_ / "tty").string(); }

    fs::path dir_;
};

TEST_F(ReceiveCommand, CsvFromTheSimulatorWithTheExchangesProgressLines) {
    auto simulator = StartSimulator({"--records", "4"});
    std::string out, err;
    EXPECT_EQ(Receive({"--device", Tty(), "--quantity-field", "3"}, &out, &err), kExitOk) << err;
    EXPECT_EQ(out, ExpectedCsv(4));  // a pipe: CSV by default
    EXPECT_THAT(err, HasSubstr("Файл: DATA.TXT\n"));
    EXPECT_THAT(err, HasSubstr("Записей: 4\n"));
    EXPECT_THAT(err, HasSubstr("Запись: 4600000000015; 1\n"));
    EXPECT_EQ(simulator->Wait(), 0);  // it saw the closing ESC
}

TEST_F(ReceiveCommand, JsonAndTableFormats) {
    auto records = sim::GenerateRecords(2);
    {
        auto simulator = StartSimulator({"--records", "2"});
        std::string out;
        ASSERT_EQ(Receive({"--device", Tty(), "--quantity-field", "3", "--format", "json"}, &out),
                  kExitOk);
        EXPECT_EQ(out, "[\n  {\"barcode\": \"" + records[0][0] + "\", \"quantity\": \"" +
                           records[0][2] + "\"},\n  {\"barcode\": \"" + records[1][0] +
                           "\", \"quantity\": \"" + records[1][2] + "\"}\n]\n");
        simulator->Wait();
    }
    {
        auto simulator = StartSimulator({"--records", "2"});
        std::string out;
        ASSERT_EQ(Receive({"--device", Tty(), "--quantity-field", "3", "--format", "table"}, &out),
                  kExitOk);
        EXPECT_THAT(out, HasSubstr("#  Barcode        Quantity\n"));
        EXPECT_THAT(out, HasSubstr("1  " + records[0][0]));
        simulator->Wait();
    }
}

TEST_F(ReceiveCommand, OutputFileAndTranscript) {
    auto simulator = StartSimulator({"--records", "3"});
    fs::path output = dir_ / "records.csv";
    fs::path transcript = dir_ / "transcript.txt";
    std::string out;
    ASSERT_EQ(Receive({"--device", Tty(), "--quantity-field", "3", "--output", output.string(),
                       "--transcript", transcript.string(), "--progress", "none"},
                      &out),
              kExitOk);
    EXPECT_EQ(out, "");
    EXPECT_EQ(ReadFile(output), ExpectedCsv(3));
    std::string dump = ReadFile(transcript);
    EXPECT_THAT(dump, HasSubstr(" PC>  05\n"));  // the opening ENQ
    EXPECT_THAT(dump, HasSubstr(" <T   06\n"));
    EXPECT_THAT(dump, HasSubstr("# ended: complete"));
    simulator->Wait();
    // Nothing else was left in the directory (no temporary file).
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_THAT(names,
                ::testing::UnorderedElementsAre("records.csv", "transcript.txt", "simulator.out",
                                                "simulator.err", "receive.out", "receive.err"));
}

TEST_F(ReceiveCommand, IniFileIsReadAndOptionsWin) {
    fs::path ini = dir_ / "Driver_.ini";
    std::ofstream(ini) << "[PDT]\r\niComNum=4\r\nc_CountFldNum=3\r\nc_TimeOut=5\r\n";
    {
        auto simulator = StartSimulator({"--records", "2"});
        std::string out;
        ASSERT_EQ(Receive({"--device", Tty(), "--ini", ini.string()}, &out), kExitOk);
        EXPECT_EQ(out, ExpectedCsv(2));  // quantities from field 3, as the file says
        simulator->Wait();
    }
    {
        auto simulator = StartSimulator({"--records", "1"});
        std::string out;
        ASSERT_EQ(
            Receive({"--quantity-field", "2", "--device", Tty(), "--ini", ini.string()}, &out),
            kExitOk);
        auto record = sim::GenerateRecords(1)[0];
        EXPECT_EQ(out, "barcode,quantity\r\n" + record[0] + "," + record[1] + "\r\n");
        simulator->Wait();
    }
}

TEST_F(ReceiveCommand, MissingDeviceIsAPortFailureWithTheSystemsReason) {
    std::string out, err;
    fs::path missing = dir_ / "ttyUSB9";
    EXPECT_EQ(Receive({"--device", missing.string()}, &out, &err), kExitPortFailed);
    EXPECT_THAT(err, HasSubstr("Can't open " + missing.string()));
    EXPECT_THAT(err, HasSubstr("No such file or directory"));
    EXPECT_EQ(out, "");
}

TEST_F(ReceiveCommand, BadOptionsStopBeforeAnyPortIsOpened) {
    // The device does not exist: a usage error must come first, with code 2.
    const std::vector<std::string> cases[] = {
        {"--baud", "12345"}, {"--parity", "maybe"}, {"--data-bits", "9"}, {"--stop-bits", "3"},
        {"--table", "9"},    {"--timeout", "-5"},   {"--format", "xml"},  {"--frobnicate"},
    };
    for (const auto& bad : cases) {
        std::vector<std::string> args = {"--device", (dir_ / "none").string()};
        args.insert(args.end(), bad.begin(), bad.end());
        std::string err;
        EXPECT_EQ(Receive(args, nullptr, &err), kExitUsage) << bad[0];
        EXPECT_THAT(err, HasSubstr(bad[0])) << err;
        EXPECT_THAT(err, Not(HasSubstr("Can't open"))) << err;
    }
    std::string err;
    EXPECT_EQ(Receive({}, nullptr, &err), kExitUsage);
    EXPECT_THAT(err, HasSubstr("--device is required"));
}

TEST_F(ReceiveCommand, HangUpMidTransferKeepsTheRecordsSoFar) {
    // Frames: 0 the file name, then 3 per record; frame 5 is the second
    // record's second field, so one record is complete when the line drops.
    auto simulator = StartSimulator({"--records", "3", "--hangup-after", "5"});
    fs::path output = dir_ / "partial.csv";
    std::string err;
    EXPECT_EQ(Receive({"--device", Tty(), "--quantity-field", "3", "--output", output.string()},
                      nullptr, &err),
              kExitIncomplete);
    EXPECT_THAT(err, HasSubstr("received 1 of 3 records"));
    EXPECT_EQ(ReadFile(output), ExpectedCsv(1));
    simulator->Wait();
}

TEST_F(ReceiveCommand, WrongAnswerEndsTheExchange) {
    auto simulator = StartSimulator({"--records", "2", "--wrong-handshake", "1"});
    std::string out, err;
    EXPECT_EQ(Receive({"--device", Tty()}, &out, &err), kExitIncomplete);
    EXPECT_THAT(err, HasSubstr("out of turn"));
    EXPECT_THAT(err, HasSubstr("received 0 records"));
    EXPECT_EQ(out, "");  // nothing received, nothing printed
    simulator->Wait();
}

// A terminal played by the test: the master side of a pty of its own.
class ScriptedTerminal : public ReceiveCommand {
  protected:
    void SetUp() override {
        ReceiveCommand::SetUp();
        ASSERT_EQ(openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0);
        path_ = ttyname(slave_);
    }
    void TearDown() override {
        close(master_);
        close(slave_);
        ReceiveCommand::TearDown();
    }
    // The next byte the PC sends, or -1 after `limit`.
    int NextByte(std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        pollfd pfd{master_, POLLIN, 0};
        if (poll(&pfd, 1, static_cast<int>(limit.count())) != 1) return -1;
        uint8_t byte = 0;
        return read(master_, &byte, 1) == 1 ? byte : -1;
    }

    int master_ = -1;
    int slave_ = -1;  // held open so the master never sees a hang-up between runs
    std::string path_;
};

TEST_F(ScriptedTerminal, SilentTerminalTimesOut) {
    ToolProcess tool({"receive", "--device", path_, "--timeout", "1"}, dir_, "receive");
    EXPECT_EQ(NextByte(), 0x05);  // ENQ, then nothing comes back
    EXPECT_EQ(tool.Wait(std::chrono::seconds(10)), kExitIncomplete);
    EXPECT_THAT(tool.Err(), HasSubstr("silent for 1 s"));
}

TEST_F(ScriptedTerminal, InterruptSendsEscAndClosesThePort) {
    ToolProcess tool({"receive", "--device", path_}, dir_, "receive");
    ASSERT_EQ(NextByte(), 0x05);
    tool.Signal(SIGINT);
    EXPECT_EQ(NextByte(), 0x1B);  // ESC
    EXPECT_EQ(tool.Wait(std::chrono::seconds(10)), kExitInterrupted);
    EXPECT_THAT(tool.Err(), HasSubstr("interrupted"));
}

TEST_F(ReceiveCommand, DemoPrintsTheSimulatorsRecords) {
    ToolProcess demo({"demo", "--records", "3"}, dir_, "demo");
    EXPECT_EQ(demo.Wait(), kExitOk) << demo.Err();
    EXPECT_EQ(demo.Out(), ExpectedCsv(3));
}

TEST_F(ReceiveCommand, OutputThatCannotBeWrittenFails) {
    auto simulator = StartSimulator({"--records", "1"});
    std::string err;
    fs::path output = dir_ / "no-such-dir" / "records.csv";
    EXPECT_EQ(Receive({"--device", Tty(), "--output", output.string()}, nullptr, &err),
              kExitFailed);
    EXPECT_THAT(err, HasSubstr(output.string()));
    simulator->Wait();
}

}  // namespace
}  // namespace pdt::cli::testing
