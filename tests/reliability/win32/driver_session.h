// What the reliability programs need to drive PDT.dll like a host: its
// settings file, one ReceiveData worked by the autopilot, a look at the result,
// and the process's own resource figures.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <string>
#include <utility>
#include <vector>

#include "dialog_autopilot.h"
#include "host_contract.h"

namespace pdt::reliability {

// A Unix path of the build tree as Wine sees it (drive Z: is the root).
std::wstring WinePath(const std::string& unixPath);

using SettingsText = std::vector<std::pair<std::string, std::string>>;

// Rewrites C:\windows\Driver_.ini, section "PDT", with exactly these keys and
// texts (absurd ones included). The DLL reads it when it is loaded.
void WriteSettingsFile(const SettingsText& keys);
// Settings for the simulated terminal on COM`port`: 9600 8N1, table 0,
// barcode in field 1, quantity in field 3 (the simulator's generated records).
SettingsText TerminalSettings(int port);

// The value the host passes in, so that "untouched" can be told apart.
inline constexpr LONG kMarker = 0x5EED;

struct Outcome {
    VARIANT value;
    pdthost::AutopilotReport report;

    Outcome() { VariantInit(&value); }
    Outcome(const Outcome&) = delete;
    Outcome& operator=(const Outcome&) = delete;
    ~Outcome() { VariantClear(&value); }

    bool Untouched() const { return V_VT(&value) == VT_I4 && V_I4(&value) == kMarker; }
    bool Null() const { return V_VT(&value) == VT_NULL; }
    // The [barcode, quantity] pairs; empty unless the value is the contract's array.
    std::vector<std::pair<std::string, int>> Pairs() const;
};

// One ReceiveData through the contract while the autopilot follows `plan`.
void Receive(const pdthost::PdtLibrary& library, std::vector<pdthost::Step> plan, Outcome& out,
             int timeoutMillis = 60000);

// The generated records of `pdt simulate --records N` as the host gets them.
std::vector<std::pair<std::string, int>> GeneratedPairs(size_t count);

struct ProcessFigures {
    DWORD handles = 0;  // under Wine: open file descriptors, the handles that hold one
    int threads = 0;
    size_t privateBytes = 0;
    size_t workingSet = 0;
    size_t peakWorkingSet = 0;
    double cpuSeconds = 0;  // user + kernel
};

ProcessFigures CurrentProcessFigures();
double ProcessCpuSeconds();

// CPU time the process spends over a stretch of wall time: start it, let the
// stretch pass, read the share (0.25 = a quarter of one core).
class CpuWindow {
  public:
    void Start();
    double Share() const;

  private:
    double cpuStart_ = 0;
    ULONGLONG wallStart_ = 0;
};

}  // namespace pdt::reliability
