// The driver's own list of records: owned record pointers in the order they were added.
// Destroying or clearing the list destroys every record still in it. Contact and calendar
// records use the same list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

template <class T> class RecordList {
public:
    RecordList() = default;
    ~RecordList() { Clear(); }

    RecordList(const RecordList&) = delete;
    RecordList& operator=(const RecordList&) = delete;
    RecordList(RecordList&& other) noexcept : items_(std::move(other.items_)) { other.items_.clear(); }
    RecordList& operator=(RecordList&& other) noexcept {
        if (this != &other) {
            Clear();
            items_ = std::move(other.items_);
            other.items_.clear();
        }
        return *this;
    }

    // Takes ownership. A null record is not added.
    void Add(std::unique_ptr<T> record) {
        if (!record)
            return;
        // Room first, so that a failed allocation cannot leak the record; doubling keeps a
        // long collecting read linear.
        if (items_.size() == items_.capacity())
            items_.reserve(items_.empty() ? 8 : items_.size() * 2);
        items_.push_back(record.release());
    }
    // Takes ownership of a raw pointer (null ignored); the record must come from new.
    void Add(T* record) { Add(std::unique_ptr<T>(record)); }

    // Hands the record at index back to the caller and removes it from the list.
    std::unique_ptr<T> Detach(size_t index) {
        if (index >= items_.size())
            return nullptr;
        T* record = items_[index];
        items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
        return std::unique_ptr<T>(record);
    }

    void Clear() {
        for (T* record : items_)
            delete record;
        items_.clear();
    }

    void Reserve(size_t count) { items_.reserve(count); }
    size_t size() const { return items_.size(); }
    bool empty() const { return items_.empty(); }
    int32_t GetCount() const { return static_cast<int32_t>(items_.size()); }

    // Null outside the list. The list keeps ownership.
    T* GetAt(size_t index) const { return index < items_.size() ? items_[index] : nullptr; }
    T* operator[](size_t index) const { return GetAt(index); }

    T* const* begin() const { return items_.data(); }
    T* const* end() const { return items_.data() + items_.size(); }

private:
    std::vector<T*> items_;
};
