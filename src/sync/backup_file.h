// The record backup files: one flat sequence of little-endian int32 values, texts (an int32 count
// of UTF-16 code units, then the units), date-time texts and embedded files (an int32 length, then
// the bytes), with no header. Contacts and calendar events write their fields with these.
//
// A file is written to a temporary file beside its final name and renamed over it only when
// complete, so a failed backup never harms the previous one. A file is read trusting nothing:
// every count and length is checked against what remains of the file before anything is made.
//
// Each primitive returns false after tracing its own message; the caller then fails with its
// item's message (BackupFileError). One thread works on one file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <kxphone/ole_date.h>

// The failure of a backup file: the message traced, and the system's error at the first failed
// primitive (0 when the file's content, not the system, was at fault).
struct BackupFileError {
    std::u16string message;
    int error = 0;
};
[[noreturn]] void RaiseBackupError(const char16_t* message, int error);

// Traces e for caller (its message, then an error line with its system error) and gives the
// result: 12 when the error says the disk is full, else 1.
int32_t BackupFailed(const char16_t* caller, const BackupFileError& e);

// folder used as given, then "/" and name.
std::string BackupFilePath(const std::u16string& folder, const char* name);

// "%04d-%02d-%02d %02d:%02d:%02d", empty for a date that is not valid.
std::u16string BackupDateText(const platform::OleDate& date);
// The same pattern back; a text that does not match is day zero (valid, 1899-12-30 00:00:00).
platform::OleDate ParseBackupDate(const std::u16string& text);

class BackupFileWriter {
public:
    // Creates the temporary file beside path; raises createMessage when it cannot.
    BackupFileWriter(const std::string& path, const char16_t* createMessage);
    // Without Commit the temporary file is removed.
    ~BackupFileWriter();
    BackupFileWriter(const BackupFileWriter&) = delete;
    BackupFileWriter& operator=(const BackupFileWriter&) = delete;

    bool WriteInt(int32_t value);  // "Write Int Error"
    bool WriteLong(int32_t value); // "Write Long Error"
    bool WriteText(const std::u16string& text);
    bool WriteDate(const platform::OleDate& date);
    // The file at path, whole, as its length and bytes; an empty path writes length 0. A file
    // that cannot be read, changes size, or holds 2^31 bytes or more fails. lengthMessage is
    // traced when the length cannot be written.
    bool WriteEmbeddedFile(const std::u16string& path, const char16_t* lengthMessage);

    // Flushes, syncs to the disk and renames over the final name; raises on failure.
    void Commit(const char16_t* message);

    // The system's error at the first failure.
    int error() const { return error_; }

private:
    bool Put(const void* data, size_t length);
    bool Flush();
    bool Fail(const char16_t* message);

    std::string path_, temp_;
    int fd_ = -1;
    std::vector<char> buffer_;
    int error_ = 0;
    bool committed_ = false;
};

class BackupFileReader {
public:
    // Opens path; raises openMessage when it cannot.
    BackupFileReader(const std::string& path, const char16_t* openMessage);
    ~BackupFileReader();
    BackupFileReader(const BackupFileReader&) = delete;
    BackupFileReader& operator=(const BackupFileReader&) = delete;

    bool ReadInt(int32_t* value);  // "Read Int Error"
    bool ReadLong(int32_t* value); // "Read Long Error"
    // A count of items that take at least minBytes each: fails when negative or when the rest
    // of the file cannot hold that many.
    bool ReadCount(int32_t* value, size_t minBytes);
    bool ReadText(std::u16string* text);
    bool ReadDate(platform::OleDate* date);
    // An embedded file, copied into a new picture file whose path lands in *path (empty for
    // length 0). On failure nothing is left behind. lengthMessage: when the length is bad.
    bool ReadEmbeddedFile(std::u16string* path, const char16_t* lengthMessage);

    int error() const { return error_; }
    uint64_t remaining() const { return size_ - consumed_; }

private:
    bool Take(void* out, size_t length);
    bool Fail(const char16_t* message);

    int fd_ = -1;
    uint64_t size_ = 0, consumed_ = 0;
    std::vector<char> buffer_;
    size_t begin_ = 0, end_ = 0;
    int error_ = 0;
};
