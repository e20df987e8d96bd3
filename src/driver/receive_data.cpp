#include <exception>
#include <string>

#include "core/log/log.h"
#include "driver/connect_form.h"
#include "driver/pdt_driver.h"
#include "driver/result_builder.h"
#include "driver/ui/text_convert.h"
#include "driver/variant_result.h"

namespace pdt {
namespace {

// Runs the reception dialog; returns the records when it ended with OK.
std::vector<TRecord> ReadTerminal() {
    TResultList results;
    int modalResult = IDCANCEL;
    {
        TConnectForm form(results);
        modalResult = form.ShowModal();
    }  // the scanner and its threads are gone before the list is read
    if (modalResult != IDOK) return {};
    return results.Snapshot();
}

// The user finds out from the log why the host got Null.
void LogBadQuantity(const EBadQuantity& error) noexcept {
    try {
        const std::string quantity = ui::WideToUtf8(ui::AnsiToWide(error.Quantity()));
        WriteLog(2, "Запись " + std::to_string(error.Position()) +
                        ": количество не является целым числом: \"" + quantity + "\"");
    } catch (...) {
    }
}

// Any other failure: the host sees Null; the log says what went wrong.
void LogFailure(std::exception_ptr error) noexcept {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        try {
            WriteLog(2, std::string("ReceiveData: ") + e.what());
        } catch (...) {
        }
    } catch (...) {
    }
}

}  // namespace

void __stdcall ReceiveData(VARIANT* result, CPDTDriver* /*self*/) noexcept {
    try {
        const std::vector<TRecord> records = ReadTerminal();
        if (records.empty()) return;  // Cancel, or nothing read: the variant stays as passed
        UniqueVariant array = MakeResultVariant(records);
        AssignResult(result, array);
    } catch (const EBadQuantity& error) {
        LogBadQuantity(error);
        AssignNull(result);
    } catch (...) {
        LogFailure(std::current_exception());
        AssignNull(result);
    }
}

}  // namespace pdt
