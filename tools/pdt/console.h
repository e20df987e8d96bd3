// What the tool needs to know about its standard streams.
#pragma once

namespace pdt::cli {

enum class Stream { kStdout, kStderr };

bool IsTerminal(Stream stream);
// Width of the terminal on standard error, 80 when unknown.
int TerminalColumns();
// Lets UTF-8 text (the exchange's Russian progress lines) show correctly.
void PrepareConsole();

}  // namespace pdt::cli
