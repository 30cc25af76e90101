#include "driver/tag_parser.h"

#include <climits>

#include "trace/trace.h"

namespace {

// "\\" -> "\", then "\=" -> "=", then "\;" -> ";", each over the whole text.
void ReplaceAll(std::u16string* text, const std::u16string& from, const std::u16string& to) {
    size_t at = 0;
    while ((at = text->find(from, at)) != std::u16string::npos) {
        text->replace(at, from.size(), to);
        at += to.size();
    }
}

std::u16string Unescape(std::u16string text) {
    ReplaceAll(&text, u"\\\\", u"\\");
    ReplaceAll(&text, u"\\=", u"=");
    ReplaceAll(&text, u"\\;", u";");
    return text;
}

// Position of the first c in text[from, to) not preceded by a backslash, or npos.
size_t FindUnescaped(const std::u16string& text, char16_t c, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) {
        if (text[i] == c && (i == 0 || text[i - 1] != u'\\'))
            return i;
    }
    return std::u16string::npos;
}

} // namespace

int CTagParser::ParseRoleString(const std::u16string& text) {
    int taken = 0;
    if (text.empty())
        return taken; // no items at all, not one empty item
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = FindUnescaped(text, u';', start, text.size());
        if (end == std::u16string::npos)
            end = text.size();
        // An empty item (";;", a trailing ";") has no "=" either: skipped with its error line.
        size_t eq = FindUnescaped(text, u'=', start, end);
        if (eq == std::u16string::npos) {
            KX_ERROR_LINE(u"CTagParser::ParseRoleString");
        } else {
            pairs_[Unescape(text.substr(start, eq - start))] = Unescape(text.substr(eq + 1, end - eq - 1));
            ++taken;
        }
        start = end + 1;
    }
    return taken;
}

int32_t CTagParser::TextToInt(const std::u16string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t' || text[i] == u'\r' || text[i] == u'\n'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+'))
        negative = text[i++] == u'-';
    int64_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i] - u'0');
        if (value > static_cast<int64_t>(INT32_MAX) + 1)
            value = static_cast<int64_t>(INT32_MAX) + 1;
    }
    if (negative)
        value = -value;
    if (value > INT32_MAX)
        value = INT32_MAX;
    return static_cast<int32_t>(value);
}

int32_t CTagParser::GetInt(const std::u16string& key) const {
    auto it = pairs_.find(key);
    return it == pairs_.end() ? -1 : TextToInt(it->second);
}

std::u16string CTagParser::GetText(const std::u16string& key) const {
    auto it = pairs_.find(key);
    return it == pairs_.end() ? std::u16string() : it->second;
}

std::u16string CTagParser::TagText(const std::u16string& text, const std::u16string& open,
                                   const std::u16string& close) {
    size_t begin = text.find(open);
    if (begin == std::u16string::npos)
        return {};
    begin += open.size();
    size_t end = text.find(close, begin);
    if (end == std::u16string::npos)
        return {};
    return text.substr(begin, end - begin);
}
