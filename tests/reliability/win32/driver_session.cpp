#include "driver_session.h"

#include <tlhelp32.h>

#include <psapi.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "sim_records.h"

namespace pdt::reliability {

std::wstring WinePath(const std::string& unixPath) {
    std::wstring path = L"Z:";
    for (char c : unixPath) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
    return path;
}

namespace {

std::string SettingsPath() {
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    return std::string(windows) + "\\Driver_.ini";
}

}  // namespace

void WriteSettingsFile(const SettingsText& keys) {
    const std::string file = SettingsPath();
    DeleteFileA(file.c_str());
    for (const auto& [key, value] : keys) {
        if (!WritePrivateProfileStringA("PDT", key.c_str(), value.c_str(), file.c_str()))
            throw std::runtime_error("cannot write " + file);
    }
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, file.c_str());  // flush the cache
}

SettingsText TerminalSettings(int port) {
    return {{"iComNum", std::to_string(port)},
            {"iBaud", "9600"},
            {"iParity", "0"},
            {"iDataBit", "8"},
            {"iStopBit", "1"},
            {"c_CodeFldNum", "1"},
            {"c_CountFldNum", "3"},
            {"c_TimeOut", "60"},
            {"c_FormNum", "0"}};
}

void Receive(const pdthost::PdtLibrary& library, std::vector<pdthost::Step> plan, Outcome& out,
             int timeoutMillis) {
    VariantClear(&out.value);
    V_VT(&out.value) = VT_I4;
    V_I4(&out.value) = kMarker;
    pdthost::Autopilot autopilot(GetCurrentThreadId(), std::move(plan), timeoutMillis);
    library.ReceiveData(&out.value);
    out.report = autopilot.Finish();
}

namespace {

std::string Narrow(BSTR text) {
    std::string out;
    for (UINT i = 0; i < SysStringLen(text); ++i) out += static_cast<char>(text[i]);
    return out;
}

// One [barcode, quantity] element; false when its shape is not the contract's.
bool ReadPair(SAFEARRAY* outer, LONG index, std::pair<std::string, int>& pair) {
    VARIANT element;
    VariantInit(&element);
    bool ok = SafeArrayGetElement(outer, &index, &element) == S_OK &&
              V_VT(&element) == (VT_ARRAY | VT_VARIANT);
    if (ok) {
        VARIANT barcode, quantity;
        VariantInit(&barcode);
        VariantInit(&quantity);
        LONG at = 0;
        SafeArrayGetElement(V_ARRAY(&element), &at, &barcode);
        at = 1;
        SafeArrayGetElement(V_ARRAY(&element), &at, &quantity);
        ok = V_VT(&barcode) == VT_BSTR && V_VT(&quantity) == VT_I4;
        if (ok) pair = {Narrow(V_BSTR(&barcode)), V_I4(&quantity)};
        VariantClear(&barcode);
        VariantClear(&quantity);
    }
    VariantClear(&element);
    return ok;
}

}  // namespace

std::vector<std::pair<std::string, int>> Outcome::Pairs() const {
    std::vector<std::pair<std::string, int>> pairs;
    if (V_VT(&value) != (VT_ARRAY | VT_VARIANT)) return pairs;
    SAFEARRAY* outer = V_ARRAY(&value);
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(outer, 1, &lower);
    SafeArrayGetUBound(outer, 1, &upper);
    for (LONG i = lower; i <= upper; ++i) {
        std::pair<std::string, int> pair;
        if (!ReadPair(outer, i, pair)) return {};
        pairs.push_back(std::move(pair));
    }
    return pairs;
}

std::vector<std::pair<std::string, int>> GeneratedPairs(size_t count) {
    std::vector<std::pair<std::string, int>> pairs;
    for (const sim::Record& record : sim::GenerateRecords(count))
        pairs.emplace_back(record[0], std::stoi(record[2]));
    return pairs;
}

namespace {

int ThreadCount() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
    CloseHandle(snapshot);
    return count;
}

double Seconds(const FILETIME& time) {
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    return static_cast<double>(value.QuadPart) / 1e7;
}

}  // namespace

double ProcessCpuSeconds() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
    return Seconds(kernel) + Seconds(user);
}

namespace {

// Under Wine the process is a Linux process too, and its figures there are
// the ones that count: Wine reports no handle count and no private bytes, and
// its thread snapshot misses threads. Drive Z: is the Linux root.
constexpr const char* kLinuxStatus = "Z:\\proc\\self\\status";

size_t StatusKilobytes(const std::string& status, const std::string& key) {
    const size_t at = status.find("\n" + key + ":");
    return at == std::string::npos ? 0 : std::stoull(status.substr(at + key.size() + 2));
}

DWORD OpenFileDescriptors() {
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA("Z:\\proc\\self\\fd\\*", &entry);
    if (find == INVALID_HANDLE_VALUE) return 0;
    DWORD count = 0;
    do {
        if (entry.cFileName[0] != '.') ++count;
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    return count;
}

bool ReadLinuxFigures(ProcessFigures& figures) {
    std::ifstream in(kLinuxStatus);
    if (!in) return false;
    const std::string status =
        "\n" + std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    figures.threads = static_cast<int>(StatusKilobytes(status, "Threads"));
    figures.privateBytes = StatusKilobytes(status, "RssAnon") * 1024;
    figures.workingSet = StatusKilobytes(status, "VmRSS") * 1024;
    figures.peakWorkingSet = StatusKilobytes(status, "VmHWM") * 1024;
    figures.handles = std::max(figures.handles, OpenFileDescriptors());
    return true;
}

}  // namespace

ProcessFigures CurrentProcessFigures() {
    ProcessFigures figures;
    GetProcessHandleCount(GetCurrentProcess(), &figures.handles);
    figures.threads = ThreadCount();
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof(memory);
    if (GetProcessMemoryInfo(GetCurrentProcess(),
                             reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof(memory))) {
        figures.privateBytes = memory.PrivateUsage;
        figures.workingSet = memory.WorkingSetSize;
        figures.peakWorkingSet = memory.PeakWorkingSetSize;
    }
    figures.cpuSeconds = ProcessCpuSeconds();
    ReadLinuxFigures(figures);
    return figures;
}

void CpuWindow::Start() {
    cpuStart_ = ProcessCpuSeconds();
    wallStart_ = GetTickCount64();
}

double CpuWindow::Share() const {
    const double wall = static_cast<double>(GetTickCount64() - wallStart_) / 1000.0;
    return wall > 0 ? (ProcessCpuSeconds() - cpuStart_) / wall : 0;
}

}  // namespace pdt::reliability
