// The driver object the host reaches through InitDll.
//
// The host knows nothing but memory: InitDll returns P, the address of the
// driver reference; O = *P is the object; T = *O, its first pointer-sized
// field, is a table of two entries: T[0] ReceiveData, T[1] Configure. Both are
// stdcall with the object as the LAST stack argument (ReceiveData: the result
// variant's address lies lowest, then the object), which is not the layout of
// a C++ virtual function or a COM method, so the table is built by hand.
#pragma once

#include <windows.h>

#include <oaidl.h>

namespace pdt {

class CPDTDriver;

using ReceiveDataEntry = void(__stdcall*)(VARIANT* result, CPDTDriver* self);
using ConfigureEntry = void(__stdcall*)(CPDTDriver* self);

struct CPDTDriverTable {
    ReceiveDataEntry receiveData;  // slot 0
    ConfigureEntry configure;      // slot 1
};

class CPDTDriver {
  public:
    CPDTDriver();

  private:
    const CPDTDriverTable* table_;  // must stay the first and only field
};

// Slot 0: reads the terminal through the reception dialog. On OK with records
// the caller's variant receives the array of [barcode, quantity] pairs; on a
// failure Null; on Cancel or without records it is left as passed. Never
// throws.
void __stdcall ReceiveData(VARIANT* result, CPDTDriver* self) noexcept;
// Slot 1: runs the settings dialog. Never throws.
void __stdcall Configure(CPDTDriver* self) noexcept;

// InitDll's work: a new driver object, stored in the module-wide driver
// reference, whose address is returned. Earlier objects stay valid until the
// library is unloaded, since a host may still hold one.
CPDTDriver** NewDriver() noexcept;

}  // namespace pdt
