#include "sync/record_writer.h"

#include "trace/trace.h"

RecordWriter::RecordWriter(PhoneState& phone, const WriteKind& kind, WriteLimitsOf limits, bool silent)
    : phone_(phone), kind_(kind), limits_(limits), silent_(silent),
      reporter_(phone, kind.family, kind.caller, silent) {
    phone_.WriteResult = 0;
    phone_.WriteRefused = false;
}

bool RecordWriter::MayGoOn() const {
    return !phone_.StopFlag.load() && !phone_.WriteRefused.load() && phone_.WriteResult.load() == 0;
}

std::vector<bool> RecordWriter::Write(ServiceWrite op, WorkingSet& set) {
    operations_.push_back({&set, std::vector<bool>(set.size(), false)});
    Operation& operation = operations_.back();
    if (set.size() == 0 || !MayGoOn())
        return operation.confirmed;

    BatchWriter writer(phone_, kind_, op, limits_(phone_.ProductId.load(), phone_.PlatformClass.load(), op),
                       reporter_);
    writer.Run(set);
    operation.confirmed = writer.confirmed();
    incomplete_ = incomplete_ || writer.incomplete() || set.Unsent();
    if (silent_)
        return operation.confirmed;

    // Confirmed records are written back whatever happened later; only the fetch of times needs a
    // write that is still going.
    ModifyTimes times;
    if (op != ServiceWrite::Delete && MayGoOn()) {
        std::vector<std::u16string> ids;
        for (size_t i = 0; i < set.size(); ++i)
            if (operation.confirmed[i])
                ids.push_back(set.HandsetId(i));
        if (!ids.empty())
            times = GetLastModifyTime(phone_, kind_.service, ids);
    }
    for (size_t i = 0; i < set.size(); ++i) {
        if (!operation.confirmed[i])
            continue;
        auto found = times.find(set.HandsetId(i));
        set.WriteBack(i, found == times.end() ? nullptr : &found->second, reporter_);
    }
    reporter_.WriteBackDone();
    return operation.confirmed;
}

void RecordWriter::WriteRows(const WriteKind& kind, ServiceWrite op, WriteSet& set) {
    if (set.size() == 0 || !MayGoOn())
        return;
    BatchWriter writer(phone_, kind, op, limits_(phone_.ProductId.load(), phone_.PlatformClass.load(), op),
                       reporter_);
    writer.Run(set);
    incomplete_ = incomplete_ || writer.incomplete();
}

int32_t RecordWriter::Finish() {
    for (Operation& operation : operations_)
        for (size_t i = 0; i < operation.confirmed.size(); ++i)
            if (!operation.confirmed[i])
                operation.set->GiveBack(i);

    int32_t result = phone_.WriteResult.load();
    if (result == KX_OK && incomplete_)
        result = KX_FAILED; // something the host asked for did not happen
    if (phone_.StopFlag.load())
        result = KX_STOPPED;
    if (phone_.WriteRefused.load())
        result = KX_WRITE_REFUSED;
    result = NormaliseResult(result);
    if (result != KX_OK && result != KX_WRITE_REFUSED && result != KX_STOPPED)
        phone_.CheckPhoneReady();
    return reporter_.Finish(result);
}
