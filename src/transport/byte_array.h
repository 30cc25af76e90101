// The growable byte buffer of the HTTP client: requests are built in one, answers collected in
// one. Growth is geometric so collecting an answer of many deliveries copies each byte a bounded
// number of times; a read position lets the body be handed on without moving it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

class ByteArray {
public:
    ByteArray() = default;
    ByteArray(ByteArray&& other) noexcept;
    ByteArray& operator=(ByteArray&& other) noexcept;
    ByteArray(const ByteArray&) = delete;
    ByteArray& operator=(const ByteArray&) = delete;

    // Appends n bytes. A null pointer or n = 0 writes an error line and gives -1; else 0.
    int32_t AppendData(const void* bytes, size_t n);
    // Room for n more bytes at the end; Commit(k) then adds the k bytes written there.
    char* Tail(size_t n);
    void Commit(size_t n) { size_ += n; }
    void Reserve(size_t n);

    const char* Data() const { return data_ ? data_.get() + pos_ : nullptr; }
    size_t Size() const { return size_ - pos_; }
    bool Empty() const { return Size() == 0; }
    void Clear();

    // Narrows the contents to length bytes starting offset bytes into them (no copy).
    void Keep(size_t offset, size_t length);
    // The contents followed by one NUL, as an array of their own; the buffer is left empty.
    std::unique_ptr<char[]> Release(size_t* length);

private:
    void Grow(size_t need);

    std::unique_ptr<char[]> data_;
    size_t size_ = 0; // bytes used, counted from the start of the block
    size_t capacity_ = 0;
    size_t pos_ = 0; // read position
};
