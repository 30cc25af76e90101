// What the last change-log read of one kind handed to the host, entry by entry, so that a later
// clear can tell whether the handset's log still holds only what the host has seen. Written by
// the change-log reader, read and updated by the clear; both run on host threads, one at a time
// in practice, so one lock guards it.
#pragma once

#include <map>
#include <mutex>
#include <string>

// One change-log entry as it was taken: its three flags ("_add", "_modify", "_delete" as
// "1"/"0") and the modification time the read answered for the record ("" when none).
struct TakenChange {
    std::string flags;
    std::string modified;
    bool operator==(const TakenChange& o) const { return flags == o.flags && modified == o.modified; }
};

class ChangeLogMemory {
public:
    // A new read begins: nothing taken yet, but there is a read to compare with.
    void Begin() {
        std::lock_guard<std::mutex> lock(mu_);
        taken_.clear();
        valid_ = true;
    }
    void Take(const std::string& id, TakenChange change) {
        std::lock_guard<std::mutex> lock(mu_);
        taken_[id] = std::move(change);
    }
    // False without a read since the phone object was made.
    bool Valid() const {
        std::lock_guard<std::mutex> lock(mu_);
        return valid_;
    }
    // The entry taken for id, or null.
    bool Find(const std::string& id, TakenChange* change) const {
        std::lock_guard<std::mutex> lock(mu_);
        auto it = taken_.find(id);
        if (it == taken_.end())
            return false;
        *change = it->second;
        return true;
    }
    // After a clear: what was cleared has been taken and is gone from the log.
    void Forget(const std::string& id) {
        std::lock_guard<std::mutex> lock(mu_);
        taken_.erase(id);
    }
    void ForgetAll() {
        std::lock_guard<std::mutex> lock(mu_);
        taken_.clear();
    }

private:
    mutable std::mutex mu_;
    bool valid_ = false;
    std::map<std::string, TakenChange> taken_;
};
