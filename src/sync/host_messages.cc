#include "sync/host_messages.h"

#include <algorithm>
#include <cmath>

#include "platform/host_window.h"
#include "trace/trace.h"

void SendHostMessage(const PhoneState& phone, uint32_t code, intptr_t value) {
    platform::SendWindowMessage(phone.HostWindow(), KX_HOST_MESSAGE, code, value);
}

void SendFinalHostMessage(const PhoneState& phone, const char16_t* caller, uint32_t code, intptr_t value) {
    KX_TRACE_ENTER(caller, u"WindowsAPI::SendMessage");
    SendHostMessage(phone, code, value);
    KX_TRACE_LEAVE(caller, u"WindowsAPI::SendMessage");
}

int32_t NormaliseResult(int32_t result) {
    return result == KX_OK || result == KX_WRITE_REFUSED || result == KX_STOPPED ? result : KX_OTHER_FAILURE;
}

// ---------------------------------------------------------------------------------------------

ReadReporter::ReadReporter(const PhoneState& phone, uint32_t family, const char16_t* caller,
                           bool recordCallback, bool progressCallback, bool silent)
    : phone_(phone), family_(family), caller_(caller), recordCallback_(recordCallback),
      progressCallback_(progressCallback), silent_(silent) {}

void ReadReporter::Record(const void* record) {
    if (silent_)
        return;
    uint32_t code = KXMessageCode(family_, KX_EVENT_RECORD_READ);
    if (recordCallback_) {
        if (KXRecordCallback callback = phone_.RecordCallback.load())
            callback(code, reinterpret_cast<uintptr_t>(record));
    }
    SendHostMessage(phone_, code, reinterpret_cast<intptr_t>(record));
}

void ReadReporter::RecordMessage(const void* record) {
    if (!silent_)
        SendHostMessage(phone_, KXMessageCode(family_, KX_EVENT_RECORD_READ),
                        reinterpret_cast<intptr_t>(record));
}

void ReadReporter::Progress(int done, int total) {
    if (silent_)
        return;
    // A handset answering more rows than were asked for must not push the bar past its end.
    int percent =
        total > 0 && done < total ? static_cast<int>(static_cast<int64_t>(done) * 100 / total) : 100;
    if (progressCallback_) {
        if (KXProgressCallback callback = phone_.ProgressCallback.load())
            callback(percent);
    }
    SendHostMessage(phone_, KX_PROGRESS_PERCENT, percent);
    SendHostMessage(phone_, KX_PROGRESS_ITEM_DONE, 0);
}

int32_t ReadReporter::Finish(int32_t result) {
    result = NormaliseResult(result);
    if (silent_)
        return result;
    if (result == KX_OK)
        SendFinalHostMessage(phone_, caller_, KXMessageCode(family_, KX_EVENT_READ_FINISHED), 0);
    else
        SendFinalHostMessage(phone_, caller_, KXMessageCode(family_, KX_EVENT_READ_FAILED), result);
    return result;
}

// ---------------------------------------------------------------------------------------------

WriteReporter::WriteReporter(const PhoneState& phone, uint32_t family, const char16_t* caller, bool silent)
    : phone_(phone), family_(family), caller_(caller), silent_(silent) {}

int WriteReporter::BatchPercent(int64_t taken, int64_t total) {
    if (total <= 0 || taken <= 0)
        return 0;
    int64_t percent = taken * 100 / total;
    return percent > 99 ? 99 : static_cast<int>(percent);
}

void WriteReporter::BatchBegin(int percent) {
    if (silent_)
        return;
    SendHostMessage(phone_, KX_PROGRESS_ITEM_BEGIN, 0);
    SendHostMessage(phone_, KX_PROGRESS_PERCENT, percent);
}

void WriteReporter::RecordWritten(const void* record) {
    if (!silent_)
        SendHostMessage(phone_, KXMessageCode(family_, KX_EVENT_RECORD_WRITTEN),
                        reinterpret_cast<intptr_t>(record));
}

void WriteReporter::WriteBackDone() {
    if (!silent_)
        SendHostMessage(phone_, KX_PROGRESS_PERCENT, 99);
}

int32_t WriteReporter::Finish(int32_t result) {
    result = NormaliseResult(result);
    if (silent_)
        return result;
    kxtrace::DebugPrint(u"Begin SendMessage To Caller\r\n");
    if (result == KX_OK)
        SendFinalHostMessage(phone_, caller_, KXMessageCode(family_, KX_EVENT_WRITE_FINISHED), 0);
    else
        SendFinalHostMessage(phone_, caller_, KXMessageCode(family_, KX_EVENT_WRITE_FAILED), result);
    kxtrace::DebugPrint(u"End SendMessage To Caller\r\n");
    return result;
}

// ---------------------------------------------------------------------------------------------

const ItemSequence kSampleItemRead = {0x40002, 0x40001, 0x40003, false, false};
const ItemSequence kSampleItemWrite = {0x40005, 0x40004, 0x40006, false, false};
const ItemSequence kSampleItemDelete = {0x40008, 0x40007, 0x40009, false, false};
const ItemSequence kMailRead = {0xE0001, 0xE0003, 0xE0002, true, false};
const ItemSequence kMailWrite = {0xE0004, 0xE0006, 0xE0005, true, true};

ItemReporter::ItemReporter(const PhoneState& phone, const ItemSequence& sequence, const char16_t* caller)
    : phone_(phone), sequence_(sequence), caller_(caller) {}

int ItemReporter::BytePercent(int64_t done, int64_t total) {
    if (total <= 0)
        return 100;
    double percent = std::trunc(static_cast<double>(done) * 100.0 / static_cast<double>(total));
    return static_cast<int>(std::clamp(percent, 0.0, 100.0));
}

void ItemReporter::Item(int percent, intptr_t value) {
    SendHostMessage(phone_, KX_PROGRESS_ITEM_BEGIN, 0);
    if (sequence_.itemBeforeProgress)
        SendHostMessage(phone_, sequence_.itemCode, value);
    SendHostMessage(phone_, KX_PROGRESS_PERCENT, percent);
    if (!sequence_.itemBeforeProgress)
        SendHostMessage(phone_, sequence_.itemCode, value);
    SendHostMessage(phone_, KX_PROGRESS_ITEM_DONE, 0);
}

int32_t ItemReporter::Finish(int32_t result) {
    if (result == KX_OK) {
        SendFinalHostMessage(phone_, caller_, sequence_.finishedCode, 0);
    } else {
        bool passes = result == KX_STOPPED || (result == KX_WRITE_REFUSED && sequence_.refusedPasses);
        SendFinalHostMessage(phone_, caller_, sequence_.failedCode, passes ? result : 0);
    }
    return result;
}
