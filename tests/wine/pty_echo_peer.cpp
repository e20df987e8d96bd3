// pty_echo_peer: a native serial peer for Windows programs under Wine.
//
//   pty_echo_peer --link PATH [--pattern TEXT]
//
// Creates a pseudo-terminal pair in raw mode, points the symlink PATH at the
// slave, prints the slave's path on stdout and then echoes every byte that
// arrives back to the sender. With --pattern it writes TEXT once first. Runs
// until SIGTERM, SIGINT or SIGHUP, then removes the link if it is still its own.
//
// The peer keeps its own slave descriptor open, so the Windows side may open
// and close the port any number of times without the master seeing a hang-up.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace {

volatile std::sig_atomic_t g_stop_requested = 0;

void RequestStop(int) {
    g_stop_requested = 1;
}

struct Options {
    std::string link;
    std::string pattern;
};

[[noreturn]] void Usage(const char* message) {
    std::fprintf(stderr, "pty_echo_peer: %s\nusage: pty_echo_peer --link PATH [--pattern TEXT]\n",
                 message);
    std::exit(2);
}

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (i + 1 >= argc) Usage(("missing value after " + arg).c_str());
        if (arg == "--link") {
            options.link = argv[++i];
        } else if (arg == "--pattern") {
            options.pattern = argv[++i];
        } else {
            Usage(("unknown argument " + arg).c_str());
        }
    }
    if (options.link.empty()) Usage("--link PATH is required");
    return options;
}

[[noreturn]] void ThrowErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

struct PtyPair {
    int master = -1;
    int slave = -1;
    std::string slave_path;
};

PtyPair OpenRawPty() {
    PtyPair pty;
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    cfsetispeed(&raw, B9600);
    cfsetospeed(&raw, B9600);
    raw.c_cflag |= CLOCAL | CREAD;
    if (openpty(&pty.master, &pty.slave, name, &raw, nullptr) != 0) ThrowErrno("openpty");
    pty.slave_path = name;
    fcntl(pty.master, F_SETFD, FD_CLOEXEC);
    fcntl(pty.slave, F_SETFD, FD_CLOEXEC);
    return pty;
}

// Replaces PATH by a symlink to TARGET in one step, so a reader never sees it missing.
void PointLink(const std::string& path, const std::string& target) {
    std::filesystem::path link(path);
    if (link.has_parent_path()) std::filesystem::create_directories(link.parent_path());
    std::string temporary = path + ".tmp" + std::to_string(getpid());
    std::filesystem::remove(temporary);
    std::filesystem::create_symlink(target, temporary);
    std::filesystem::rename(temporary, link);
}

void RemoveLinkIfOurs(const std::string& path, const std::string& target) {
    std::error_code error;
    if (std::filesystem::read_symlink(path, error) == target) std::filesystem::remove(path, error);
}

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t written = write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// Echoes until a stop signal arrives. The signals stay blocked except inside
// ppoll, so a signal can never slip in between the check and the wait.
int EchoLoop(int master, const sigset_t& wait_mask) {
    char buffer[4096];
    pollfd poll_fd{master, POLLIN, 0};
    while (!g_stop_requested) {
        int ready = ppoll(&poll_fd, 1, nullptr, &wait_mask);
        if (ready < 0) {
            if (errno == EINTR) continue;
            ThrowErrno("ppoll");
        }
        ssize_t got = read(master, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            ThrowErrno("read from pty master");
        }
        if (got == 0 || !WriteAll(master, buffer, static_cast<size_t>(got))) return 1;
    }
    return 0;
}

sigset_t BlockStopSignals() {
    sigset_t stop_signals, previous;
    sigemptyset(&stop_signals);
    for (int signal_number : {SIGTERM, SIGINT, SIGHUP}) {
        sigaddset(&stop_signals, signal_number);
        struct sigaction action {};
        action.sa_handler = RequestStop;
        sigaction(signal_number, &action, nullptr);
    }
    sigprocmask(SIG_BLOCK, &stop_signals, &previous);
    return previous;
}

}  // namespace

int main(int argc, char** argv) {
    Options options = ParseOptions(argc, argv);
    sigset_t wait_mask = BlockStopSignals();
    try {
        PtyPair pty = OpenRawPty();
        PointLink(options.link, pty.slave_path);
        std::printf("%s\n", pty.slave_path.c_str());
        std::fflush(stdout);
        int status = 0;
        if (!options.pattern.empty() &&
            !WriteAll(pty.master, options.pattern.data(), options.pattern.size())) {
            status = 1;
        }
        if (status == 0) status = EchoLoop(pty.master, wait_mask);
        RemoveLinkIfOurs(options.link, pty.slave_path);
        close(pty.slave);
        close(pty.master);
        return status;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "pty_echo_peer: %s\n", error.what());
        return 1;
    }
}
