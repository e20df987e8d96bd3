// Where the simulated terminal's records come from: a ';'-separated text file
// or a generated sample set.
#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <vector>

namespace pdt::sim {

using Record = std::vector<std::string>;

// One record per line, fields separated by ';', bytes taken as they are (no
// quoting, no trimming). A trailing '\r' (CRLF files) is dropped and blank
// lines are skipped. Throws std::invalid_argument naming the line and field
// when a field is longer than one frame can carry (255 bytes).
std::vector<Record> ReadCsv(std::istream& in);

// `count` sample records of three fields: an EAN-13 barcode (460..., valid
// check digit), a product name and a quantity.
std::vector<Record> GenerateRecords(size_t count);

// The EAN-13 check digit of the first 12 digits of `digits12`.
char Ean13CheckDigit(const std::string& digits12);

}  // namespace pdt::sim
