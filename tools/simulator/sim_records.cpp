#include "sim_records.h"

#include <array>
#include <stdexcept>

namespace pdt::sim {

namespace {

constexpr size_t kMaxFieldBytes = 255;  // the frame's length is one byte

Record SplitLine(const std::string& line, size_t lineNumber) {
    Record fields;
    size_t start = 0;
    while (true) {
        const size_t end = line.find(';', start);
        std::string field = line.substr(start, end == std::string::npos ? end : end - start);
        if (field.size() > kMaxFieldBytes) {
            throw std::invalid_argument("line " + std::to_string(lineNumber) + ", field " +
                                        std::to_string(fields.size() + 1) + ": " +
                                        std::to_string(field.size()) +
                                        " bytes; a field frame carries at most 255");
        }
        fields.push_back(std::move(field));
        if (end == std::string::npos) return fields;
        start = end + 1;
    }
}

}  // namespace

std::vector<Record> ReadCsv(std::istream& in) {
    std::vector<Record> records;
    std::string line;
    size_t lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        records.push_back(SplitLine(line, lineNumber));
    }
    return records;
}

char Ean13CheckDigit(const std::string& digits12) {
    int sum = 0;
    for (size_t i = 0; i < 12 && i < digits12.size(); ++i) {
        const int digit = digits12[i] - '0';
        sum += (i % 2 == 0) ? digit : 3 * digit;
    }
    return static_cast<char>('0' + (10 - sum % 10) % 10);
}

std::vector<Record> GenerateRecords(size_t count) {
    static constexpr std::array<const char*, 6> kNames = {"Milk 3.2% 1L",    "Rye bread 500g",
                                                          "Butter 82% 180g", "Buckwheat 900g",
                                                          "Green tea 100g",  "Apple juice 1L"};
    std::vector<Record> records;
    records.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        std::string serial = std::to_string(i + 1);
        std::string digits = "460" + std::string(9 - std::min<size_t>(9, serial.size()), '0') +
                             serial.substr(serial.size() > 9 ? serial.size() - 9 : 0);
        digits += Ean13CheckDigit(digits);
        const std::string quantity = std::to_string(1 + (i * 7) % 24);
        records.push_back({digits, kNames[i % kNames.size()], quantity});
    }
    return records;
}

}  // namespace pdt::sim
