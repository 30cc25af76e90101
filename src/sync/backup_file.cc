#include "sync/backup_file.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/env.h"
#include "platform/format.h"
#include "platform/oledate.h"
#include "sync/picture_file.h"
#include "trace/trace.h"
#include "transport/text_encoding.h"

namespace {

const char16_t kSaveCaller[] = u"CKXFakePhone::SaveToFile";
const char16_t kLoadCaller[] = u"CKXFakePhone::LoadFromFile";
constexpr size_t kBufferBytes = 64 * 1024;
constexpr size_t kChunkBytes = 40960;

void PutLittle(char* out, int32_t value) {
    uint32_t v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

int32_t GetLittle(const unsigned char* in) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= static_cast<uint32_t>(in[i]) << (8 * i);
    return static_cast<int32_t>(v);
}

} // namespace

void RaiseBackupError(const char16_t* message, int error) {
    throw BackupFileError{message, error};
}

int32_t BackupFailed(const char16_t* caller, const BackupFileError& e) {
    KX_TRACE_ERROR(caller, e.message);
    KX_ERROR_LINE_WITH(caller, e.error);
    return platform::Env::Current()->IsDiskFull(e.error) ? 12 : 1;
}

std::string BackupFilePath(const std::u16string& folder, const char* name) {
    return WideToUtf8(folder) + "/" + name;
}

std::u16string BackupDateText(const platform::OleDate& date) {
    platform::CivilTime c;
    if (!date.valid() || !date.ToCivil(&c))
        return std::u16string();
    return platform::Format(u"%04d-%02d-%02d %02d:%02d:%02d", c.year, c.month, c.day, c.hour, c.minute,
                            c.second);
}

platform::OleDate ParseBackupDate(const std::u16string& text) {
    std::string narrow;
    for (char16_t c : text)
        narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    int y, mo, d, h, mi, s;
    if (std::sscanf(narrow.c_str(), "%04d-%02d-%02d %02d:%02d:%02d", &y, &mo, &d, &h, &mi, &s) != 6)
        return platform::OleDate();
    return platform::OleDate::FromCivil(y, mo, d, h, mi, s);
}

// --- writing ---

BackupFileWriter::BackupFileWriter(const std::string& path, const char16_t* createMessage) : path_(path) {
    platform::Env* env = platform::Env::Current();
    // A name of its own each time: a temporary file left by a crash is never in the way.
    std::string uuid = env->NewUuid();
    temp_ = path + ".tmp-" + uuid.substr(0, 8);
    fd_ = env->FileCreate(temp_, /*exclusive=*/true);
    if (fd_ < 0) {
        int error = env->LastError();
        KX_TRACE_ERROR(kSaveCaller, createMessage);
        RaiseBackupError(createMessage, error);
    }
    buffer_.reserve(kBufferBytes);
}

BackupFileWriter::~BackupFileWriter() {
    if (committed_)
        return;
    platform::Env* env = platform::Env::Current();
    if (fd_ >= 0)
        env->FileClose(fd_);
    env->FileRemove(temp_);
}

bool BackupFileWriter::Fail(const char16_t* message) {
    if (error_ == 0)
        error_ = platform::Env::Current()->LastError();
    KX_TRACE_ERROR(kSaveCaller, message);
    return false;
}

bool BackupFileWriter::Flush() {
    if (buffer_.empty())
        return true;
    long n = platform::Env::Current()->FileWrite(fd_, buffer_.data(), buffer_.size());
    if (n != static_cast<long>(buffer_.size())) {
        if (error_ == 0)
            error_ =
                n < 0 ? platform::Env::Current()->LastError() : platform::Env::Current()->DiskFullError();
        return false;
    }
    buffer_.clear();
    return true;
}

bool BackupFileWriter::Put(const void* data, size_t length) {
    const char* p = static_cast<const char*>(data);
    while (length > 0) {
        if (buffer_.size() == kBufferBytes && !Flush())
            return false;
        size_t take = std::min(length, kBufferBytes - buffer_.size());
        buffer_.insert(buffer_.end(), p, p + take);
        p += take;
        length -= take;
    }
    return true;
}

bool BackupFileWriter::WriteInt(int32_t value) {
    char bytes[4];
    PutLittle(bytes, value);
    return Put(bytes, 4) || Fail(u"Write Int Error");
}

bool BackupFileWriter::WriteLong(int32_t value) {
    char bytes[4];
    PutLittle(bytes, value);
    return Put(bytes, 4) || Fail(u"Write Long Error");
}

bool BackupFileWriter::WriteText(const std::u16string& text) {
    char bytes[4];
    PutLittle(bytes, static_cast<int32_t>(text.size()));
    if (!Put(bytes, 4))
        return Fail(u"Write String Len Error");
    std::string units;
    units.reserve(text.size() * 2);
    for (char16_t c : text) {
        units.push_back(static_cast<char>(c & 0xFF));
        units.push_back(static_cast<char>(c >> 8));
    }
    return Put(units.data(), units.size()) || Fail(u"Write String Error");
}

bool BackupFileWriter::WriteDate(const platform::OleDate& date) {
    return WriteText(BackupDateText(date));
}

bool BackupFileWriter::WriteEmbeddedFile(const std::u16string& path, const char16_t* lengthMessage) {
    if (path.empty())
        return WriteInt(0) || Fail(lengthMessage);
    platform::Env* env = platform::Env::Current();
    int in = env->FileOpenRead(WideToUtf8(path));
    if (in < 0)
        return Fail(u"Can't CreateFile For Read");
    int64_t size = env->FileSize(in);
    bool ok = false;
    if (size < 0) {
        Fail(u"Can't Read Content");
    } else if (size > INT32_MAX) {
        // The length field cannot say more; a cut picture would misalign everything after it.
        error_ = error_ ? error_ : EFBIG;
        Fail(u"File Too Large");
    } else if (!WriteInt(static_cast<int32_t>(size))) {
        Fail(lengthMessage);
    } else {
        // Exactly the length written: a file that shrinks fails, one that grows is cut there.
        std::vector<char> chunk(kChunkBytes);
        int64_t left = size;
        ok = true;
        while (ok && left > 0) {
            long n =
                env->FileRead(in, chunk.data(), static_cast<size_t>(std::min<int64_t>(left, kChunkBytes)));
            if (n <= 0) {
                if (n == 0)
                    errno = 0;
                ok = Fail(u"Can't Read Content");
            } else if (!Put(chunk.data(), static_cast<size_t>(n))) {
                ok = Fail(u"Can't Write Content");
            } else {
                left -= n;
            }
        }
    }
    env->FileClose(in);
    return ok;
}

void BackupFileWriter::Commit(const char16_t* message) {
    platform::Env* env = platform::Env::Current();
    bool ok = Flush();
    if (ok && env->FileSync(fd_) != 0)
        ok = false, error_ = error_ ? error_ : env->LastError();
    int fd = fd_;
    fd_ = -1;
    if (env->FileClose(fd) != 0 && ok)
        ok = false, error_ = error_ ? error_ : env->LastError();
    if (ok && env->FileRename(temp_, path_) != 0)
        ok = false, error_ = error_ ? error_ : env->LastError();
    if (!ok) {
        KX_TRACE_ERROR(kSaveCaller, message);
        RaiseBackupError(message, error_);
    }
    committed_ = true;
}

// --- reading ---

BackupFileReader::BackupFileReader(const std::string& path, const char16_t* openMessage) {
    platform::Env* env = platform::Env::Current();
    fd_ = env->FileOpenRead(path);
    int64_t size = fd_ >= 0 ? env->FileSize(fd_) : -1;
    if (size < 0) {
        int error = env->LastError();
        KX_TRACE_ERROR(kLoadCaller, openMessage);
        if (fd_ >= 0)
            env->FileClose(fd_);
        fd_ = -1;
        RaiseBackupError(openMessage, error);
    }
    size_ = static_cast<uint64_t>(size);
    buffer_.resize(static_cast<size_t>(std::min<uint64_t>(size_, kBufferBytes)));
}

BackupFileReader::~BackupFileReader() {
    if (fd_ >= 0)
        platform::Env::Current()->FileClose(fd_);
}

bool BackupFileReader::Fail(const char16_t* message) {
    KX_TRACE_ERROR(kLoadCaller, message);
    return false;
}

bool BackupFileReader::Take(void* out, size_t length) {
    if (length > remaining())
        return false;
    char* p = static_cast<char*>(out);
    while (length > 0) {
        if (begin_ == end_) {
            long n = platform::Env::Current()->FileRead(fd_, buffer_.data(), buffer_.size());
            if (n <= 0) {
                // The file is shorter than it was at opening.
                if (n < 0 && error_ == 0)
                    error_ = platform::Env::Current()->LastError();
                return false;
            }
            begin_ = 0;
            end_ = static_cast<size_t>(n);
        }
        size_t take = std::min(length, end_ - begin_);
        std::memcpy(p, buffer_.data() + begin_, take);
        begin_ += take;
        p += take;
        length -= take;
        consumed_ += take;
    }
    return true;
}

bool BackupFileReader::ReadInt(int32_t* value) {
    unsigned char bytes[4];
    if (!Take(bytes, 4))
        return Fail(u"Read Int Error");
    *value = GetLittle(bytes);
    return true;
}

bool BackupFileReader::ReadLong(int32_t* value) {
    unsigned char bytes[4];
    if (!Take(bytes, 4))
        return Fail(u"Read Long Error");
    *value = GetLittle(bytes);
    return true;
}

bool BackupFileReader::ReadCount(int32_t* value, size_t minBytes) {
    if (!ReadInt(value))
        return false;
    if (*value < 0 || static_cast<uint64_t>(*value) * minBytes > remaining())
        return Fail(u"Bad Count");
    return true;
}

bool BackupFileReader::ReadText(std::u16string* text) {
    int32_t n = 0;
    if (!ReadInt(&n))
        return Fail(u"Read String Len Error");
    text->clear();
    if (n == 0)
        return true;
    // Not "less than one means empty": a negative length is damage, and damage restores nothing.
    if (n < 0 || static_cast<uint64_t>(n) * 2 > remaining())
        return Fail(u"Read String Error");
    std::string units(static_cast<size_t>(n) * 2, '\0');
    if (!Take(&units[0], units.size()))
        return Fail(u"Read String Error");
    text->resize(static_cast<size_t>(n));
    for (size_t i = 0; i < text->size(); ++i)
        (*text)[i] = static_cast<char16_t>(static_cast<unsigned char>(units[2 * i]) |
                                           static_cast<unsigned char>(units[2 * i + 1]) << 8);
    return true;
}

bool BackupFileReader::ReadDate(platform::OleDate* date) {
    std::u16string text;
    if (!ReadText(&text))
        return Fail(u"Read COleDateTime Error");
    *date = ParseBackupDate(text);
    return true;
}

bool BackupFileReader::ReadEmbeddedFile(std::u16string* path, const char16_t* lengthMessage) {
    path->clear();
    int32_t length = 0;
    if (!ReadInt(&length))
        return Fail(lengthMessage);
    if (length == 0)
        return true;
    if (length < 0 || static_cast<uint64_t>(length) > remaining())
        return Fail(lengthMessage);
    platform::Env* env = platform::Env::Current();
    std::string file;
    int out = CreatePictureFile(kLoadCaller, &file);
    if (out < 0) {
        error_ = error_ ? error_ : env->LastError();
        return Fail(u"Can't CreateFile For Read");
    }
    std::vector<char> chunk(std::min<size_t>(static_cast<size_t>(length), kChunkBytes));
    size_t left = static_cast<size_t>(length);
    bool ok = true;
    while (ok && left > 0) {
        size_t n = std::min(left, chunk.size());
        if (!Take(chunk.data(), n) || env->FileWrite(out, chunk.data(), n) != static_cast<long>(n)) {
            error_ = error_ ? error_ : env->LastError();
            ok = false;
        }
        left -= ok ? n : 0;
    }
    if (env->FileClose(out) != 0 && ok) {
        error_ = error_ ? error_ : env->LastError();
        ok = false;
    }
    if (!ok) {
        env->FileRemove(file);
        return Fail(u"Can't Write Content");
    }
    *path = Utf8ToWide(file);
    return true;
}
