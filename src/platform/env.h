// The driver's window on the operating system. Transport and domain code reach time, sockets,
// processes, modules and time zones only through an Env, so a test can replace any one of them
// with an EnvWrapper that overrides a single method.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// A civil date and time without zone.
struct CivilTime {
    int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0, millisecond = 0;
};

struct ProcessEntry {
    int pid = 0;
    std::string name; // base name of the executable, without a Windows ".exe"
};

class Env {
public:
    virtual ~Env() = default;

    // The process-wide POSIX implementation. Never destroyed.
    static Env* Default();

    // The Env every layer of the driver uses: Default() until the application object (or a test)
    // installs another. Any thread may read it.
    static Env* Current();
    // null goes back to Default().
    static void SetCurrent(Env* env);

    // --- time ---
    // Milliseconds since an arbitrary start; wraps like a 32-bit tick count.
    virtual uint32_t TickCount() = 0;
    virtual void SleepMillis(uint32_t ms) = 0;
    virtual CivilTime UtcNow() = 0;
    virtual uint32_t ThreadId() = 0;

    // --- errors ---
    virtual int LastError() = 0;

    // --- sockets (IPv4 stream, loopback or forwarded port) ---
    // Each returns -1 on failure with LastError() set, unless said otherwise.
    virtual int SocketOpen() = 0;
    virtual int SocketSetLinger(int fd, bool on, int seconds) = 0;
    virtual int SocketConnect(int fd, const char* dottedIpv4, int port) = 0;
    // Waits at most timeoutMs for room to send and sends what fits without blocking: bytes sent
    // (may be fewer than asked), 0 when no room came within timeoutMs, -1 on error.
    virtual long SocketSendWithin(int fd, const void* data, size_t length, int timeoutMs) = 0;
    // 1 readable, 0 nothing within timeoutMs, -1 error.
    virtual int SocketWaitReadable(int fd, int timeoutMs) = 0;
    // The pending socket error (SO_ERROR) in *error; -1 when the query fails.
    virtual int SocketPendingError(int fd, int* error) = 0;
    // Bytes readable without blocking (FIONREAD) in *count; -1 when the query fails.
    virtual int SocketPendingBytes(int fd, long* count) = 0;
    // Bytes received, 0 at end of stream, -1 on error.
    virtual long SocketRecv(int fd, void* buffer, size_t length) = 0;
    virtual int SocketClose(int fd) = 0;

    // --- processes ---
    // False when the list cannot be read.
    virtual bool ListProcesses(std::vector<ProcessEntry>* out) = 0;
    virtual bool TerminateProcess(int pid) = 0;

    // --- identifiers ---
    // 36 lower-case hexadecimal characters with hyphens.
    virtual std::string NewUuid() = 0;

    // --- modules ---
    // Full path of the file holding this code (the driver library when loaded as one).
    virtual std::string OwnModulePath() = 0;
    virtual void* OpenModule(const std::string& path) = 0;
    virtual void* ModuleSymbol(void* module, const char* name) = 0;
    virtual void CloseModule(void* module) = 0;

    // --- user settings ---
    // First day of the week of the user's locale: 0 Sunday ... 6 Saturday; Sunday when unknown.
    virtual int FirstWeekday() = 0;
    // The user's application-data folder.
    virtual std::string AppDataDir() = 0;

    // --- time zone of the process ---
    // False when the zone conversion is unavailable; callers then use ZoneBiasMinutes.
    virtual bool LocalToUtc(const CivilTime& local, CivilTime* utc) = 0;
    virtual bool UtcToLocal(const CivilTime& utc, CivilTime* local) = 0;
    // Standard-time bias in minutes west of UTC (UTC = local + bias).
    virtual int ZoneBiasMinutes() = 0;

    // --- files (backups, pictures) ---
    // Handles are non-negative; each call returns -1 on failure with LastError() set, unless said
    // otherwise. Paths are UTF-8, used as given.
    // Opens for writing: exclusive fails when the file exists, else an existing file is emptied.
    virtual int FileCreate(const std::string& path, bool exclusive) = 0;
    // Opens an existing regular file for reading (a pipe or device could block for ever).
    virtual int FileOpenRead(const std::string& path) = 0;
    // Bytes read, 0 at the end.
    virtual long FileRead(int file, void* buffer, size_t length) = 0;
    // Bytes written (fewer than asked only on failure of the rest).
    virtual long FileWrite(int file, const void* data, size_t length) = 0;
    // Flushes the file's content to the disk.
    virtual int FileSync(int file) = 0;
    virtual int FileClose(int file) = 0;
    // Size in bytes of the open file.
    virtual int64_t FileSize(int file) = 0;
    // Replaces to when it exists.
    virtual int FileRename(const std::string& from, const std::string& to) = 0;
    virtual int FileRemove(const std::string& path) = 0;
    // The error a full disk (or quota) gives, and whether an error means that.
    virtual int DiskFullError() = 0;
    virtual bool IsDiskFull(int error) = 0;
    // Whether an error of an exclusive FileCreate means the file exists.
    virtual bool IsFileExists(int error) = 0;
};

// Forwards every call to another Env; fakes derive from it and override what they change.
class EnvWrapper : public Env {
public:
    explicit EnvWrapper(Env* target) : target_(target) {}
    Env* target() const { return target_; }

    uint32_t TickCount() override { return target_->TickCount(); }
    void SleepMillis(uint32_t ms) override { target_->SleepMillis(ms); }
    CivilTime UtcNow() override { return target_->UtcNow(); }
    uint32_t ThreadId() override { return target_->ThreadId(); }
    int LastError() override { return target_->LastError(); }
    int SocketOpen() override { return target_->SocketOpen(); }
    int SocketSetLinger(int fd, bool on, int seconds) override {
        return target_->SocketSetLinger(fd, on, seconds);
    }
    int SocketConnect(int fd, const char* ip, int port) override {
        return target_->SocketConnect(fd, ip, port);
    }
    long SocketSendWithin(int fd, const void* d, size_t n, int ms) override {
        return target_->SocketSendWithin(fd, d, n, ms);
    }
    int SocketWaitReadable(int fd, int ms) override { return target_->SocketWaitReadable(fd, ms); }
    int SocketPendingError(int fd, int* e) override { return target_->SocketPendingError(fd, e); }
    int SocketPendingBytes(int fd, long* c) override { return target_->SocketPendingBytes(fd, c); }
    long SocketRecv(int fd, void* b, size_t n) override { return target_->SocketRecv(fd, b, n); }
    int SocketClose(int fd) override { return target_->SocketClose(fd); }
    bool ListProcesses(std::vector<ProcessEntry>* out) override { return target_->ListProcesses(out); }
    bool TerminateProcess(int pid) override { return target_->TerminateProcess(pid); }
    std::string NewUuid() override { return target_->NewUuid(); }
    std::string OwnModulePath() override { return target_->OwnModulePath(); }
    void* OpenModule(const std::string& path) override { return target_->OpenModule(path); }
    void* ModuleSymbol(void* m, const char* name) override { return target_->ModuleSymbol(m, name); }
    void CloseModule(void* m) override { target_->CloseModule(m); }
    int FirstWeekday() override { return target_->FirstWeekday(); }
    std::string AppDataDir() override { return target_->AppDataDir(); }
    bool LocalToUtc(const CivilTime& l, CivilTime* u) override { return target_->LocalToUtc(l, u); }
    bool UtcToLocal(const CivilTime& u, CivilTime* l) override { return target_->UtcToLocal(u, l); }
    int ZoneBiasMinutes() override { return target_->ZoneBiasMinutes(); }
    int FileCreate(const std::string& p, bool exclusive) override {
        return target_->FileCreate(p, exclusive);
    }
    int FileOpenRead(const std::string& p) override { return target_->FileOpenRead(p); }
    long FileRead(int f, void* b, size_t n) override { return target_->FileRead(f, b, n); }
    long FileWrite(int f, const void* d, size_t n) override { return target_->FileWrite(f, d, n); }
    int FileSync(int f) override { return target_->FileSync(f); }
    int FileClose(int f) override { return target_->FileClose(f); }
    int64_t FileSize(int f) override { return target_->FileSize(f); }
    int FileRename(const std::string& from, const std::string& to) override {
        return target_->FileRename(from, to);
    }
    int FileRemove(const std::string& p) override { return target_->FileRemove(p); }
    int DiskFullError() override { return target_->DiskFullError(); }
    bool IsDiskFull(int error) override { return target_->IsDiskFull(error); }
    bool IsFileExists(int error) override { return target_->IsFileExists(error); }

private:
    Env* target_;
};

} // namespace platform
