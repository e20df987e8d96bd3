// Shared helpers of the driver's Windows tests: the DLL under test, its
// settings file, and one ReceiveData call worked by the autopilot.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <string>
#include <utility>
#include <vector>

#include "dialog_autopilot.h"
#include "host_contract.h"

namespace pdt::test {

// A Unix path of the build tree as Wine sees it (drive Z: is the root).
std::wstring WinePath(const std::string& unixPath);
std::wstring DllPath();
std::string Utf8(const std::wstring& text);
std::string TestDataPath(const std::string& name);

// Writes C:\windows\Driver_.ini for the simulated terminal on COM`port`
// (its records carry the quantity in field 3). The DLL reads it when loaded.
void WriteDriverSettings(int port);
// A copy of the DLL under test for port `port`, in a folder of the test's own
// that is emptied once per run (copies still loaded by another run stay).
std::wstring CopyOfDll(int port);

// The value the host passes in, so that "untouched" can be told apart.
inline constexpr LONG kMarker = 0x5EED;

struct Received {
    VARIANT value;
    pdthost::AutopilotReport report;

    Received() { VariantInit(&value); }
    Received(const Received&) = delete;
    Received& operator=(const Received&) = delete;
    ~Received() { VariantClear(&value); }

    bool Untouched() const { return V_VT(&value) == VT_I4 && V_I4(&value) == kMarker; }
};

// One ReceiveData through the contract while the autopilot follows `plan`.
void Receive(const pdthost::PdtLibrary& library, std::vector<pdthost::Step> plan, Received& out,
             int timeoutMillis = 60000);

using Pair = std::pair<std::wstring, int>;
// The result as pairs; every type and bound is checked with gtest on the way.
std::vector<Pair> Decode(const VARIANT& value);

// Records of a ';'-separated file as the host must get them: field 1 through
// the ANSI code page, field 3 as a number.
std::vector<Pair> ExpectedFromCsv(const std::string& path);

}  // namespace pdt::test
