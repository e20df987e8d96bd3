// The received records as text: an aligned table for people, CSV (RFC 4180)
// and JSON for programs. Barcodes and quantities are the terminal's bytes:
// the table and CSV print them as they came; JSON escapes what is not valid
// UTF-8 so that the document stays valid.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/records/result_list.h"
#include "receive_options.h"

namespace pdt::cli {

std::string FormatTable(const std::vector<TRecord>& records);
std::string FormatCsv(const std::vector<TRecord>& records);
std::string FormatJson(const std::vector<TRecord>& records);
std::string FormatRecords(const std::vector<TRecord>& records, OutputFormat format);

// Helpers, public for their tests.
bool IsValidUtf8(std::string_view text);
// A JSON string literal, quotes included. A byte that is not part of a valid
// UTF-8 sequence becomes \u00XX (the byte's value as a code point).
std::string JsonString(std::string_view text);
std::string CsvField(std::string_view text);
// Columns a text takes on a terminal: code points when valid UTF-8, else bytes.
size_t DisplayWidth(std::string_view text);

}  // namespace pdt::cli
