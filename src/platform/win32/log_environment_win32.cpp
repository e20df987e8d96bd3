// The log's OS services on Windows: the process's module file name, the local
// clock, text in the ANSI code page and file operations through the ANSI
// file API (the log's path comes from GetModuleFileNameA in that code page).
#include <windows.h>

#include <algorithm>
#include <vector>

#include "core/log/log_environment.h"

namespace pdt {

namespace {

class Win32LogFile : public LogFile {
  public:
    explicit Win32LogFile(HANDLE handle) : handle_(handle) {}
    ~Win32LogFile() override { Close(); }

    bool Write(std::string_view bytes) override {
        while (!bytes.empty()) {
            DWORD written = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 20));
            if (!WriteFile(handle_, bytes.data(), chunk, &written, nullptr) || written == 0) {
                return false;
            }
            bytes.remove_prefix(written);
        }
        return true;
    }

    bool Close() override {
        if (handle_ == INVALID_HANDLE_VALUE) return true;
        const BOOL closed = CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        return closed != FALSE;
    }

  private:
    HANDLE handle_;
};

std::unique_ptr<LogFile> OpenHandle(const std::string& path, DWORD access, DWORD disposition) {
    // Others may read the log, and another host writing its own entries may
    // share it, while one entry is being written.
    const HANDLE handle = CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32LogFile>(handle);
}

std::wstring WideFromUtf8(std::string_view utf8) {
    const int size = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
    return wide;
}

std::string AnsiFromWide(const std::wstring& wide) {
    const int size = static_cast<int>(wide.size());
    const int length =
        WideCharToMultiByte(CP_ACP, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return {};
    std::string ansi(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), size, ansi.data(), length, nullptr, nullptr);
    return ansi;
}

class Win32LogEnvironment : public LogEnvironment {
  public:
    std::string ExecutablePath() override {
        std::vector<char> buffer(MAX_PATH);
        for (;;) {
            const DWORD length =
                GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
            if (length == 0) return {};
            if (length < buffer.size()) return {buffer.data(), length};
            buffer.resize(buffer.size() * 2);  // truncated
        }
    }

    std::string_view PathSeparators() override { return "\\/:"; }

    LocalTime Now() override {
        SYSTEMTIME now{};
        GetLocalTime(&now);
        return {now.wDay, now.wMonth, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
    }

    std::string ToFileText(std::string_view utf8) override {
        if (utf8.empty()) return {};
        return AnsiFromWide(WideFromUtf8(utf8));
    }

    std::optional<uint64_t> FindFileSize(const std::string& path) override {
        WIN32_FIND_DATAA found{};
        const HANDLE search = FindFirstFileA(path.c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return std::nullopt;
        FindClose(search);
        return (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    }

    bool FileExists(const std::string& path) override {
        return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    bool RemoveFile(const std::string& path) override { return DeleteFileA(path.c_str()) != FALSE; }

    bool RenameNoReplace(const std::string& from, const std::string& to) override {
        return MoveFileA(from.c_str(), to.c_str()) != FALSE;  // never replaces
    }

    std::unique_ptr<LogFile> OpenForAppend(const std::string& path) override {
        return OpenHandle(path, FILE_APPEND_DATA, OPEN_EXISTING);
    }

    std::unique_ptr<LogFile> CreateEmpty(const std::string& path) override {
        return OpenHandle(path, GENERIC_WRITE, CREATE_ALWAYS);
    }
};

}  // namespace

LogEnvironment& PlatformLogEnvironment() {
    static Win32LogEnvironment environment;
    return environment;
}

}  // namespace pdt
