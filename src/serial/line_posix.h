// The POSIX line's translation between the DCB fields and termios.
#pragma once

#include <termios.h>

#include <string>

#include "serial/line.h"

namespace pdt::serial {

// Speed, byte size, parity (mark and space through CMSPAR) and stop bits.
LineState StateFromTermios(const termios& t);
// False, with the reason, for what termios cannot express: a speed without a
// Bxxx constant, a byte size outside 5..8, an unknown parity, 1.5 stop bits.
bool StateToTermios(const LineState& state, termios& t, std::string& whyNot);

}  // namespace pdt::serial
