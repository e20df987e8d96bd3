// The result of ReceiveData as text lines: "barcode;quantity" per record,
// "Null", or "unchanged" when the variant still holds what the host passed.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <string>
#include <vector>

namespace pdthost {

// `untouched` is the value the host passed in. Any shape other than the
// contract's array of [VT_BSTR, VT_I4] pairs gives one line starting with
// "unexpected". Barcodes are written as UTF-8.
std::vector<std::string> ResultLines(const VARIANT& result, const VARIANT& untouched);

}  // namespace pdthost
