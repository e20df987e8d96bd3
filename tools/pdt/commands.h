// The subcommands of `pdt`. Each takes the arguments after its name and
// returns the process exit code: 0 done, 1 failed, 2 bad usage (more in
// exit_codes.h).
#pragma once

#include <string>
#include <vector>

namespace pdt::cli {

using Args = std::vector<std::string>;

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

int SimulateCommand(const Args& args);
int ReceiveCommand(const Args& args);
int PortsCommand(const Args& args);
int DemoCommand(const Args& args);

}  // namespace pdt::cli
