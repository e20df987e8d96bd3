// Exit codes of the pdt tool beyond those every command shares (commands.h).
// Scripts depend on them, so they never change meaning.
#pragma once

#include "commands.h"

namespace pdt::cli {

inline constexpr int kExitPortFailed = 3;     // the port could not be opened or programmed
inline constexpr int kExitIncomplete = 4;     // exchange ended early or timed out
inline constexpr int kExitInterrupted = 130;  // Ctrl-C (128 + SIGINT, as shells report it)

}  // namespace pdt::cli
