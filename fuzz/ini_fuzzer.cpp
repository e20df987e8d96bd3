// Feeds arbitrary text to the INI codec, edits one value and checks that the
// edit reads back and that no other section/key changed its value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "core/settings/ini_text.h"
#include "core/settings/settings_file.h"

namespace {

constexpr std::string_view kSections[] = {"PDT", "pdt", "Other", "A"};
constexpr std::string_view kKeys[] = {"iBaud", "IBAUD", "c_FormNum", "k", "a"};

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

void Check(bool condition) {
    if (!condition) std::abort();
}

bool IsSubsequence(std::string_view part, std::string_view whole) {
    size_t at = 0;
    for (const char c : whole) {
        if (at < part.size() && part[at] == c) ++at;
    }
    return at == part.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const std::string_view section = kSections[data[0] % std::size(kSections)];
    const std::string_view key = kKeys[data[1] % std::size(kKeys)];
    const std::string value = std::to_string((data[0] << 8 | data[1]) - 30000);
    const std::string text(reinterpret_cast<const char*>(data + 2), size - 2);

    (void)pdt::ParseIniInteger(text);

    pdt::IniText ini(text);
    std::optional<std::string> before[std::size(kSections)][std::size(kKeys)];
    for (size_t s = 0; s < std::size(kSections); ++s) {
        for (size_t k = 0; k < std::size(kKeys); ++k)
            before[s][k] = ini.Get(kSections[s], kKeys[k]);
    }

    ini.Set(section, key, value);
    const pdt::IniText reread(ini.Text());
    for (size_t s = 0; s < std::size(kSections); ++s) {
        for (size_t k = 0; k < std::size(kKeys); ++k) {
            const std::optional<std::string> now = reread.Get(kSections[s], kKeys[k]);
            if (SameName(kSections[s], section) && SameName(kKeys[k], key)) {
                Check(now == value);
            } else {
                Check(now == before[s][k]);
            }
        }
    }
    // Adding a key or a section only inserts: the old text survives in order.
    const size_t targetSection = size_t(data[0] % std::size(kSections));
    const size_t targetKey = size_t(data[1] % std::size(kKeys));
    if (!before[targetSection][targetKey]) Check(IsSubsequence(text, ini.Text()));
    return 0;
}
