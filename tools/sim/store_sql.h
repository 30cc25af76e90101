// What the parts of the store share inside: cached statements, savepoints, and the text forms of
// numbers. Not for use outside the store's own files.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "store.h"

namespace kxsim {

// A cached statement, reset and unbound again when it goes out of scope.
class Store::Stmt {
public:
    Stmt(Store& s, const char* sql) : st_(s.Prepare(sql)) {}
    ~Stmt() {
        if (st_ != nullptr) {
            sqlite3_reset(st_);
            sqlite3_clear_bindings(st_);
        }
    }
    explicit operator bool() const { return st_ != nullptr; }
    Stmt& Int(int i, int64_t v) {
        sqlite3_bind_int64(st_, i, v);
        return *this;
    }
    Stmt& Text(int i, const std::string& v) {
        sqlite3_bind_text(st_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    // Text bound without a copy: the bytes must stay until the statement has stepped.
    Stmt& View(int i, const char* data, size_t length) {
        sqlite3_bind_text(st_, i, data, static_cast<int>(length), SQLITE_STATIC);
        return *this;
    }
    // Text, or NULL for "".
    Stmt& TextOrNull(int i, const std::string& v) { return v.empty() ? Null(i) : Text(i, v); }
    Stmt& Blob(int i, const std::string& v) {
        sqlite3_bind_blob(st_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Stmt& Null(int i) {
        sqlite3_bind_null(st_, i);
        return *this;
    }
    bool Row() { return st_ != nullptr && sqlite3_step(st_) == SQLITE_ROW; }
    bool Done() { return st_ != nullptr && sqlite3_step(st_) == SQLITE_DONE; }
    int64_t ColInt(int c) { return sqlite3_column_int64(st_, c); }
    // 0 for NULL (row ids start at 1).
    int64_t ColId(int c) { return ColNull(c) ? 0 : ColInt(c); }
    bool ColNull(int c) { return sqlite3_column_type(st_, c) == SQLITE_NULL; }
    bool ColBlob(int c) { return sqlite3_column_type(st_, c) == SQLITE_BLOB; }
    std::string ColText(int c) {
        const void* p = sqlite3_column_blob(st_, c);
        int n = sqlite3_column_bytes(st_, c);
        return p == nullptr ? std::string() : std::string(static_cast<const char*>(p), n);
    }
    // The same bytes without a copy, valid until the next step or reset.
    std::string_view ColView(int c) {
        const void* p = sqlite3_column_blob(st_, c);
        int n = sqlite3_column_bytes(st_, c);
        return p == nullptr ? std::string_view() : std::string_view(static_cast<const char*>(p), n);
    }

private:
    sqlite3_stmt* st_;
};

// A savepoint: nests inside Batch, rolls back whatever it did unless committed.
class Transaction {
public:
    explicit Transaction(Store& s) : s_(s) { ok_ = s_.Exec("SAVEPOINT op"); }
    ~Transaction() {
        if (ok_ && !done_) {
            s_.Exec("ROLLBACK TO op");
            s_.Exec("RELEASE op");
        }
    }
    bool ok() const { return ok_; }
    bool Commit() {
        done_ = true;
        return s_.Exec("RELEASE op");
    }

private:
    Store& s_;
    bool ok_ = false;
    bool done_ = false;
};

// Ids and times travel as decimal text.
std::string NumberText(int64_t v);

// Writing answers as JSON text straight from the rows, with the bytes JsonCpp's tree and the
// service's writer would give: members in JsonCpp's key order (bytes compared, a prefix first).
class TextOut {
public:
    TextOut(std::string* out, std::string* badText) : out_(out), bad_(badText) {}
    std::string& out() { return *out_; }
    // A comma unless the container just opened.
    void Separate() {
        char last = out_->empty() ? '[' : out_->back();
        if (last != '[' && last != '{')
            out_->push_back(',');
    }
    // "key": then the string value; a value that is not UTF-8 is noted under its key (the first
    // one only, as ValidText finds it).
    void Member(const char* key, std::string_view value);
    void Key(const char* key);
    void String(std::string_view value, const char* key);

private:
    std::string* out_;
    std::string* bad_;
};
// A decimal integer with optional blanks around it and an optional sign.
bool ParseInt(const std::string& text, int64_t* out);

} // namespace kxsim
