// TConnectForm, the reception dialog: while it is shown, a TScaner holds the
// configured COM port and reads the terminal; its memo shows the progress log.
//
// Progress lines come from the port's event thread. They are queued here and
// the UI thread is woken with a posted message (never a sent one: closing the
// dialog waits for the port's threads, so an event thread waiting for the UI
// thread would deadlock). Each line carries the number of its exchange; after
// "Запрос" lines of the older exchange still in the queue are dropped.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "core/records/result_list.h"
#include "driver/ui/dialog_base.h"
#include "serial/line.h"
#include "serial/tscaner.h"

namespace pdt {

class TConnectForm final : public ui::TDialogBase, private ProgressSink {
  public:
    // Control ids; OK and Cancel are the dialog manager's IDOK and IDCANCEL.
    static constexpr int kMemoId = 1001;
    static constexpr int kRequestId = 1002;  // "Запрос"

    explicit TConnectForm(TResultList& results,
                          serial::LineFactory lineFactory = serial::SystemLineFactory());
    ~TConnectForm() override;

  private:
    struct PendingLine {
        uint32_t exchange;
        std::wstring text;
    };

    void OnCreate() override;
    void OnShow() override { FormShow(); }
    void OnCommand(int id, int code, HWND control) override;
    void OnClose(int result) override;
    std::optional<INT_PTR> OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    void FormShow();
    void FormClose();
    void BitBtn3Click();

    void StartExchange();
    void ProgressLine(uint32_t exchange, std::string_view label, std::string_view payload) override;
    void ShowPendingLines();
    void AppendToMemo(const std::wstring& text);
    void StopNotifications();

    TResultList& results_;
    serial::LineFactory lineFactory_;
    std::unique_ptr<TScaner> scanner_;
    HWND memo_ = nullptr;
    // UI thread only: lines of exchanges before this one are stale.
    uint32_t currentExchange_ = 0;

    std::mutex pendingMutex_;
    std::vector<PendingLine> pending_;
    HWND notifyWindow_ = nullptr;  // null once the dialog stops taking lines
    bool wakePosted_ = false;
};

}  // namespace pdt
