#include "tool_run.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace pdt::reliability {

ToolRun::ToolRun(const std::string& program, const std::vector<std::string>& args,
                 const std::filesystem::path& workDir, const std::string& name)
    : out_(workDir / (name + ".out")), err_(workDir / (name + ".err")) {
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        const int out = open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        dup2(out, 1);
        dup2(err, 2);
        setpgid(0, 0);  // Ctrl-C in the test's terminal is not the tool's business
        std::vector<char*> raw;
        for (std::string& arg : argv) raw.push_back(arg.data());
        raw.push_back(nullptr);
        execv(raw[0], raw.data());
        _exit(127);
    }
}

ToolRun::~ToolRun() {
    if (Running()) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

bool ToolRun::Running() {
    if (status_ != -1) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return true;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
}

void ToolRun::Signal(int signal) {
    if (Running()) kill(pid_, signal);
}

int ToolRun::Wait(std::chrono::milliseconds limit) {
    if (WaitFor([this] { return !Running(); }, limit)) return status_;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    status_ = 128 + SIGKILL;
    return -1;
}

// Fields 14 and 15 of /proc/PID/stat, in clock ticks; the command name
// (field 2) may hold spaces, so counting starts after its closing parenthesis.
double ToolRun::CpuSeconds() const {
    std::ifstream in("/proc/" + std::to_string(pid_) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    long long user = 0, system = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 14) user = std::stoll(field);
        if (index == 15) {
            system = std::stoll(field);
            break;
        }
    }
    return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

std::string ToolRun::Out() const {
    return ReadFile(out_);
}
std::string ToolRun::Err() const {
    return ReadFile(err_);
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool WaitForPath(const std::filesystem::path& path, std::chrono::milliseconds limit) {
    return WaitFor([&] { return std::filesystem::exists(path); }, limit);
}

}  // namespace pdt::reliability
