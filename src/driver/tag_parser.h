// Key/value texts of the host's device description: "key=value;key=value", where a backslash
// keeps the next ";" or "=" from separating.
#pragma once

#include <cstdint>
#include <map>
#include <string>

class CTagParser {
public:
    // Adds the pairs of text to the map (later keys win). An item without an unescaped "=" (an
    // empty one too) is skipped after an error line; an empty text has no items. Returns the
    // number of pairs taken.
    int ParseRoleString(const std::u16string& text);

    // The decimal value of key's text (as atoi reads it), -1 when the key is missing.
    int32_t GetInt(const std::u16string& key) const;
    // key's text, empty when the key is missing.
    std::u16string GetText(const std::u16string& key) const;
    bool Has(const std::u16string& key) const { return pairs_.count(key) != 0; }
    size_t size() const { return pairs_.size(); }

    // The text between the first open tag and the next close tag after it; empty when either
    // is missing.
    static std::u16string TagText(const std::u16string& text, const std::u16string& open,
                                  const std::u16string& close);
    // atoi of UTF-16 text: leading blanks, a sign, digits; 0 when no digit; clamped to int32.
    static int32_t TextToInt(const std::u16string& text);

private:
    std::map<std::u16string, std::u16string> pairs_;
};
