#include "transport/fast_json.h"

#include <json/reader.h>
#include <json/value.h>

// rapidjson is header-only. Its SSE2 scan of strings and blanks where the target has SSE2 (every
// x86-64; the 32-bit build only when its flags say so), nothing newer: one build runs on every
// x86 a host may have.
#if defined(__SSE2__) && !defined(RAPIDJSON_SSE2)
#define RAPIDJSON_SSE2
#endif
#include <rapidjson/reader.h>

namespace fastjson {

namespace {

const char kTrue[] = "true";
const char kFalse[] = "false";
const char kZero[] = "0";

} // namespace

Value Value::member(const char* key, size_t length) const {
    if (!isObject())
        return Value();
    const Document::Node& object = doc_->node(at_);
    Value found;
    for (uint32_t k = at_ + 1; k < object.end;) {
        const Document::Node& name = doc_->node(k);
        const uint32_t value = k + 1;
        if (name.length == length && std::memcmp(name.text, key, length) == 0)
            found = Value(doc_, value); // the last of equal keys, as JsonCpp keeps it
        k = doc_->node(value).end;
    }
    return found;
}

Value Value::operator[](uint32_t index) const {
    if (!isArray() || index >= size())
        return Value();
    uint32_t at = at_ + 1;
    for (uint32_t i = 0; i < index; ++i)
        at = doc_->node(at).end;
    return Value(doc_, at);
}

struct Document::Builder {
    Document& doc;

    uint32_t Push(Kind kind, const char* text, uint32_t length) {
        const uint32_t at = static_cast<uint32_t>(doc.nodes_.size());
        doc.nodes_.push_back(Node{kind, at + 1, 0, text, length});
        return at;
    }
    bool Open(Kind kind) {
        if (doc.open_.size() >= static_cast<size_t>(kMaxDepth))
            return false;
        doc.open_.push_back(Push(kind, nullptr, 0));
        return true;
    }
    bool Close(rapidjson::SizeType count) {
        Node& n = doc.nodes_[doc.open_.back()];
        n.end = static_cast<uint32_t>(doc.nodes_.size());
        n.count = count;
        doc.open_.pop_back();
        return true;
    }

    bool Null() {
        Push(Kind::Null, nullptr, 0);
        return true;
    }
    bool Bool(bool b) {
        Push(Kind::Bool, b ? kTrue : kFalse, b ? 4 : 5);
        return true;
    }
    // Numbers all come as their text (kParseNumbersAsStringsFlag).
    bool Int(int) { return false; }
    bool Uint(unsigned) { return false; }
    bool Int64(int64_t) { return false; }
    bool Uint64(uint64_t) { return false; }
    bool Double(double) { return false; }
    bool RawNumber(const char* token, rapidjson::SizeType length, bool) {
        const char* text;
        uint32_t textLength;
        if (!doc.NumberText(token, length, &text, &textLength))
            return false;
        Push(Kind::Number, text, textLength);
        return true;
    }
    bool String(const char* s, rapidjson::SizeType length, bool) {
        Push(Kind::String, s, length);
        return true;
    }
    bool Key(const char* s, rapidjson::SizeType length, bool) {
        Push(Kind::String, s, length);
        return true;
    }
    bool StartObject() { return Open(Kind::Object); }
    bool EndObject(rapidjson::SizeType members) { return Close(members); }
    bool StartArray() { return Open(Kind::Array); }
    bool EndArray(rapidjson::SizeType elements) { return Close(elements); }
};

Document::Document() = default;
Document::~Document() = default;

bool Document::NumberText(const char* token, size_t length, const char** text, uint32_t* textLength) {
    // A plain integer of up to 18 digits: JsonCpp keeps it as an integer, and its text is the
    // token (rapidjson has refused leading zeros), "-0" being 0.
    const size_t sign = token[0] == '-' ? 1 : 0;
    bool plain = length > sign && length - sign <= 18;
    for (size_t i = sign; plain && i < length; ++i)
        plain = token[i] >= '0' && token[i] <= '9';
    if (plain) {
        if (length == 2 && sign && token[1] == '0') {
            *text = kZero;
            *textLength = 1;
        } else {
            *text = token;
            *textLength = static_cast<uint32_t>(length);
        }
        return true;
    }
    // Fractions, exponents, long integers: whatever JsonCpp makes of the token (it decodes a
    // number the same wherever it stands), or a refusal where JsonCpp refuses it.
    if (!numberReader_) {
        Json::CharReaderBuilder builder;
        numberReader_.reset(builder.newCharReader());
    }
    Json::Value number;
    std::string errors;
    if (!numberReader_->parse(token, token + length, &number, &errors) || !number.isNumeric())
        return false;
    numbers_.push_back(number.asString());
    *text = numbers_.back().data();
    *textLength = static_cast<uint32_t>(numbers_.back().size());
    return true;
}

bool Document::Parse(char* text, size_t length) {
    nodes_.clear();
    open_.clear();
    numbers_.clear();
    if (length == 0 || length >= UINT32_MAX)
        return false;
    nodes_.reserve(length / 16);
    Builder builder{*this};
    rapidjson::InsituStringStream stream(text);
    rapidjson::Reader reader;
    constexpr unsigned kFlags = rapidjson::kParseInsituFlag | rapidjson::kParseStopWhenDoneFlag |
                                rapidjson::kParseNumbersAsStringsFlag;
    if (reader.Parse<kFlags>(stream, builder).IsError() || !open_.empty() || nodes_.empty()) {
        nodes_.clear();
        return false;
    }
    return true;
}

} // namespace fastjson
