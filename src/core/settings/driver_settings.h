// The nine driver settings, module-wide, named after their keys in Driver_.ini.
//
// They are written only while no exchange runs (at library load and by the
// settings dialog, both on the host's UI thread) and read by the port set-up
// and by the protocol on the port's event thread.
#pragma once

#include <cstdint>

namespace pdt {

struct DriverSettings {
    int32_t iComNum = 1;         // n of COMn
    int32_t iBaud = 9600;        // bits per second
    int32_t iParity = 0;         // 0 none, 1 odd, 2 even, 3 mark, 4 space (as the port applies it)
    int32_t iDataBit = 8;        // data bits per character
    int32_t iStopBit = 1;        // 1 or 2
    int32_t c_CodeFldNum = 1;    // field of a record that holds the barcode, from 1
    int32_t c_CountFldNum = 2;   // field of a record that holds the quantity, from 1
    int32_t c_TimeOut = 60;      // waiting time, seconds
    int32_t c_FormNum = 0;       // the terminal's table to read
};

// The library's one set of settings.
extern DriverSettings Settings;

}  // namespace pdt
