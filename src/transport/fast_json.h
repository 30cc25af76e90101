// The read answers' fast parse: the deciphered JSON text read by rapidjson's SAX reader into a
// flat tape of values (strings decoded in place, in the text's own buffer), with views that ask
// what the record mappings ask of a JsonCpp value. No allocation per value: the tape and the
// buffer are kept from one answer to the next.
//
// It reads only what it is sure JsonCpp reads the same way, and says so: strict JSON (no
// comments, no trailing commas, no control characters in strings, no lone high surrogate),
// nested at most kMaxDepth deep, numbers that are plain integers or that JsonCpp itself decodes
// (their text is JsonCpp's). Anything else is refused, and the caller parses the text with
// JsonCpp as it always has. Members are looked up as JsonCpp keeps them: the last of equal keys.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace Json {
class CharReader;
}

namespace fastjson {

class Document;

// One value of a document, or nothing (a member that is absent): nothing reads as null.
class Value {
public:
    Value() = default;

    bool isNull() const;
    bool isObject() const;
    bool isArray() const;
    bool isString() const;
    // JsonCpp's isNumeric() || isBool(): a scalar that is no string but has a text.
    bool isNumberOrBool() const;
    bool isNumber() const;
    // A string's bytes (JsonCpp's getString).
    bool getString(const char** begin, const char** end) const;
    // Strings, numbers and booleans: their text as JsonCpp's asString() gives it.
    bool scalarText(const char** begin, const char** end) const;

    // The member of an object (the last of equal keys); nothing when absent or not an object.
    Value member(const char* key) const { return member(key, std::strlen(key)); }
    Value member(const char* key, size_t length) const;
    Value operator[](const char* key) const { return member(key); }

    // Elements of an array (members of an object count their values); 0 for scalars.
    uint32_t size() const;
    bool empty() const { return size() == 0; }
    // The element at index of an array; nothing past the end or when not an array.
    Value operator[](uint32_t index) const;
    Value operator[](int index) const { return index < 0 ? Value() : (*this)[static_cast<uint32_t>(index)]; }

    class const_iterator {
    public:
        const_iterator(const Document* d, uint32_t at) : doc_(d), at_(at) {}
        Value operator*() const { return Value(doc_, at_); }
        const_iterator& operator++();
        bool operator!=(const const_iterator& o) const { return at_ != o.at_; }

    private:
        const Document* doc_;
        uint32_t at_;
    };
    // Elements of an array; an empty range for anything else (the views never walk objects).
    const_iterator begin() const;
    const_iterator end() const;

private:
    friend class Document;
    Value(const Document* d, uint32_t at) : doc_(d), at_(at) {}
    const Document* doc_ = nullptr;
    uint32_t at_ = 0;
};

class Document {
public:
    enum class Kind : uint8_t { Null, Bool, Number, String, Array, Object };
    struct Node {
        Kind kind;
        uint32_t end;   // containers: one past the last node inside; scalars: the next node
        uint32_t count; // containers: elements, or members
        const char* text;
        uint32_t length;
    };

    static constexpr int kMaxDepth = 256;

    Document();
    ~Document();
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    // Parses text[0, length) in place (text[length] must be NUL; the bytes are rewritten, and the
    // values point into them). False: refused (see above); nothing is kept.
    bool Parse(char* text, size_t length);

    // The root value (nothing before a successful Parse).
    Value root() const { return nodes_.empty() ? Value() : Value(this, 0); }
    const Node& node(uint32_t at) const { return nodes_[at]; }

    // The tape building (the SAX handler); public for the handler only.
    struct Builder;

private:
    friend struct Builder;
    // Numbers other than plain integers: decoded by JsonCpp; false when it refuses them.
    bool NumberText(const char* token, size_t length, const char** text, uint32_t* textLength);

    std::vector<Node> nodes_;
    std::vector<uint32_t> open_;
    std::deque<std::string> numbers_; // the texts JsonCpp gave for non-plain numbers
    std::unique_ptr<Json::CharReader> numberReader_;
};

inline bool Value::isNull() const {
    return !doc_ || doc_->node(at_).kind == Document::Kind::Null;
}
inline bool Value::isObject() const {
    return doc_ && doc_->node(at_).kind == Document::Kind::Object;
}
inline bool Value::isArray() const {
    return doc_ && doc_->node(at_).kind == Document::Kind::Array;
}
inline bool Value::isString() const {
    return doc_ && doc_->node(at_).kind == Document::Kind::String;
}
inline bool Value::isNumberOrBool() const {
    return doc_ &&
           (doc_->node(at_).kind == Document::Kind::Number || doc_->node(at_).kind == Document::Kind::Bool);
}
inline bool Value::isNumber() const {
    return doc_ && doc_->node(at_).kind == Document::Kind::Number;
}
inline bool Value::getString(const char** begin, const char** end) const {
    if (!isString())
        return false;
    const Document::Node& n = doc_->node(at_);
    *begin = n.text;
    *end = n.text + n.length;
    return true;
}
inline bool Value::scalarText(const char** begin, const char** end) const {
    if (!doc_)
        return false;
    const Document::Node& n = doc_->node(at_);
    if (n.kind != Document::Kind::String && n.kind != Document::Kind::Number &&
        n.kind != Document::Kind::Bool)
        return false;
    *begin = n.text;
    *end = n.text + n.length;
    return true;
}
inline uint32_t Value::size() const {
    if (!doc_)
        return 0;
    const Document::Node& n = doc_->node(at_);
    return n.kind == Document::Kind::Array || n.kind == Document::Kind::Object ? n.count : 0;
}
inline Value::const_iterator& Value::const_iterator::operator++() {
    at_ = doc_->node(at_).end;
    return *this;
}
inline Value::const_iterator Value::begin() const {
    return isArray() ? const_iterator(doc_, at_ + 1) : const_iterator(nullptr, 0);
}
inline Value::const_iterator Value::end() const {
    return isArray() ? const_iterator(doc_, doc_->node(at_).end) : const_iterator(nullptr, 0);
}

} // namespace fastjson
