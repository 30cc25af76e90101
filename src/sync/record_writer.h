// One Write of contacts or calendar events around the batched writer: the operations in the order
// the kind runs them, each only while nothing stopped, refused or failed the write; the handset's
// ids and times written back to the host's records; every record the handset did not confirm
// given its status bit back, so the next write tries it again; the result, the readiness check
// after a failure and the final message.
//
// Runs on the thread of the Write call (or of a restore, silent).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sync/batch_writer.h"
#include "sync/time_conversions.h"

// The host's working copies of one operation, and what becomes of them once it is over.
class WorkingSet : public WriteSet {
public:
    // Copies the set passed over on purpose (it could not see what it needed to send them
    // safely): the write is then incomplete, and those copies get their bits back.
    virtual bool Unsent() const { return false; }
    // The handset id of copy i (after it was confirmed).
    virtual std::u16string HandsetId(size_t i) const = 0;
    // The host's record of confirmed copy i receives the id, the fetched time and identifier (null:
    // none was fetched, the host's time stays), then the record-written message.
    virtual void WriteBack(size_t i, const ModifyTime* fetched, WriteReporter& reporter) = 0;
    // The host's record of copy i, which the handset did not confirm, gets its status bit and
    // previous modification time back.
    virtual void GiveBack(size_t i) = 0;
};

// The working copies of one operation beside the host records they came from, with what a host
// record gets back when the handset did not confirm its copy. What differs by kind is where a
// record keeps its handset id and modification time; Copy is made from the host record's address.
template <class Record, class Copy, std::u16string Record::*Id, platform::OleDate Record::*Modified>
class WorkingCopies : public WorkingSet {
public:
    static bool HasHandsetId(const Record& host) { return !(host.*Id).empty(); }
    static void StampUpdate(Record* host) { host->*Modified = CalConv::LocalNow(); }

    void Add(Record* host, int32_t bit) {
        copies_.push_back(std::make_unique<Copy>(host));
        hosts_.push_back(host);
        bits_.push_back(bit);
        previous_.push_back(host->*Modified);
    }
    size_t size() const override { return copies_.size(); }
    const Copy& copy(size_t i) const { return *copies_[i]; }

    // The handset's id for copy i; false when the answer names none a record could keep.
    bool Confirm(size_t i, const Json::Value& object) override {
        std::u16string id = AnswerId(object);
        if (id.empty())
            return false;
        copies_[i].get()->*Id = std::move(id);
        return true;
    }
    std::u16string HandsetId(size_t i) const override { return copies_[i].get()->*Id; }
    void GiveBack(size_t i) override {
        hosts_[i]->lFlag |= bits_[i];
        hosts_[i]->*Modified = previous_[i];
    }

protected:
    std::vector<std::unique_ptr<Copy>> copies_;
    std::vector<Record*> hosts_;

private:
    std::vector<int32_t> bits_;
    std::vector<platform::OleDate> previous_;
};

// Sorts the host's records (in order, while the stop flag is clear; null entries skipped) into the
// three operations by their status bits, clearing the bit acted on. Set::Add(host, bit) makes the
// working copy. A delete of a record the handset never had is complete without a request; an
// update of such a record creates it, so it reaches the handset once instead of failing every
// later sync. Set::HasHandsetId(host) and Set::StampUpdate(host) say and do what differs by kind.
template <class Record, class Set>
void SortForWrite(const std::vector<Record*>& records, const PhoneState& phone, Set* deletes, Set* updates,
                  Set* creates) {
    for (Record* host : records) {
        if (phone.StopFlag.load())
            break;
        if (!host)
            continue;
        if (host->lFlag & KX_RECORD_CREATE) {
            host->lFlag ^= KX_RECORD_CREATE;
            creates->Add(host, KX_RECORD_CREATE);
        } else if (host->lFlag & KX_RECORD_DELETE) {
            host->lFlag ^= KX_RECORD_DELETE;
            if (Set::HasHandsetId(*host))
                deletes->Add(host, KX_RECORD_DELETE);
        } else if (host->lFlag & KX_RECORD_UPDATE) {
            host->lFlag ^= KX_RECORD_UPDATE;
            if (Set::HasHandsetId(*host)) {
                updates->Add(host, KX_RECORD_UPDATE);
                Set::StampUpdate(host);
            } else {
                creates->Add(host, KX_RECORD_UPDATE);
            }
        }
    }
}

typedef WriteLimits (*WriteLimitsOf)(int32_t productId, int32_t platformClass, ServiceWrite op);

class RecordWriter {
public:
    // Clears the write's shared result and refusal: a restore calls without the Write dispatch.
    RecordWriter(PhoneState& phone, const WriteKind& kind, WriteLimitsOf limits, bool silent);

    // Stop, refusal and write result are all clear: a further operation may go out.
    bool MayGoOn() const;

    // Sends every copy of set when it has any and MayGoOn; then, unless silent, fetches the
    // handset's times (creates and updates, when nothing failed) and writes the confirmed copies
    // back. set must outlive Finish. Returns which copies the handset confirmed.
    std::vector<bool> Write(ServiceWrite op, WorkingSet& set);

    // A further run of rows the kind derives from confirmed records (exception instances) under
    // kind's texts: only whether it wholly happened counts.
    void WriteRows(const WriteKind& kind, ServiceWrite op, WriteSet& set);

    // A part of the write the kind carried out itself did not happen.
    void MarkIncomplete() { incomplete_ = true; }

    // Gives every unconfirmed copy back, maps the result (0, 12, 21 or 1100), checks the
    // handset's readiness after a failure and sends the final message unless silent.
    int32_t Finish();

    WriteReporter& reporter() { return reporter_; }

private:
    struct Operation {
        WorkingSet* set;
        std::vector<bool> confirmed;
    };

    PhoneState& phone_;
    const WriteKind& kind_;
    WriteLimitsOf limits_;
    const bool silent_;
    WriteReporter reporter_;
    std::vector<Operation> operations_;
    bool incomplete_ = false;
};
