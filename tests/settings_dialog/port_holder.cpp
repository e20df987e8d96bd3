// Holds one COM port open, exclusively, the way another program would: opens
// it, writes "held" (or "failed <error>") to its output, and keeps it until
// its input ends.
//
//   settings_dialog_port_holder N
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

void Say(const std::string& text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()),
              &written, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        Say("usage: settings_dialog_port_holder N\n");
        return 2;
    }
    const std::string name = "\\\\.\\COM" + std::to_string(std::atoi(argv[1]));
    HANDLE port = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        Say("failed " + std::to_string(GetLastError()) + "\n");
        return 1;
    }
    Say("held\n");
    char byte = 0;
    DWORD read = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &read, nullptr) && read > 0) {
    }
    CloseHandle(port);
    return 0;
}
