#include "transport/byte_array.h"

#include <cstring>
#include <utility>

#include "trace/trace.h"

ByteArray::ByteArray(ByteArray&& other) noexcept
    : data_(std::move(other.data_)), size_(other.size_), capacity_(other.capacity_), pos_(other.pos_) {
    other.size_ = other.capacity_ = other.pos_ = 0;
}

ByteArray& ByteArray::operator=(ByteArray&& other) noexcept {
    if (this != &other) {
        data_ = std::move(other.data_);
        size_ = other.size_;
        capacity_ = other.capacity_;
        pos_ = other.pos_;
        other.size_ = other.capacity_ = other.pos_ = 0;
    }
    return *this;
}

void ByteArray::Grow(size_t need) {
    if (need <= capacity_)
        return;
    size_t capacity = capacity_ < 256 ? 256 : capacity_;
    while (capacity < need)
        capacity = capacity > (SIZE_MAX / 2) ? need : capacity * 2;
    std::unique_ptr<char[]> block(new char[capacity]);
    if (size_ > pos_)
        std::memcpy(block.get(), data_.get() + pos_, size_ - pos_);
    size_ -= pos_;
    pos_ = 0;
    data_ = std::move(block);
    capacity_ = capacity;
}

void ByteArray::Reserve(size_t n) {
    Grow(size_ + n);
}

int32_t ByteArray::AppendData(const void* bytes, size_t n) {
    if (!bytes || n == 0) {
        KX_ERROR_LINE(u"ByteArray::AppendData");
        return -1;
    }
    std::memcpy(Tail(n), bytes, n);
    size_ += n;
    return 0;
}

char* ByteArray::Tail(size_t n) {
    Grow(size_ + n);
    return data_.get() + size_;
}

void ByteArray::Clear() {
    data_.reset();
    size_ = capacity_ = pos_ = 0;
}

void ByteArray::Keep(size_t offset, size_t length) {
    size_t have = Size();
    if (offset > have)
        offset = have;
    if (length > have - offset)
        length = have - offset;
    pos_ += offset;
    size_ = pos_ + length;
}

std::unique_ptr<char[]> ByteArray::Release(size_t* length) {
    size_t n = Size();
    if (pos_ > 0 && n > 0)
        std::memmove(data_.get(), data_.get() + pos_, n);
    size_ = n;
    pos_ = 0;
    Grow(n + 1);
    data_[n] = '\0';
    if (length)
        *length = n;
    std::unique_ptr<char[]> out = std::move(data_);
    size_ = capacity_ = 0;
    return out;
}
