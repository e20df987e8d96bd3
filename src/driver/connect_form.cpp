#include "driver/connect_form.h"

#include <stdexcept>
#include <utility>

#include "core/settings/driver_settings.h"
#include "driver/ui/text_convert.h"

namespace pdt {
namespace {

constexpr UINT kProgressMessage = ui::TDialogBase::kFirstOwnMessage;

constexpr char kTerminalErrorPrefix[] = "Ошибка при обращении к терминалу: ";
constexpr char kNoConnectionMessage[] = "Связь с терминалом не установлена!";

ui::DialogLayout ConnectFormLayout() {
    return {ui::Utf8ToWide("Прием данных"), SIZE{347, 235}, POINT{210, 160}, L"TConnectForm"};
}

}  // namespace

TConnectForm::TConnectForm(TResultList& results, serial::LineFactory lineFactory)
    : TDialogBase(ConnectFormLayout()), results_(results), lineFactory_(std::move(lineFactory)) {}

TConnectForm::~TConnectForm() {
    // Normally gone in FormClose; if the dialog ended some other way, the
    // port's threads stop here, before the queue they write to goes.
    StopNotifications();
    scanner_.reset();
}

void TConnectForm::OnCreate() {
    // Created in tab order: BitBtn1, Memo1, BitBtn2, BitBtn3.
    AddButton(IDCANCEL, ui::Utf8ToWide("Отмена"), {264, 200, 75, 25});
    memo_ = AddControl(L"EDIT", L"", WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL | ES_LEFT,
                       {0, 0, 347, 193}, kMemoId, nullptr, WS_EX_CLIENTEDGE);
    // An edit control takes 32,767 characters unless told otherwise; a long
    // download writes far more.
    SendMessageW(memo_, EM_SETLIMITTEXT, 0, 0);
    AddButton(IDOK, L"OK", {184, 200, 75, 25}, true);
    AddButton(kRequestId, ui::Utf8ToWide("Запрос"), {8, 200, 75, 25});
    std::lock_guard lock(pendingMutex_);
    notifyWindow_ = Handle();
}

void TConnectForm::OnCommand(int id, int code, HWND /*control*/) {
    if (id == kRequestId && code == BN_CLICKED) BitBtn3Click();
}

void TConnectForm::OnClose(int /*result*/) {
    FormClose();
}

std::optional<INT_PTR> TConnectForm::OnMessage(UINT message, WPARAM, LPARAM) {
    if (message != kProgressMessage) return std::nullopt;
    ShowPendingLines();
    return TRUE;
}

void TConnectForm::FormShow() {
    try {
        ProgressSink& progress = *this;
        scanner_ = std::make_unique<TScaner>(Settings, results_, progress, lineFactory_);
        StartExchange();
    } catch (const std::exception& error) {
        scanner_.reset();
        throw std::runtime_error(kTerminalErrorPrefix + std::string(error.what()));
    }
}

void TConnectForm::FormClose() {
    if (!scanner_) return;
    // The scanner goes even when the ESC cannot be queued; the failure is
    // still reported.
    const std::unique_ptr<TScaner> scanner = std::move(scanner_);
    scanner->StopExchange();
}

void TConnectForm::BitBtn3Click() {
    if (!scanner_) throw std::runtime_error(kNoConnectionMessage);
    SetWindowTextW(memo_, L"");
    StartExchange();
}

void TConnectForm::StartExchange() {
    // Each StartExchange opens the scanner's next exchange, numbered from 1;
    // from now on only its lines are shown.
    ++currentExchange_;
    scanner_->StartExchange();
}

// On the port's event thread.
void TConnectForm::ProgressLine(uint32_t exchange, std::string_view label,
                                std::string_view payload) {
    try {
        std::wstring text = ui::Utf8ToWide(label) + ui::AnsiToWide(payload) + L"\r\n";
        std::lock_guard lock(pendingMutex_);
        if (!notifyWindow_) return;
        pending_.push_back({exchange, std::move(text)});
        if (!wakePosted_) wakePosted_ = PostMessageW(notifyWindow_, kProgressMessage, 0, 0) != 0;
    } catch (...) {
        // Out of memory: this progress line is not shown; the download goes on.
    }
}

void TConnectForm::ShowPendingLines() {
    std::vector<PendingLine> lines;
    {
        std::lock_guard lock(pendingMutex_);
        lines.swap(pending_);
        wakePosted_ = false;
    }
    std::wstring text;
    for (const PendingLine& line : lines)
        if (line.exchange >= currentExchange_) text += line.text;
    if (!text.empty()) AppendToMemo(text);
}

void TConnectForm::AppendToMemo(const std::wstring& text) {
    const int end = GetWindowTextLengthW(memo_);
    SendMessageW(memo_, EM_SETSEL, end, end);
    SendMessageW(memo_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
    // Keep the newest line in view.
    SendMessageW(memo_, EM_SCROLLCARET, 0, 0);
}

void TConnectForm::StopNotifications() {
    std::lock_guard lock(pendingMutex_);
    notifyWindow_ = nullptr;
    pending_.clear();
}

}  // namespace pdt
