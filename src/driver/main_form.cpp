#include "driver/main_form.h"

#include <commctrl.h>

#include <algorithm>
#include <initializer_list>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "core/settings/driver_settings.h"
#include "core/settings/settings_file.h"
#include "driver/configure.h"
#include "driver/main_form_picture.h"
#include "driver/ui/text_convert.h"

namespace pdt {
namespace {

constexpr SIZE kClientSize{316, 323};
constexpr ui::PixelRect kPageControlBounds{0, 0, 316, 285};
constexpr ui::PixelRect kOkBounds{136, 291, 75, 25};
constexpr ui::PixelRect kCancelBounds{236, 291, 75, 25};
constexpr int kBoxHeight = 21;        // the edit part of a list box, a spin edit
constexpr int kDropDownHeight = 160;  // with the open list
constexpr int kLabelHeight = 13;
constexpr COLORREF kHeadingColour = RGB(0, 128, 0);
constexpr int kHeadingFontHeight = 13;

// The parity codes the port applies, in list order: none, odd, even, mark, space.
constexpr std::array<const char*, 5> kParityLabels = {"НЕТ", "НЕЧЕТ", "ЧЕТ", "МЕТКА", "ПРОП."};

constexpr char kAboutText1[] =
    "Z-2030 — автономный терминал сбора данных. Он работает сам по себе, без "
    "компьютера, а его программы пишутся на встроенном языке программирования.";
constexpr char kAboutText2[] =
    "Полного заряда аккумуляторов хватает на 24 часа работы. Графический "
    "дисплей — 98 × 64 точки. С компьютером терминал соединяется через "
    "коммуникационную подставку, которая заодно заряжает его аккумуляторы.";

// The dialog being shown by Configure, if any.
TMainFrm* gMainFrm = nullptr;

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    const int length = GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<size_t>(length));
    return text;
}

std::optional<int32_t> TextToInteger(const std::wstring& text) {
    return ParseIniInteger(ui::WideToUtf8(text));
}

// The up-down and tab controls live in comctl32, which the host may not have
// loaded. Loaded at run time so the DLL's import list stays as it is; it stays
// loaded for the life of the process, as controls of its classes may.
void EnsureCommonControls() {
    static const bool ready = [] {
        HMODULE comctl = LoadLibraryW(L"comctl32.dll");
        if (!comctl) return false;
        using InitFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
        const auto init = reinterpret_cast<InitFn>(
            reinterpret_cast<void (*)()>(GetProcAddress(comctl, "InitCommonControlsEx")));
        const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX),
                                           ICC_TAB_CLASSES | ICC_UPDOWN_CLASS};
        return init && init(&classes);
    }();
    if (!ready) throw std::runtime_error("Не удалось загрузить библиотеку элементов управления");
}

// A themed page control paints its pages in a colour of the theme, while the
// controls on them keep the dialog's; the classic look keeps them one colour.
void UseClassicLook(HWND control) {
    HMODULE uxtheme = LoadLibraryW(L"uxtheme.dll");
    if (!uxtheme) return;  // no themes at all
    using SetThemeFn = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);
    const auto setTheme = reinterpret_cast<SetThemeFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(uxtheme, "SetWindowTheme")));
    if (setTheme) setTheme(control, L"", L"");
    // uxtheme stays loaded: the control keeps using it while it lives.
}

int FindExact(HWND comboBox, const std::wstring& text) {
    const LRESULT index = SendMessageW(comboBox, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                       reinterpret_cast<LPARAM>(text.c_str()));
    return index == CB_ERR ? -1 : static_cast<int>(index);
}

void AddItem(HWND comboBox, const std::wstring& text) {
    SendMessageW(comboBox, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

int ItemCount(HWND comboBox) {
    return static_cast<int>(SendMessageW(comboBox, CB_GETCOUNT, 0, 0));
}

void Select(HWND comboBox, int index) {
    SendMessageW(comboBox, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

// Selects the entry reading `text`, or entry 0 when there is none.
void SelectOrFirst(HWND comboBox, const std::wstring& text) {
    const int index = FindExact(comboBox, text);
    Select(comboBox, index >= 0 ? index : 0);
}

// The port number in the port box: its text without the first three
// characters (normally "COM"), whatever they are.
int32_t PortNumberFromText(const std::wstring& text) {
    const std::wstring number = text.substr(std::min<size_t>(3, text.size()));
    if (const std::optional<int32_t> value = TextToInteger(number)) return *value;
    throw std::runtime_error("'" + ui::WideToUtf8(number) + "' не является целым числом");
}

ui::DialogLayout MainFrmLayout() {
    return {ui::Utf8ToWide("Настройка Zibex Z-2030"), kClientSize, std::nullopt, L"TMainFrm"};
}

}  // namespace

std::wstring ComDeviceName(int port) {
    return L"\\\\.\\COM" + std::to_wstring(port);
}

bool ComPortExists(int port) {
    if (port == 0) return false;
    HANDLE handle =
        CreateFileW(ComDeviceName(port).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
        return true;
    }
    // A port that another program holds is there all the same. Windows'
    // serial driver refuses the second open with access denied; Wine's file
    // layer with a sharing violation.
    const DWORD error = GetLastError();
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
}

TMainFrm::TMainFrm(PortProbe probe) : TDialogBase(MainFrmLayout()), probe_(std::move(probe)) {}

// --- Building the dialog ---

void TMainFrm::OnCreate() {
    EnsureCommonControls();
    // Group boxes paint only their frame and caption; the dialog's background
    // must show through them, so the dialog paints under its children.
    SetWindowLongPtrW(Handle(), GWL_STYLE,
                      GetWindowLongPtrW(Handle(), GWL_STYLE) & ~LONG_PTR{WS_CLIPCHILDREN});
    // The page control is created first but kept beneath the pages' controls,
    // so its body never paints over them; it is last in tab order.
    pageControl_ = AddControl(WC_TABCONTROLW, L"", WS_TABSTOP | WS_GROUP | WS_CLIPSIBLINGS,
                              kPageControlBounds, kPageControlId);
    UseClassicLook(pageControl_);
    for (const char* caption : {"СОМ-порт", "Протокол", "О терминале"}) {
        std::wstring text = ui::Utf8ToWide(caption);
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = text.data();
        const auto index = SendMessageW(pageControl_, TCM_GETITEMCOUNT, 0, 0);
        SendMessageW(pageControl_, TCM_INSERTITEMW, static_cast<WPARAM>(index),
                     reinterpret_cast<LPARAM>(&item));
    }
    RECT display{0, 0, kPageControlBounds.width, kPageControlBounds.height};
    SendMessageW(pageControl_, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
    const POINT origin{kPageControlBounds.left + display.left,
                       kPageControlBounds.top + display.top};

    CreateComPage(origin);
    CreateProtocolPage(origin);
    CreateAboutPage(origin);
    AddButton(IDOK, L"OK", kOkBounds, true);
    AddButton(IDCANCEL, ui::Utf8ToWide("Отмена"), kCancelBounds);
    SetWindowPos(pageControl_, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    FormCreate();
}

void TMainFrm::CreateComPage(POINT o) {
    AddLabel(kComPage, "СОМ-порт", {o.x + 8, o.y + 12, 130, kLabelHeight});
    portComboBox_ = AddComboBox(kPortComboBoxId, {o.x + 144, o.y + 8, 121, kDropDownHeight});
    AddLabel(kComPage, "Скорость", {o.x + 8, o.y + 44, 130, kLabelHeight});
    baudCB_ = AddComboBox(kBaudCBId, {o.x + 144, o.y + 40, 121, kDropDownHeight});
    // The speeds as the dialog is designed; every showing lists them anew.
    for (auto rate = BaudRates.rbegin(); rate != BaudRates.rend(); ++rate)
        AddItem(baudCB_, std::to_wstring(*rate));
    AddLabel(kComPage, "Пороверка четности", {o.x + 8, o.y + 76, 130, kLabelHeight});
    parityCB_ = AddComboBox(kParityCBId, {o.x + 144, o.y + 72, 121, kDropDownHeight});
    for (const char* label : kParityLabels) AddItem(parityCB_, ui::Utf8ToWide(label));
    AddRadioGroup("Количество бит", {o.x + 8, o.y + 96, 129, 33}, kDataBit7Id, {L"7", L"8"});
    AddRadioGroup("Стоп бит", {o.x + 144, o.y + 96, 129, 33}, kStopBit1Id, {L"1", L"2"});
}

void TMainFrm::CreateProtocolPage(POINT o) {
    // In tab order: the fields first, then the table, then the waiting time.
    const POINT fields{o.x + 8, o.y + 50};
    AddPageControl(kProtocolPage, L"BUTTON", ui::Utf8ToWide("Поля..."), BS_GROUPBOX | WS_GROUP,
                   {fields.x, fields.y, 265, 73}, nextLabelId_++);
    AddLabel(kProtocolPage, "\"Штрих-код\"", {fields.x + 8, fields.y + 20, 124, kLabelHeight});
    AddSpinEdit(kProtocolPage, edCodeNum_, kCodeNumId,
                {fields.x + 136, fields.y + 16, 49, kBoxHeight});
    AddLabel(kProtocolPage, "\"Количество\"", {fields.x + 8, fields.y + 44, 124, kLabelHeight});
    AddSpinEdit(kProtocolPage, edCountNum_, kCountNumId,
                {fields.x + 136, fields.y + 40, 49, kBoxHeight});

    const POINT table{o.x + 8, o.y + 1};
    AddPageControl(kProtocolPage, L"BUTTON", ui::Utf8ToWide("Таблица..."), BS_GROUPBOX | WS_GROUP,
                   {table.x, table.y, 265, 48}, nextLabelId_++);
    AddLabel(kProtocolPage, "Номер таблицы", {table.x + 8, table.y + 20, 128, kLabelHeight},
             SS_RIGHT);
    AddSpinEdit(kProtocolPage, edTableNum_, kTableNumId,
                {table.x + 144, table.y + 16, 57, kBoxHeight});

    AddLabel(kProtocolPage, "Время ожидания (сек.)", {o.x + 8, o.y + 132, 136, kLabelHeight});
    AddSpinEdit(kProtocolPage, edTimeOut_, kTimeOutId, {o.x + 144, o.y + 128, 81, kBoxHeight});
}

void TMainFrm::CreateAboutPage(POINT o) {
    AddPageControl(kAboutPage, L"STATIC", L"", SS_OWNERDRAW, {o.x + 8, o.y + 20, 128, 129},
                   kImageId);
    AddPageControl(kAboutPage, L"STATIC", ui::Utf8ToWide("Описание"), SS_OWNERDRAW,
                   {o.x + 144, o.y + 20, 156, 17}, kHeadingId);
    headingFont_.reset(CreateFontW(-kHeadingFontHeight, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE,
                                   DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                   DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"MS Sans Serif"));
    AddLabel(kAboutPage, kAboutText1, {o.x + 144, o.y + 42, 156, 104}, SS_LEFT);
    AddLabel(kAboutPage, kAboutText2, {o.x + 8, o.y + 158, 292, 80}, SS_LEFT);
}

HWND TMainFrm::AddPageControl(Page page, const wchar_t* windowClass, const std::wstring& text,
                              DWORD style, const ui::PixelRect& bounds, int id, DWORD exStyle) {
    HWND control = AddControl(windowClass, text, style, bounds, id, nullptr, exStyle);
    pages_[page].push_back(control);
    return control;
}

HWND TMainFrm::AddLabel(Page page, const char* text, const ui::PixelRect& bounds, DWORD style) {
    return AddPageControl(page, L"STATIC", ui::Utf8ToWide(text), style | SS_NOPREFIX, bounds,
                          nextLabelId_++);
}

HWND TMainFrm::AddComboBox(int id, const ui::PixelRect& bounds) {
    return AddPageControl(kComPage, L"COMBOBOX", L"",
                          CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP | WS_GROUP,
                          bounds, id);
}

// A captioned frame with two radio buttons side by side.
void TMainFrm::AddRadioGroup(const char* caption, const ui::PixelRect& bounds, int firstId,
                             const std::array<const wchar_t*, 2>& items) {
    AddPageControl(kComPage, L"BUTTON", ui::Utf8ToWide(caption), BS_GROUPBOX | WS_GROUP, bounds,
                   nextLabelId_++);
    const int columnWidth = (bounds.width - 16) / 2;
    for (int i = 0; i < 2; ++i) {
        const DWORD style = BS_AUTORADIOBUTTON | (i == 0 ? WS_GROUP | WS_TABSTOP : 0);
        AddPageControl(kComPage, L"BUTTON", items[static_cast<size_t>(i)], style,
                       {bounds.left + 8 + i * columnWidth, bounds.top + 13, columnWidth, 17},
                       firstId + i);
    }
}

void TMainFrm::AddSpinEdit(Page page, TSpinEdit& spin, int id, const ui::PixelRect& bounds) {
    HWND edit = AddPageControl(page, L"EDIT", L"", ES_AUTOHSCROLL | WS_TABSTOP | WS_GROUP, bounds,
                               id, WS_EX_CLIENTEDGE);
    // Aligned to the edit's right edge, the up-down takes its place inside
    // the given width.
    HWND upDown = AddPageControl(page, UPDOWN_CLASSW, L"",
                                 UDS_ALIGNRIGHT | UDS_SETBUDDYINT | UDS_NOTHOUSANDS | UDS_ARROWKEYS,
                                 {0, 0, 0, 0}, nextLabelId_++);
    spin.Attach(edit, upDown);
}

// --- Behaviour ---

void TMainFrm::FormCreate() {
    ShowPage(kComPage);
}

void TMainFrm::ShowPage(int page) {
    SendMessageW(pageControl_, TCM_SETCURSEL, static_cast<WPARAM>(page), 0);
    for (int p = 0; p < kPageCount; ++p)
        for (HWND control : pages_[static_cast<size_t>(p)])
            ShowWindow(control, p == page ? SW_SHOWNA : SW_HIDE);
}

void TMainFrm::FormShow() {
    if (!FillLists()) {
        // Closed while the ports were probed: the settings still end up equal
        // to the file (or to what OK just wrote into it).
        try {
            ReadSettingsFile();
        } catch (...) {
        }
        return;
    }
    ReadSettings();
    ShowValues();
}

bool TMainFrm::FillLists() {
    try {
        SendMessageW(portComboBox_, CB_RESETCONTENT, 0, 0);
        for (int port = kFirstProbedPort; port <= kLastProbedPort; ++port) {
            if (probe_(port)) AddItem(portComboBox_, L"COM" + std::to_wstring(port));
            // The probe may take a while per port; the dialog stays responsive.
            if (!ProcessWaitingMessages()) return false;
        }
        EnableWindow(portComboBox_, ItemCount(portComboBox_) > 0);
        SendMessageW(baudCB_, CB_RESETCONTENT, 0, 0);
        for (const int32_t rate : BaudRates) AddItem(baudCB_, std::to_wstring(rate));
    } catch (...) {
        // The dialog shows whatever the lists hold.
    }
    return !closed_;
}

bool TMainFrm::ProcessWaitingMessages() {
    MSG message;
    while (!closed_ && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // Not ours to take: the modal loop and the host see it again.
            PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        if (!IsDialogMessageW(Handle(), &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return !closed_;
}

void TMainFrm::ReadSettings() {
    try {
        ReadSettingsFile();
    } catch (...) {
        ShowSettingsFileError();
    }
}

void TMainFrm::ShowValues() {
    SelectOrFirst(portComboBox_, L"COM" + std::to_wstring(Settings.iComNum));
    SelectOrFirst(baudCB_, std::to_wstring(Settings.iBaud));
    const bool knownParity =
        Settings.iParity >= 0 && Settings.iParity < static_cast<int32_t>(kParityLabels.size());
    Select(parityCB_, knownParity ? Settings.iParity : -1);
    CheckRadioButton(Handle(), kDataBit7Id, kDataBit8Id,
                     Settings.iDataBit == 8 ? kDataBit8Id : kDataBit7Id);
    CheckRadioButton(Handle(), kStopBit1Id, kStopBit2Id,
                     Settings.iStopBit == 2 ? kStopBit2Id : kStopBit1Id);
    edCodeNum_.SetValue(Settings.c_CodeFldNum);
    edCountNum_.SetValue(Settings.c_CountFldNum);
    edTimeOut_.SetValue(Settings.c_TimeOut);
    edTableNum_.SetValue(Settings.c_FormNum);
}

void TMainFrm::ShowSettingsFileError() {
    MessageBoxW(Handle(), ui::Utf8ToWide(kSettingsFileErrorText).c_str(),
                ui::Utf8ToWide(kSettingsFileErrorCaption).c_str(), MB_OK | MB_ICONERROR);
}

namespace {

// The speed in the speed box: a listed speed, or one the user typed in; text
// that is no speed keeps `current`.
int32_t SpeedFromText(const std::wstring& text, int32_t current) {
    const std::optional<int32_t> speed = TextToInteger(text);
    return speed && *speed > 0 ? *speed : current;
}

// The value of the checked radio button among `ids`, or `current` when none is.
int32_t CheckedValue(HWND dialog, std::initializer_list<int> ids, int32_t current) {
    for (const int id : ids) {
        if (IsDlgButtonChecked(dialog, id) != BST_CHECKED) continue;
        if (const auto value = TextToInteger(WindowText(GetDlgItem(dialog, id)))) return *value;
    }
    return current;
}

}  // namespace

bool TMainFrm::FormCloseQuery(int result) {
    if (result != IDOK) return true;
    // Throws for a port text that is no number: the dialog stays open and
    // nothing has changed.
    const int32_t comNum = PortNumberFromText(WindowText(portComboBox_));
    Settings.iComNum = comNum;
    Settings.iBaud = SpeedFromText(WindowText(baudCB_), Settings.iBaud);
    // The entry whose text the box shows, also when it was typed in.
    Settings.iParity = FindExact(parityCB_, WindowText(parityCB_));
    Settings.iDataBit = CheckedValue(Handle(), {kDataBit7Id, kDataBit8Id}, Settings.iDataBit);
    Settings.iStopBit = CheckedValue(Handle(), {kStopBit1Id, kStopBit2Id}, Settings.iStopBit);
    Settings.c_CodeFldNum = edCodeNum_.Value();
    Settings.c_CountFldNum = edCountNum_.Value();
    Settings.c_TimeOut = edTimeOut_.Value();
    Settings.c_FormNum = edTableNum_.Value();
    try {
        WriteSettingsFile();
    } catch (...) {
        // The new values stay in the settings all the same; the dialog closes.
        ShowSettingsFileError();
    }
    return true;
}

void TMainFrm::OnClose(int /*result*/) {
    closed_ = true;
}

void TMainFrm::OnCommand(int id, int code, HWND /*control*/) {
    if (code != EN_KILLFOCUS) return;
    for (TSpinEdit* spin : {&edCodeNum_, &edCountNum_, &edTableNum_, &edTimeOut_})
        if (GetDlgCtrlID(spin->Edit()) == id) spin->OnExit();
}

std::optional<INT_PTR> TMainFrm::OnMessage(UINT message, WPARAM /*wParam*/, LPARAM lParam) {
    if (message == WM_NOTIFY) {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->idFrom != kPageControlId || header->code != TCN_SELCHANGE) return std::nullopt;
        ShowPage(static_cast<int>(SendMessageW(pageControl_, TCM_GETCURSEL, 0, 0)));
        return 0;
    }
    if (message == WM_DRAWITEM) {
        DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    }
    return std::nullopt;
}

// The picture and the heading of the page "О терминале".
void TMainFrm::DrawItem(const DRAWITEMSTRUCT& item) {
    FillRect(item.hDC, &item.rcItem, GetSysColorBrush(COLOR_BTNFACE));
    if (item.CtlID == kImageId) {
        DrawTerminalPicture(item.hDC, POINT{item.rcItem.left, item.rcItem.top});
    } else if (item.CtlID == kHeadingId) {
        std::wstring text = WindowText(item.hwndItem);
        RECT bounds = item.rcItem;
        const HGDIOBJ oldFont = SelectObject(item.hDC, headingFont_.get());
        SetTextColor(item.hDC, kHeadingColour);
        SetBkMode(item.hDC, TRANSPARENT);
        DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &bounds,
                  DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
        SelectObject(item.hDC, oldFont);
    }
}

// --- Configure ---

void RunSettingsDialog() {
    auto form = std::make_unique<TMainFrm>();
    gMainFrm = form.get();
    // The reference goes with the dialog, also when showing it fails.
    struct Forget {
        ~Forget() { gMainFrm = nullptr; }
    } forget;
    form->ShowModal();
}

}  // namespace pdt
