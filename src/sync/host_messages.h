// Message 2525 to the host window and the callbacks, and the message sequences that readers and
// writers share. A sequence is the same for every family; the family (data type) is data.
//
// Every function here runs on the thread of the exported call that the host is waiting on; the
// host handles each message before the call returns, so a pointer passed as value only needs to
// stay valid for the duration of the call and stays the driver's.
#pragma once

#include <cstdint>

#include <kxphone/kxphone.h>

#include "sync/phone_state.h"

// Message 2525 with code and value to the phone's HostWindow. No window (no InitSync yet):
// nothing is sent.
void SendHostMessage(const PhoneState& phone, uint32_t code, intptr_t value);

// The same for a final outcome: wrapped in the "WindowsAPI::SendMessage" Enter/Leave lines
// written for caller.
void SendFinalHostMessage(const PhoneState& phone, const char16_t* caller, uint32_t code, intptr_t value);

// 0, 12 and 21 pass; every other result becomes 1100.
int32_t NormaliseResult(int32_t result);

// Records read from the handset (contacts family 2, calendar family 8), one at a time.
//   per record: [RecordCallback] family|1 with the record; [ProgressCallback] 0x10002; 0x10003
//   at the end: family|3 with 0, or family|2 with the normalised result
// recordCallback / progressCallback: whether this reader repeats the message through the host's
// callback (each is skipped anyway when the host gave none). silent: a backup read sends nothing.
class ReadReporter {
public:
    ReadReporter(const PhoneState& phone, uint32_t family, const char16_t* caller, bool recordCallback,
                 bool progressCallback, bool silent = false);

    // The record-read event; record stays the caller's and must outlive the call only.
    void Record(const void* record);
    // The same event without the callback (a calendar deletion reaches the host by message only).
    void RecordMessage(const void* record);
    // 0x10002 with done * 100 / total (integer division, at most 100), then 0x10003. total <= 0
    // counts as done.
    void Progress(int done, int total);
    // Sends the final outcome and returns the normalised result.
    int32_t Finish(int32_t result);

private:
    const PhoneState& phone_;
    uint32_t family_;
    const char16_t* caller_;
    bool recordCallback_;
    bool progressCallback_;
    bool silent_;
};

// Records written to the handset (contacts family 2, calendar family 8).
//   per request: 0x10004 with 0, 0x10002 with the percentage
//   per stored record: family|4 with the host's record
//   after each operation's write-back: 0x10002 with 99
//   at the end: family|6 with 0, or family|5 with the normalised result, between the
//   "Begin SendMessage To Caller" and "End SendMessage To Caller" debug prints
// silent (a restore): nothing is sent at all.
class WriteReporter {
public:
    WriteReporter(const PhoneState& phone, uint32_t family, const char16_t* caller, bool silent = false);

    void BatchBegin(int percent);
    void RecordWritten(const void* record);
    void WriteBackDone();
    int32_t Finish(int32_t result);

    // The percentage a request reports: min(99, taken * 100 / total); 0 for an empty list.
    static int BatchPercent(int64_t taken, int64_t total);

private:
    const PhoneState& phone_;
    uint32_t family_;
    const char16_t* caller_;
    bool silent_;
};

// The codes of one item operation of the sample store. Items of types 4, 5, 11 and 13 report
// under family 4 with the item's index; e-mail (family 14) with the item's pointer, before the
// percentage instead of after it.
struct ItemSequence {
    uint32_t itemCode;
    uint32_t finishedCode;
    uint32_t failedCode;
    bool itemBeforeProgress;
    bool refusedPasses; // a failure value of 12 reaches the host (e-mail write); else only 21 does
};

extern const ItemSequence kSampleItemRead;   // 0x40002, 0x40001, 0x40003
extern const ItemSequence kSampleItemWrite;  // 0x40005, 0x40004, 0x40006
extern const ItemSequence kSampleItemDelete; // 0x40008, 0x40007, 0x40009
extern const ItemSequence kMailRead;         // 0xE0001, 0xE0003, 0xE0002
extern const ItemSequence kMailWrite;        // 0xE0004, 0xE0006, 0xE0005

// Sample store listing outcome (Inquire of types 4, 5, 11, 13).
constexpr uint32_t KX_SAMPLE_LISTING_DONE = 0x4000A;
constexpr uint32_t KX_SAMPLE_LISTING_EMPTY = 0x4000B;

class ItemReporter {
public:
    ItemReporter(const PhoneState& phone, const ItemSequence& sequence, const char16_t* caller);

    //   0x10004 with 0, 0x10002 with percent, the item code with value, 0x10003
    //   (e-mail: 0x10004, the item code, 0x10002, 0x10003)
    void Item(int percent, intptr_t value);
    // Finished code with 0 for result 0; otherwise the failed code with 21 (stopped), 12 (when
    // the sequence lets it pass) or 0. Returns result unchanged.
    int32_t Finish(int32_t result);

    // Percent of done / total bytes, computed in floating point, truncated and kept within 0..100.
    // A total of 0 (or less) is complete at once: 100, not the NaN of 0 / 0.
    static int BytePercent(int64_t done, int64_t total);

private:
    const PhoneState& phone_;
    const ItemSequence& sequence_;
    const char16_t* caller_;
};
