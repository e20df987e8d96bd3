// `pdt simulate` as a user runs it: a child process on a pty, stopped by signal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "pc_side.h"

extern char** environ;

namespace pdt::sim {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

// A child `pdt` with its stdout and stderr on pipes.
class PdtProcess {
  public:
    explicit PdtProcess(std::vector<std::string> args) {
        args.insert(args.begin(), PDT_TOOL_PATH);
        int out[2], err[2];
        if (pipe(out) != 0 || pipe(err) != 0) throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addclose(&actions, err[0]);
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        const int rc = posix_spawn(&pid_, PDT_TOOL_PATH, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
        if (rc != 0) throw std::runtime_error("cannot start " PDT_TOOL_PATH);
    }
    ~PdtProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(out_);
        close(err_);
    }

    // One line of stdout, without its newline; empty after `timeout`.
    std::string ReadLine(std::chrono::milliseconds timeout = 3s) {
        std::string line;
        char c;
        while (true) {
            pollfd pfd{out_, POLLIN, 0};
            if (poll(&pfd, 1, static_cast<int>(timeout.count())) <= 0) return line;
            if (read(out_, &c, 1) != 1 || c == '\n') return line;
            line += c;
        }
    }
    // Waits for the exit (killing the child after `timeout`) and returns its status.
    int Wait(std::chrono::milliseconds timeout = 3s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                pid_ = -1;
                return -1;
            }
            std::this_thread::sleep_for(10ms);
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    void Signal(int signal) { kill(pid_, signal); }
    std::string Rest(bool fromStderr) {  // after Wait
        std::string text;
        char buffer[256];
        ssize_t n;
        while ((n = read(fromStderr ? err_ : out_, buffer, sizeof buffer)) > 0)
            text.append(buffer, n);
        return text;
    }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
};

TEST(PdtSimulateTest, PrintsThePathServesAndEndsCleanlyOnSigterm) {
    const std::string link = testing::TempDir() + "/ttyPDT-cli." + std::to_string(getpid());
    PdtProcess pdt({"simulate", "--repeat", "--link", link, "--latency"});
    const std::string path = pdt.ReadLine();
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
    {
        test::PcSide pc(link);
        pc.Write({0x05, 'U'});
        EXPECT_EQ(pc.Read(2), (Bytes{0x06, 0x07}));
    }
    pdt.Signal(SIGTERM);
    EXPECT_EQ(pdt.Wait(), 0);
    EXPECT_NE(pdt.Rest(false).find("latency_us count=0"), std::string::npos);
    EXPECT_NE(access(link.c_str(), F_OK), 0) << "the link is removed on exit";
}

TEST(PdtSimulateTest, ServesTheSampleCsv) {
    PdtProcess pdt({"simulate", "--csv", PDT_SAMPLES_DIR "/records.csv", "--table", "1"});
    test::PcSide pc(pdt.ReadLine());
    pc.Write({0x05, 'U', 'T', 0x05, 0x02, 'R', 'X', 0x03});
    const Bytes answer = pc.Read(4 + 2 + 154);
    ASSERT_EQ(answer.size(), 160u);
    const std::string descriptor(answer.begin() + 6 + 17, answer.begin() + 6 + 34);
    EXPECT_EQ(descriptor.substr(8, 5), "00006");
    EXPECT_EQ(descriptor.substr(14, 2), "03");
    pc.Write({0x1B});
    EXPECT_EQ(pdt.Wait(), 0);
}

TEST(PdtSimulateTest, BadInputGetsAClearMessage) {
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* message;
    };
    const std::vector<Case> cases = {
        {{"simulate", "--table", "9"}, 2, "--table: expected a number from 0 to 8"},
        {{"simulate", "--baud"}, 2, "--baud needs a value"},
        {{"simulate", "--frobnicate"}, 2, "unknown option '--frobnicate'"},
        {{"simulate", "--csv", "/nonexistent/records.csv"}, 1, "cannot read /nonexistent"},
        {{"transmogrify"}, 2, "unknown command 'transmogrify'"},
    };
    for (const Case& test : cases) {
        PdtProcess pdt(test.args);
        EXPECT_EQ(pdt.Wait(), test.status) << test.args.back();
        EXPECT_NE(pdt.Rest(true).find(test.message), std::string::npos) << test.args.back();
    }
}

TEST(PdtSimulateTest, HelpListsTheCommands) {
    PdtProcess pdt({"--help"});
    EXPECT_EQ(pdt.Wait(), 0);
    EXPECT_NE(pdt.Rest(false).find("simulate"), std::string::npos);
}

}  // namespace
}  // namespace pdt::sim
