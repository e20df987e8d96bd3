// pdt: command-line tool for the Zebex Z-2030 terminal. A small dispatcher:
// `pdt <command> [options]`, each command in its own file.
#include <cstdio>
#include <exception>
#include <string_view>

#include "commands.h"

namespace {

struct Command {
    std::string_view name;
    std::string_view summary;
    int (*run)(const pdt::cli::Args& args);
};

constexpr Command kCommands[] = {
    {"receive", "download one table from a terminal on a serial device", pdt::cli::ReceiveCommand},
    {"ports", "list the serial devices present", pdt::cli::PortsCommand},
    {"demo", "download sample records from a simulated terminal, in one command",
     pdt::cli::DemoCommand},
    {"simulate", "play the terminal's side of the download exchange on a pty or tty",
     pdt::cli::SimulateCommand},
};

void PrintUsage(std::FILE* out) {
    std::fprintf(out, "usage: pdt <command> [options]\n\ncommands:\n");
    for (const Command& command : kCommands) {
        std::fprintf(out, "  %-10.*s %.*s\n", static_cast<int>(command.name.size()),
                     command.name.data(), static_cast<int>(command.summary.size()),
                     command.summary.data());
    }
    std::fprintf(out, "\n'pdt <command> --help' describes a command's options.\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintUsage(stderr);
        return pdt::cli::kExitUsage;
    }
    const std::string_view name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        PrintUsage(stdout);
        return pdt::cli::kExitOk;
    }
    for (const Command& command : kCommands) {
        if (command.name != name) continue;
        try {
            return command.run(pdt::cli::Args(argv + 2, argv + argc));
        } catch (const std::exception& error) {
            std::fprintf(stderr, "pdt %s: %s\n", argv[1], error.what());
            return pdt::cli::kExitFailed;
        }
    }
    std::fprintf(stderr, "pdt: unknown command '%s'\n\n", argv[1]);
    PrintUsage(stderr);
    return pdt::cli::kExitUsage;
}
