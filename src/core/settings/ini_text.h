// An INI text read and edited in place, with the semantics of the Windows
// profile service: section and key names compare without regard to ASCII case,
// names and values are trimmed of blanks, a value in matching quotes loses
// them, and only the first section of a name and the first key of a name in it
// count. An edit changes one value, inserts one line or appends one section;
// every other byte (other sections and keys, comments, order, line ends) stays
// as it was.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pdt {

class IniText {
  public:
    // `newLineEnd` is used for added lines when the text has no line end yet;
    // otherwise added lines end like the text's first line.
    explicit IniText(std::string text = {}, std::string newLineEnd = "\r\n");

    const std::string& Text() const { return text_; }

    // The value of `key` in `section`, or nothing when either is missing.
    std::optional<std::string> Get(std::string_view section, std::string_view key) const;

    // Stores `value` under `section` and `key`, adding the key or the section
    // when missing. Throws std::invalid_argument for a name or value the text
    // cannot hold (empty or blank-edged names, "]" in a section name, "=" in a
    // key, a line break anywhere).
    void Set(std::string_view section, std::string_view key, std::string_view value);

  private:
    std::string LineEnd() const;

    std::string text_;
    std::string newLineEnd_;
};

}  // namespace pdt
