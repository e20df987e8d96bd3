// Drives the driver's reception dialog from a second thread, the way a user
// would: waits for progress in the memo, presses buttons and keys, reads and
// dismisses error boxes, and can take a picture of the dialog. Used by the
// sample host for demos and by the end-to-end tests.
//
// It knows the dialog only from the outside: its caption, its edit control
// and its buttons' captions.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace pdthost {

enum class Button { Ok, Cancel, Request };

struct Step {
    enum class Kind {
        WaitDialog,   // the reception dialog is shown
        WaitRecords,  // the memo shows at least `count` record lines
        WaitQuiet,    // the memo has not changed for `millis`
        WaitErrors,   // at least `count` error boxes have been seen in all
        Press,        // click `button`
        CloseBox,     // the window's close box
        Key,          // press the virtual key `count` (VK_RETURN, VK_ESCAPE...)
        Screenshot,   // save the dialog window to `path` (.bmp)
        Inspect,      // call `inspect` with the dialog window (tests look inside)
    };
    Kind kind = Kind::WaitDialog;
    int count = 0;
    int millis = 0;
    Button button = Button::Ok;
    std::wstring path;
    std::function<void(HWND dialog)> inspect;
};

// Shorthands for building plans.
Step WaitDialog();
Step WaitRecords(int count);
Step WaitQuiet(int millis);
Step WaitErrors(int count);
Step Press(Button button);
Step CloseBox();
Step Key(int virtualKey);
Step Screenshot(std::wstring path);
Step Inspect(std::function<void(HWND dialog)> inspect);

struct AutopilotReport {
    std::vector<std::wstring> errorBoxes;  // texts of the error boxes, in order
    std::wstring memo;                     // the memo as last read
    std::string failure;                   // the step that did not come true in time
};

class Autopilot {
  public:
    // Starts watching the windows of thread `uiThread` (the thread that will
    // call ReceiveData). A wait that lasts longer than `timeoutMillis` is a
    // failure: the dialog is then cancelled so that nothing hangs.
    Autopilot(DWORD uiThread, std::vector<Step> plan, int timeoutMillis = 60000);
    Autopilot(const Autopilot&) = delete;
    Autopilot& operator=(const Autopilot&) = delete;
    ~Autopilot();

    // Stops watching (call after ReceiveData has returned) and reports.
    AutopilotReport Finish();

  private:
    void Run();
    bool RunStep(const Step& step);
    bool WaitUntil(const std::function<bool()>& condition);
    void Poll();
    void DismissErrorBoxes();
    void CancelStuckDialog();
    std::wstring ReadMemo();

    DWORD uiThread_;
    std::vector<Step> plan_;
    int timeoutMillis_;
    HANDLE stop_;
    std::thread thread_;

    HWND form_ = nullptr;
    AutopilotReport report_;
};

// The reception dialog of thread `uiThread`, if shown.
HWND FindReceptionDialog(DWORD uiThread);
// Number of record lines ("Запись: ...") in a progress log.
int CountRecordLines(const std::wstring& memo);
// Saves the window's picture as a 24-bit BMP file; false on failure.
bool SaveWindowBitmap(HWND window, const std::wstring& path);

}  // namespace pdthost
