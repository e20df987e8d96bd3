// The native half of the Wine bench: the pty adapter's answers and the echo peer.
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

using IoctlFn = int (*)(int, unsigned long, ...);

class PtyAdapterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        library_ = dlopen(PDT_PTY_ADAPTER, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library_, nullptr) << dlerror();
        adapted_ioctl_ = reinterpret_cast<IoctlFn>(dlsym(library_, "ioctl"));
        ASSERT_NE(adapted_ioctl_, nullptr);
        ASSERT_EQ(openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0);
    }
    void TearDown() override {
        if (master_ >= 0) close(master_);
        if (slave_ >= 0) close(slave_);
        if (library_) dlclose(library_);
    }

    void* library_ = nullptr;
    IoctlFn adapted_ioctl_ = nullptr;
    int master_ = -1;
    int slave_ = -1;
};

TEST_F(PtyAdapterTest, ModemStatusOfPtyHasCtsDsrAndCarrierOn) {
    int status = 0;
    ASSERT_EQ(ioctl(slave_, TIOCMGET, &status), -1) << "the kernel now answers TIOCMGET on a pty";
    ASSERT_EQ(adapted_ioctl_(slave_, TIOCMGET, &status), 0);
    EXPECT_EQ(status, TIOCM_CTS | TIOCM_DSR | TIOCM_CAR);
}

TEST_F(PtyAdapterTest, LineCountersOfPtyAreZero) {
    serial_icounter_struct counters;
    std::memset(&counters, 0xff, sizeof counters);
    ASSERT_EQ(adapted_ioctl_(slave_, TIOCGICOUNT, &counters), 0);
    serial_icounter_struct zero{};
    EXPECT_EQ(std::memcmp(&counters, &zero, sizeof zero), 0);
}

TEST_F(PtyAdapterTest, ModemLineChangesOnPtyAreAccepted) {
    int lines = TIOCM_RTS | TIOCM_DTR;
    for (unsigned long request : {TIOCMSET, TIOCMBIS, TIOCMBIC}) {
        EXPECT_EQ(adapted_ioctl_(slave_, request, &lines), 0) << "request " << request;
    }
}

TEST_F(PtyAdapterTest, OtherRequestsAndOtherFilesPassThrough) {
    // A real request on the pty still reaches the kernel (a whole line: the pty is in cooked mode).
    ASSERT_EQ(write(master_, "abc\n", 4), 4);
    int waiting = -1;
    for (int tries = 0; tries < 100 && waiting != 4; ++tries) {
        ASSERT_EQ(adapted_ioctl_(slave_, FIONREAD, &waiting), 0);
        if (waiting != 4) poll(nullptr, 0, 10);
    }
    EXPECT_EQ(waiting, 4);

    // A pipe and the pty master are no serial ports: the kernel's refusal stands.
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    for (int fd : {pipe_fds[0], master_}) {
        int status = 0;
        errno = 0;
        EXPECT_EQ(adapted_ioctl_(fd, TIOCMGET, &status), -1) << "fd " << fd;
        EXPECT_EQ(errno, ENOTTY) << "fd " << fd;
    }
    close(pipe_fds[0]);
    close(pipe_fds[1]);
}

// Runs the echo peer on a link in a private directory, as with-peers.sh does.
class EchoPeerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        directory_ =
            std::filesystem::temp_directory_path() / ("pdt_echo_peer_" + std::to_string(getpid()));
        std::filesystem::create_directories(directory_);
        link_ = (directory_ / "com3").string();
    }
    void TearDown() override {
        if (peer_ > 0) {
            kill(peer_, SIGKILL);
            waitpid(peer_, nullptr, 0);
        }
        std::filesystem::remove_all(directory_);
    }

    // Starts the peer and returns the slave path it prints.
    std::string StartPeer(std::vector<std::string> extra = {}) {
        int out[2];
        EXPECT_EQ(pipe(out), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<std::string> args = {PDT_PTY_ECHO_PEER, "--link", link_};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (auto& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        EXPECT_EQ(posix_spawn(&peer_, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        std::string line;
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
        close(out[0]);
        return line;
    }

    int StopPeer() {
        kill(peer_, SIGTERM);
        int status = 0;
        waitpid(peer_, &status, 0);
        peer_ = -1;
        return status;
    }

    static std::string ReadExactly(int fd, size_t size) {
        std::string got;
        char buffer[64];
        while (got.size() < size) {
            pollfd poll_fd{fd, POLLIN, 0};
            if (poll(&poll_fd, 1, 5000) != 1) break;
            ssize_t n = read(fd, buffer, std::min(sizeof buffer, size - got.size()));
            if (n <= 0) break;
            got.append(buffer, static_cast<size_t>(n));
        }
        return got;
    }

    std::filesystem::path directory_;
    std::string link_;
    pid_t peer_ = -1;
};

TEST_F(EchoPeerTest, EchoesThroughItsLinkAndRemovesTheLinkOnStop) {
    std::string slave = StartPeer();
    ASSERT_EQ(slave.rfind("/dev/pts/", 0), 0u) << slave;
    EXPECT_EQ(std::filesystem::read_symlink(link_).string(), slave);

    // Opened, used and closed twice: a closed port must not end the peer.
    for (int round = 0; round < 2; ++round) {
        int port = open(link_.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(port, 0) << std::strerror(errno);
        ASSERT_EQ(write(port, "\x05hello\x1b", 7), 7);
        EXPECT_EQ(ReadExactly(port, 7), "\x05hello\x1b");
        close(port);
    }

    int status = StopPeer();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link_)));
}

TEST_F(EchoPeerTest, WritesItsPatternFirst) {
    StartPeer({"--pattern", "ENQ"});
    int port = open(link_.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(port, 0) << std::strerror(errno);
    EXPECT_EQ(ReadExactly(port, 3), "ENQ");
    close(port);
}

}  // namespace
