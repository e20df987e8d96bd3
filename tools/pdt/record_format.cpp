#include "record_format.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace pdt::cli {
namespace {

// Length of the valid UTF-8 sequence at `pos`, 0 when the byte there does not
// start one (overlong forms, surrogates and values above U+10FFFF are invalid).
size_t Utf8SequenceLength(std::string_view text, size_t pos) {
    auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
    uint8_t lead = byte(pos);
    if (lead < 0x80) return 1;
    size_t length;
    uint32_t min;
    uint32_t cp;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, min = 0x80, cp = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, min = 0x800, cp = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, min = 0x10000, cp = lead & 0x07;
    } else {
        return 0;
    }
    if (pos + length > text.size()) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (byte(pos + i) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return length;
}

void AppendUnicodeEscape(std::string& out, unsigned value) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "\\u%04x", value);
    out += buffer;
}

std::string Hex(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (char c : bytes) {
        auto b = static_cast<uint8_t>(c);
        out += digits[b >> 4];
        out += digits[b & 0x0F];
    }
    return out;
}

// One JSON member; a text that is not valid UTF-8 also gets "<name>_hex" with
// its exact bytes, since \u00XX alone cannot tell a byte from a character.
void AppendJsonMember(std::string& out, const char* name, std::string_view value) {
    out += '"';
    out += name;
    out += "\": ";
    out += JsonString(value);
    if (!IsValidUtf8(value)) {
        out += ", \"";
        out += name;
        out += "_hex\": \"" + Hex(value) + '"';
    }
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
    for (size_t pos = 0; pos < text.size();) {
        size_t length = Utf8SequenceLength(text, pos);
        if (length == 0) return false;
        pos += length;
    }
    return true;
}

size_t DisplayWidth(std::string_view text) {
    if (!IsValidUtf8(text)) return text.size();
    return static_cast<size_t>(std::count_if(
        text.begin(), text.end(), [](char c) { return (static_cast<uint8_t>(c) & 0xC0) != 0x80; }));
}

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (size_t pos = 0; pos < text.size();) {
        size_t length = Utf8SequenceLength(text, pos);
        auto b = static_cast<uint8_t>(text[pos]);
        if (length == 0) {
            AppendUnicodeEscape(out, b);
            pos += 1;
            continue;
        }
        if (length == 1) {
            switch (b) {
                case '"':
                    out += "\\\"";
                    break;
                case '\\':
                    out += "\\\\";
                    break;
                case '\n':
                    out += "\\n";
                    break;
                case '\r':
                    out += "\\r";
                    break;
                case '\t':
                    out += "\\t";
                    break;
                default:
                    if (b < 0x20 || b == 0x7F) {
                        AppendUnicodeEscape(out, b);
                    } else {
                        out += static_cast<char>(b);
                    }
            }
        } else {
            out.append(text.substr(pos, length));
        }
        pos += length;
    }
    out += '"';
    return out;
}

std::string CsvField(std::string_view text) {
    bool needsQuotes = text.find_first_of(",\"\r\n") != std::string_view::npos;
    if (!needsQuotes) return std::string(text);
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
    return out;
}

std::string FormatCsv(const std::vector<TRecord>& records) {
    std::string out = "barcode,quantity\r\n";
    for (const auto& r : records) {
        out += CsvField(r.barcode) + ',' + CsvField(r.quantity) + "\r\n";
    }
    return out;
}

std::string FormatJson(const std::vector<TRecord>& records) {
    if (records.empty()) return "[]\n";
    std::string out = "[\n";
    for (size_t i = 0; i < records.size(); ++i) {
        out += "  {";
        AppendJsonMember(out, "barcode", records[i].barcode);
        out += ", ";
        AppendJsonMember(out, "quantity", records[i].quantity);
        out += i + 1 < records.size() ? "},\n" : "}\n";
    }
    out += "]\n";
    return out;
}

std::string FormatTable(const std::vector<TRecord>& records) {
    const std::string number = "#", barcode = "Barcode", quantity = "Quantity";
    size_t numberWidth = std::max(number.size(), std::to_string(records.size()).size());
    size_t barcodeWidth = barcode.size();
    size_t quantityWidth = quantity.size();
    for (const auto& r : records) {
        barcodeWidth = std::max(barcodeWidth, DisplayWidth(r.barcode));
        quantityWidth = std::max(quantityWidth, DisplayWidth(r.quantity));
    }
    auto pad = [](std::string_view text, size_t width) {
        size_t used = DisplayWidth(text);
        return std::string(width > used ? width - used : 0, ' ');
    };
    auto row = [&](const std::string& n, std::string_view b, std::string_view q) {
        // Numbers line up on the right, texts on the left.
        return pad(n, numberWidth) + n + "  " + std::string(b) + pad(b, barcodeWidth) + "  " +
               pad(q, quantityWidth) + std::string(q) + "\n";
    };
    std::string out = row(number, barcode, quantity);
    out += std::string(numberWidth, '-') + "  " + std::string(barcodeWidth, '-') + "  " +
           std::string(quantityWidth, '-') + "\n";
    for (size_t i = 0; i < records.size(); ++i) {
        out += row(std::to_string(i + 1), records[i].barcode, records[i].quantity);
    }
    return out;
}

std::string FormatRecords(const std::vector<TRecord>& records, OutputFormat format) {
    switch (format) {
        case OutputFormat::kTable:
            return FormatTable(records);
        case OutputFormat::kCsv:
            return FormatCsv(records);
        case OutputFormat::kJson:
            return FormatJson(records);
    }
    return {};
}

}  // namespace pdt::cli
