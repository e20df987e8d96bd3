#include "dialog_autopilot.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>

namespace pdthost {
namespace {

constexpr wchar_t kDialogClass[] = L"#32770";
constexpr wchar_t kReceptionCaption[] = L"Прием данных";
constexpr wchar_t kRecordLabel[] = L"Запись: ";
constexpr int kMessageTextId = 0xFFFF;  // the static control of a message box
constexpr DWORD kPollMillis = 25;

std::wstring WindowText(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length))
        return {};
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, 2000, &copied))
        return {};
    text.resize(copied);
    return text;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

BOOL CALLBACK CollectDialog(HWND window, LPARAM list) {
    if (IsWindowVisible(window) && ClassOf(window) == kDialogClass)
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

std::vector<HWND> DialogsOfThread(DWORD thread) {
    std::vector<HWND> found;
    EnumThreadWindows(thread, &CollectDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

const wchar_t* CaptionOf(Button button) {
    switch (button) {
        case Button::Ok:
            return L"OK";
        case Button::Cancel:
            return L"Отмена";
        case Button::Request:
            return L"Запрос";
    }
    return L"";
}

void Click(HWND dialog, HWND button) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
}

HWND FocusOf(DWORD thread, HWND fallback) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    if (GetGUIThreadInfo(thread, &info) && info.hwndFocus) return info.hwndFocus;
    return fallback;
}

}  // namespace

namespace {

Step MakeStep(Step::Kind kind, int count = 0, int millis = 0, Button button = Button::Ok) {
    Step step;
    step.kind = kind;
    step.count = count;
    step.millis = millis;
    step.button = button;
    return step;
}

}  // namespace

Step WaitDialog() {
    return MakeStep(Step::Kind::WaitDialog);
}
Step WaitRecords(int count) {
    return MakeStep(Step::Kind::WaitRecords, count);
}
Step WaitQuiet(int millis) {
    return MakeStep(Step::Kind::WaitQuiet, 0, millis);
}
Step WaitErrors(int count) {
    return MakeStep(Step::Kind::WaitErrors, count);
}
Step Press(Button button) {
    return MakeStep(Step::Kind::Press, 0, 0, button);
}
Step CloseBox() {
    return MakeStep(Step::Kind::CloseBox);
}
Step Key(int virtualKey) {
    return MakeStep(Step::Kind::Key, virtualKey);
}
Step Screenshot(std::wstring path) {
    Step step = MakeStep(Step::Kind::Screenshot);
    step.path = std::move(path);
    return step;
}

Step Inspect(std::function<void(HWND dialog)> inspect) {
    Step step = MakeStep(Step::Kind::Inspect);
    step.inspect = std::move(inspect);
    return step;
}

HWND FindReceptionDialog(DWORD uiThread) {
    for (HWND dialog : DialogsOfThread(uiThread))
        if (WindowText(dialog) == kReceptionCaption) return dialog;
    return nullptr;
}

int CountRecordLines(const std::wstring& memo) {
    int count = 0;
    for (size_t at = memo.find(kRecordLabel); at != std::wstring::npos;
         at = memo.find(kRecordLabel, at + 1))
        ++count;
    return count;
}

Autopilot::Autopilot(DWORD uiThread, std::vector<Step> plan, int timeoutMillis)
    : uiThread_(uiThread),
      plan_(std::move(plan)),
      timeoutMillis_(timeoutMillis),
      stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    if (!stop_) throw std::runtime_error("CreateEvent failed");
    thread_ = std::thread([this] { Run(); });
}

Autopilot::~Autopilot() {
    SetEvent(stop_);
    if (thread_.joinable()) thread_.join();
    CloseHandle(stop_);
}

AutopilotReport Autopilot::Finish() {
    SetEvent(stop_);
    if (thread_.joinable()) thread_.join();
    return report_;
}

void Autopilot::Run() {
    for (const Step& step : plan_) {
        if (!RunStep(step)) break;
    }
    // Plan done (or failed): keep error boxes from blocking the host, and do
    // not let a dialog the plan left open hang the run.
    const auto idleSince = std::chrono::steady_clock::now();
    while (WaitForSingleObject(stop_, kPollMillis) == WAIT_TIMEOUT) {
        Poll();
        const auto idle = std::chrono::steady_clock::now() - idleSince;
        if (form_ && idle > std::chrono::milliseconds(timeoutMillis_)) CancelStuckDialog();
    }
}

bool Autopilot::RunStep(const Step& step) {
    using Kind = Step::Kind;
    switch (step.kind) {
        case Kind::WaitDialog:
            return WaitUntil([&] { return form_ != nullptr; });
        case Kind::WaitRecords:
            return WaitUntil([&] { return form_ && CountRecordLines(ReadMemo()) >= step.count; });
        case Kind::WaitQuiet: {
            std::wstring last;
            auto since = std::chrono::steady_clock::now();
            return WaitUntil([&] {
                if (!form_) return false;
                std::wstring now = ReadMemo();
                if (now != last) {
                    last = std::move(now);
                    since = std::chrono::steady_clock::now();
                }
                return std::chrono::steady_clock::now() - since >=
                       std::chrono::milliseconds(step.millis);
            });
        }
        case Kind::WaitErrors:
            return WaitUntil(
                [&] { return static_cast<int>(report_.errorBoxes.size()) >= step.count; });
        default:
            break;
    }
    if (!WaitUntil([&] { return form_ != nullptr; })) return false;
    report_.memo = ReadMemo();
    switch (step.kind) {
        case Kind::Press:
            if (HWND button = FindWindowExW(form_, nullptr, L"Button", CaptionOf(step.button)))
                Click(form_, button);
            break;
        case Kind::CloseBox:
            PostMessageW(form_, WM_SYSCOMMAND, SC_CLOSE, 0);
            break;
        case Kind::Key: {
            HWND target = FocusOf(uiThread_, form_);
            PostMessageW(target, WM_KEYDOWN, step.count, 1);
            PostMessageW(target, WM_KEYUP, step.count, 1 | (3u << 30));
            break;
        }
        case Kind::Screenshot:
            if (!SaveWindowBitmap(form_, step.path)) report_.failure = "screenshot failed";
            break;
        case Kind::Inspect:
            step.inspect(form_);
            break;
        default:
            break;
    }
    return true;
}

bool Autopilot::WaitUntil(const std::function<bool()>& condition) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMillis_);
    for (;;) {
        Poll();
        if (condition()) return true;
        if (std::chrono::steady_clock::now() > deadline) {
            report_.failure = "a step timed out";
            CancelStuckDialog();
            return false;
        }
        if (WaitForSingleObject(stop_, kPollMillis) != WAIT_TIMEOUT) {
            report_.failure = "the host returned before the plan was done";
            return false;
        }
    }
}

void Autopilot::Poll() {
    DismissErrorBoxes();
    form_ = FindReceptionDialog(uiThread_);
    if (form_) report_.memo = ReadMemo();
}

void Autopilot::DismissErrorBoxes() {
    for (HWND dialog : DialogsOfThread(uiThread_)) {
        HWND text = GetDlgItem(dialog, kMessageTextId);
        if (!text) continue;
        // Each box is counted once: dismissing takes a moment.
        if (GetPropW(dialog, L"pdthost.seen")) continue;
        SetPropW(dialog, L"pdthost.seen", reinterpret_cast<HANDLE>(1));
        report_.errorBoxes.push_back(WindowText(text));
        PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    }
}

void Autopilot::CancelStuckDialog() {
    if (HWND form = FindReceptionDialog(uiThread_)) PostMessageW(form, WM_COMMAND, IDCANCEL, 0);
}

std::wstring Autopilot::ReadMemo() {
    HWND memo = form_ ? FindWindowExW(form_, nullptr, L"Edit", nullptr) : nullptr;
    return memo ? WindowText(memo) : std::wstring();
}

bool SaveWindowBitmap(HWND window, const std::wstring& path) {
    RECT frame{};
    if (!GetWindowRect(window, &frame)) return false;
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    HDC source = GetWindowDC(window);
    if (!source) return false;
    HDC memory = CreateCompatibleDC(source);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // bottom-up, as BMP files store it
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool saved = false;
    if (memory && bitmap) {
        HGDIOBJ previous = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY);
        GdiFlush();
        SelectObject(memory, previous);
        const DWORD stride = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
        const DWORD imageSize = stride * static_cast<DWORD>(height);
        BITMAPFILEHEADER header{};
        header.bfType = 0x4D42;  // "BM"
        header.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
        header.bfSize = header.bfOffBits + imageSize;
        info.bmiHeader.biSizeImage = imageSize;
        std::ofstream file(std::filesystem::path(path), std::ios::binary);
        file.write(reinterpret_cast<const char*>(&header), sizeof(header));
        file.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof(info.bmiHeader));
        file.write(static_cast<const char*>(bits), imageSize);
        saved = static_cast<bool>(file);
    }
    if (bitmap) DeleteObject(bitmap);
    if (memory) DeleteDC(memory);
    ReleaseDC(window, source);
    return saved;
}

}  // namespace pdthost
