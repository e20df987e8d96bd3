// pdt simulate: the terminal's side of the download exchange on a new pty (or a
// given tty), for tests, demos and benchmarks of the driver.
#include <signal.h>

#include <atomic>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>

#include "commands.h"
#include "latency_stats.h"
#include "posix/simulator_runner.h"
#include "terminal_simulator.h"

namespace pdt::cli {

namespace {

constexpr size_t kDefaultRecords = 5;

constexpr const char* kHelp = R"(usage: pdt simulate [options]

Plays the Zebex Z-2030 terminal on a new pseudo-terminal and prints the path the
PC opens (one line). Serves one session (up to the PC's ESC) unless --repeat.

Records:
  --csv FILE              records from FILE: one per line, fields separated by ';'
  --records N             N generated records (barcode;name;quantity) when no CSV
                          is given (default 5)
  --table N               table served, 0 to 8 (default 0); the others are absent
  --file-name NAME        file name the terminal reports (default DATA.TXT)
Line:
  --link PATH             make PATH a symlink to the pty (replaces a symlink)
  --device PATH           serve this tty instead of a new pty
  --baud N                pace the answers: each byte takes its line time at N baud
  --bits-per-char N       10 (8N1, default), 11 or 12 (parity, two stop bits)
  --turnaround-us N       pause before every answer, in microseconds
  --repeat                serve sessions one after another until SIGINT/SIGTERM
  --transcript FILE       write both directions, timestamped, in hex
  --latency               on exit print min, median, p99, max of the PC's reply
                          latency (last byte of a header or frame to its ACK), us
Faults (frame 0 is the file-name frame, 1.. the field frames):
  --bad-checksum FRAME    send FRAME with a wrong checksum, the right one after
                          the fault delay
  --wrong-handshake N     answer handshake step N with NAK: 0 ACK to ENQ, 1 BEL to
                          "U", 2 ACK to "T", 3 ACK to ENQ, 4 ACK to "RX", 5 ACK to
                          ENQ, 6 ACK to "CU"
  --silence-after N       say nothing more after N frames
  --hangup-after N        cut frame N halfway and drop the line
  --header-length N       header of N bytes after STX, ETX included (natural 154;
                          above 1028 overflows the driver's buffer)
  --zero-length-frame N   send frame N with length 0
  --fault-delay-ms N      the delay of --bad-checksum (default 100)
)";

std::atomic<bool> g_stop{false};

void OnStopSignal(int) {
    g_stop = true;
}

void InstallStopHandlers() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a blocked poll wakes up at once
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

long long ParseNumber(const std::string& option, const std::string& text, long long min,
                      long long max) {
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < min || value > max) {
        throw std::invalid_argument(option + ": expected a number from " + std::to_string(min) +
                                    " to " + std::to_string(max) + ", got '" + text + "'");
    }
    return value;
}

struct Settings {
    sim::SimConfig config;
    sim::RunnerOptions runner;
    std::string csvPath;
    size_t generated = kDefaultRecords;
    bool latency = false;
    bool help = false;
};

Settings ParseArgs(const Args& args) {
    Settings s;
    using Handler = std::function<void(const std::string&)>;
    const auto number = [](const std::string& option, long long min, long long max) {
        return [option, min, max](const std::string& text) {
            return ParseNumber(option, text, min, max);
        };
    };
    const auto frame = number("frame", 0, 1'000'000);
    const std::map<std::string, Handler> withValue = {
        {"--csv", [&](const std::string& v) { s.csvPath = v; }},
        {"--records",
         [&](const std::string& v) { s.generated = number("--records", 0, 99999)(v); }},
        {"--table", [&](const std::string& v) { s.config.table = number("--table", 0, 8)(v); }},
        {"--file-name", [&](const std::string& v) { s.config.fileName = v; }},
        {"--link", [&](const std::string& v) { s.runner.link = v; }},
        {"--device", [&](const std::string& v) { s.runner.device = v; }},
        {"--baud",
         [&](const std::string& v) { s.runner.baud = number("--baud", 1, 4'000'000)(v); }},
        {"--bits-per-char",
         [&](const std::string& v) {
             s.runner.bitsPerChar = number("--bits-per-char", 10, 12)(v);
         }},
        {"--turnaround-us",
         [&](const std::string& v) {
             s.runner.turnaround =
                 std::chrono::microseconds(number("--turnaround-us", 0, 60'000'000)(v));
         }},
        {"--transcript", [&](const std::string& v) { s.runner.transcriptPath = v; }},
        {"--bad-checksum", [&](const std::string& v) { s.config.badChecksumFrame = frame(v); }},
        {"--wrong-handshake",
         [&](const std::string& v) {
             s.config.wrongHandshakeAt =
                 number("--wrong-handshake", 0, sim::kHandshakeAnswers - 1)(v);
         }},
        {"--silence-after", [&](const std::string& v) { s.config.silenceAfterFrames = frame(v); }},
        {"--hangup-after", [&](const std::string& v) { s.config.hangupAfterFrames = frame(v); }},
        {"--zero-length-frame", [&](const std::string& v) { s.config.zeroLengthFrame = frame(v); }},
        {"--header-length",
         [&](const std::string& v) {
             s.config.headerLength = number("--header-length", 1, 1 << 20)(v);
         }},
        {"--fault-delay-ms",
         [&](const std::string& v) {
             s.config.faultDelay =
                 std::chrono::milliseconds(number("--fault-delay-ms", 0, 60'000)(v));
         }},
    };
    for (size_t i = 0; i < args.size(); ++i) {
        std::string option = args[i];
        std::string value;
        bool inlineValue = false;
        if (const size_t eq = option.find('=');
            option.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = option.substr(eq + 1);
            option.resize(eq);
            inlineValue = true;
        }
        if (option == "--help" || option == "-h") {
            s.help = true;
        } else if (option == "--repeat") {
            s.runner.repeat = true;
        } else if (option == "--latency") {
            s.latency = true;
        } else if (const auto handler = withValue.find(option); handler != withValue.end()) {
            if (!inlineValue) {
                if (i + 1 >= args.size()) throw std::invalid_argument(option + " needs a value");
                value = args[++i];
            }
            handler->second(value);
        } else {
            throw std::invalid_argument("unknown option '" + args[i] + "' (see --help)");
        }
    }
    return s;
}

std::vector<sim::Record> LoadRecords(const Settings& s) {
    if (s.csvPath.empty()) return sim::GenerateRecords(s.generated);
    std::ifstream in(s.csvPath, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + s.csvPath);
    try {
        return sim::ReadCsv(in);
    } catch (const std::invalid_argument& error) {
        throw std::runtime_error(s.csvPath + ": " + error.what());
    }
}

}  // namespace

int SimulateCommand(const Args& args) {
    Settings s;
    try {
        s = ParseArgs(args);
    } catch (const std::invalid_argument& error) {
        std::fprintf(stderr, "pdt simulate: %s\n", error.what());
        return kExitUsage;
    }
    if (s.help) {
        std::fputs(kHelp, stdout);
        return kExitOk;
    }
    s.config.records = LoadRecords(s);
    s.runner.announce = [](const std::string& path) {
        std::printf("%s\n", path.c_str());
        std::fflush(stdout);
    };
    sim::SimulatorRunner runner(std::move(s.config), std::move(s.runner));
    InstallStopHandlers();
    runner.Open();
    runner.Run(g_stop);
    if (s.latency) {
        std::printf("%s\n", sim::FormatLatency(sim::Summarize(runner.Latencies())).c_str());
        std::fflush(stdout);
    }
    return kExitOk;
}

}  // namespace pdt::cli
