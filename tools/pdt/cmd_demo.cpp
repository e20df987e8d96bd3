// pdt demo: a simulated terminal on a new pty and a download from it, in one
// command: shows what `pdt receive` does without a terminal at hand.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <thread>

#include "commands.h"
#include "posix/simulator_runner.h"
#include "sim_records.h"

namespace pdt::cli {
namespace {

constexpr size_t kDefaultRecords = 20;
constexpr long kDemoBaud = 9600;  // paced like a real cradle line

constexpr const char* kHelp = R"(usage: pdt demo [--records N | --csv FILE] [receive options]

Starts the terminal simulator on a new pseudo-terminal with sample records and
downloads them with `pdt receive`, in one command. POSIX only.

  --records N     N generated sample records (default 20): an EAN-13 barcode,
                  a product name and a quantity (field 3)
  --csv FILE      the records of FILE instead: one per line, fields separated
                  by ';' (barcode;name;quantity)

Every other option goes to `pdt receive` (see pdt receive --help), after the
demo's own --device and --quantity-field 3; for example --format json or
--output records.csv.
)";

struct DemoOptions {
    bool help = false;
    size_t records = kDefaultRecords;
    std::string csvPath;
    Args receiveArgs;
};

DemoOptions ParseDemoArgs(const Args& args) {
    DemoOptions options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--records" || arg == "--csv") {
            if (i + 1 >= args.size()) throw std::invalid_argument(arg + ": a value is missing");
            const std::string& value = args[++i];
            if (arg == "--csv") {
                options.csvPath = value;
                continue;
            }
            size_t count = 0;
            auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), count);
            if (ec != std::errc() || end != value.data() + value.size() || count > 99999) {
                throw std::invalid_argument("--records: expected 0 to 99999, got \"" + value +
                                            "\"");
            }
            options.records = count;
        } else {
            options.receiveArgs.push_back(arg);
        }
    }
    return options;
}

std::vector<sim::Record> DemoRecords(const DemoOptions& options) {
    if (options.csvPath.empty()) return sim::GenerateRecords(options.records);
    std::ifstream in(options.csvPath, std::ios::binary);
    if (!in) throw std::invalid_argument("--csv: cannot read \"" + options.csvPath + "\"");
    return sim::ReadCsv(in);
}

}  // namespace

int DemoCommand(const Args& args) {
    DemoOptions options;
    sim::SimConfig config;
    try {
        options = ParseDemoArgs(args);
        if (options.help) {
            std::fputs(kHelp, stdout);
            return kExitOk;
        }
        config.records = DemoRecords(options);
    } catch (const std::invalid_argument& error) {
        std::fprintf(stderr, "pdt demo: %s\n", error.what());
        return kExitUsage;
    }
    sim::RunnerOptions runnerOptions;
    runnerOptions.baud = kDemoBaud;
    sim::SimulatorRunner runner(std::move(config), std::move(runnerOptions));
    const std::string device = runner.Open();
    std::fprintf(stderr, "pdt demo: simulated terminal on %s\n", device.c_str());

    // The simulator's thread must never take Ctrl-C: receive handles it.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    std::atomic<bool> stop{false};
    std::thread simulator([&] {
        try {
            runner.Run(stop);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "pdt demo: simulator: %s\n", error.what());
        }
    });
    Args receiveArgs = {"--device", device, "--quantity-field", "3"};
    receiveArgs.insert(receiveArgs.end(), options.receiveArgs.begin(), options.receiveArgs.end());
    int code = ReceiveCommand(receiveArgs);
    stop = true;
    simulator.join();
    return code;
}

}  // namespace pdt::cli
