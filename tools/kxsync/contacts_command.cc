// "kxsync contacts read": a host session around Read(2, 0). Records arrive as message 2525 on
// our host window while Read runs on the main thread; a second thread turns Ctrl-C into Stop.
#include "contacts_command.h"

#include <kxphone/contact_record.h>
#include <kxphone/kxphone.h>

#include <dlfcn.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <thread>

#include <json/json.h>

namespace kxsync {

namespace {

// ---------------------------------------------------------------- text

std::string Utf8(const std::u16string& s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF)
            c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
        else if (c >= 0xD800 && c <= 0xDFFF)
            c = 0xFFFD;
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::u16string Wide(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

// Readable names of the field types.
const std::map<int32_t, const char*>& FieldNames() {
    static const std::map<int32_t, const char*> names = {
        {1, "givenName"},
        {2, "familyName"},
        {4037, "phoneticGivenName"},
        {4038, "phoneticFamilyName"},
        {4005, "nickname"},
        {4004, "company"},
        {4015, "jobTitle"},
        {104, "mobile"},
        {102, "homePhone"},
        {103, "homePhone2"},
        {100, "workPhone"},
        {101, "workPhone2"},
        {112, "workFax"},
        {111, "homeFax"},
        {106, "pager"},
        {108, "otherPhone"},
        {114, "carPhone"},
        {116, "companyMainPhone"},
        {119, "radioPhone"},
        {117, "assistantPhone"},
        {1500, "webSite"},
        {2002, "homeStreet"},
        {2003, "homeNeighbourhood"},
        {2019, "homePoBox"},
        {2004, "homeCity"},
        {2005, "homeRegion"},
        {2006, "homePostalCode"},
        {2008, "homeCountry"},
        {2010, "workStreet"},
        {2011, "workNeighbourhood"},
        {2021, "workPoBox"},
        {2012, "workCity"},
        {2013, "workRegion"},
        {2014, "workPostalCode"},
        {2016, "workCountry"},
        {2032, "otherStreet"},
        {2033, "otherNeighbourhood"},
        {2030, "otherPoBox"},
        {2034, "otherCity"},
        {2035, "otherRegion"},
        {2036, "otherPostalCode"},
        {2038, "otherCountry"},
        {4022, "im"},
        {4023, "imAim"},
        {4024, "imMsn"},
        {4025, "imYahoo"},
        {4026, "imSkype"},
        {4027, "imQq"},
        {4028, "imGoogleTalk"},
        {4029, "imIcq"},
        {4030, "imJabber"},
        {4003, "birthday"},
        {4019, "anniversary"},
        {3002, "note"},
        {3018, "groups"},
        {5, "picture"},
    };
    return names;
}

std::string FieldName(int32_t type) {
    if (type >= 1000 && type < 1500)
        return type == 1000 ? "email" : "email" + std::to_string(type - 999);
    auto it = FieldNames().find(type);
    return it != FieldNames().end() ? it->second : "field" + std::to_string(type);
}

std::string DateText(const platform::OleDate& d) {
    platform::CivilTime c;
    if (!d.ToCivil(&c))
        return "";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", c.year, c.month, c.day, c.hour, c.minute,
                  c.second);
    return buf;
}

// The picture rides on the first field of type 1, else 2, else 3, else 5 (the record's inline
// accessors only: this host does not link the driver's code).
std::u16string PicturePath(const ContactRecord& r) {
    for (int32_t type : {1, 2, 3, 5})
        for (int32_t i = 0; i < r.GetFieldCount(); ++i)
            if (const ContactField* f = r.GetField(i))
                if (f->nType == type)
                    return f->strFilePath;
    return std::u16string();
}

// One JSON line: id, modification time, fields by readable name (repeated names become arrays),
// and the picture file.
std::string JsonLine(const ContactRecord& r) {
    Json::Value v(Json::objectValue);
    v["id"] = Utf8(r.strPIMID);
    v["modified"] = DateText(r.strLastModify);
    Json::Value& fields = v["fields"] = Json::Value(Json::objectValue);
    for (int32_t i = 0; i < r.GetFieldCount(); ++i) {
        const ContactField* f = r.GetField(i);
        if (!f || f->strData.empty())
            continue;
        std::string name = FieldName(f->nType);
        Json::Value value(Utf8(f->strData));
        if (!fields.isMember(name)) {
            fields[name] = value;
        } else {
            Json::Value& slot = fields[name];
            if (!slot.isArray()) {
                Json::Value first = slot;
                slot = Json::Value(Json::arrayValue);
                slot.append(first);
            }
            slot.append(value);
        }
    }
    std::u16string picture = PicturePath(r);
    if (!picture.empty())
        v["picture"] = Utf8(picture);
    Json::StreamWriterBuilder w;
    w["indentation"] = "";
    w["emitUTF8"] = true;
    return Json::writeString(w, v);
}

// "id  Given Family  mobile=… email=… (+n more)".
std::string ReadableLine(const ContactRecord& r) {
    std::string name, details;
    int shown = 0, more = 0;
    for (int32_t i = 0; i < r.GetFieldCount(); ++i) {
        const ContactField* f = r.GetField(i);
        if (!f || f->strData.empty())
            continue;
        if (f->nType == 1 || f->nType == 2) {
            name += (name.empty() ? "" : " ") + Utf8(f->strData);
        } else if (shown < 3 && f->nType != 3002) {
            std::string text = Utf8(f->strData);
            if (text.size() > 40)
                text = text.substr(0, 37) + "...";
            details += "  " + FieldName(f->nType) + "=" + text;
            ++shown;
        } else {
            ++more;
        }
    }
    std::string line = Utf8(r.strPIMID) + "  " + (name.empty() ? "(no name)" : name) + details;
    if (more)
        line += "  (+" + std::to_string(more) + " more)";
    return line;
}

// ---------------------------------------------------------------- the driver

struct Driver {
    void* module = nullptr;
    decltype(&InitDriver) initDriver = nullptr;
    decltype(&SetParam) setParam = nullptr;
    decltype(&InitSync) initSync = nullptr;
    decltype(&Read) read = nullptr;
    decltype(&Stop) stop = nullptr;
    decltype(&UninitSync) uninitSync = nullptr;

    bool Load(const std::string& path) {
        module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            std::fprintf(stderr, "kxsync: cannot load %s: %s\n", path.c_str(), dlerror());
            return false;
        }
        initDriver = reinterpret_cast<decltype(initDriver)>(dlsym(module, "InitDriver"));
        setParam = reinterpret_cast<decltype(setParam)>(dlsym(module, "SetParam"));
        initSync = reinterpret_cast<decltype(initSync)>(dlsym(module, "InitSync"));
        read = reinterpret_cast<decltype(read)>(dlsym(module, "Read"));
        stop = reinterpret_cast<decltype(stop)>(dlsym(module, "Stop"));
        uninitSync = reinterpret_cast<decltype(uninitSync)>(dlsym(module, "UninitSync"));
        if (!initDriver || !setParam || !initSync || !read || !stop || !uninitSync) {
            std::fprintf(stderr, "kxsync: %s lacks the driver's exports\n", path.c_str());
            return false;
        }
        return true;
    }
    ~Driver() {
        if (module)
            dlclose(module);
    }
};

// ---------------------------------------------------------------- the host session

struct Session {
    const ContactReadOptions* options = nullptr;
    ContactReadOutcome* outcome = nullptr;
    int drawnPercent = -1;
    bool tty = isatty(STDERR_FILENO) != 0;

    void Progress(int percent) {
        outcome->lastPercent = percent;
        if (!options->progress || percent == drawnPercent)
            return;
        if (!tty) {
            // A log file gets a line per tenth instead of a bar.
            if (percent / 10 != drawnPercent / 10 || drawnPercent < 0)
                std::fprintf(stderr, "progress %d%%\n", percent);
            drawnPercent = percent;
            return;
        }
        drawnPercent = percent;
        const int width = 40;
        int filled = percent < 0 ? 0 : percent > 100 ? width : percent * width / 100;
        std::fprintf(stderr, "\r[%.*s%.*s] %3d%%", filled, "########################################",
                     width - filled, "                                        ", percent);
        std::fflush(stderr);
    }

    void Record(const ContactRecord* r) {
        ++outcome->delivered;
        if (!options->print && outcome->samples.size() >= options->keepSamples)
            return;
        std::string line = options->json ? JsonLine(*r) : ReadableLine(*r);
        if (outcome->samples.size() < options->keepSamples)
            outcome->samples.push_back(line);
        if (options->print) {
            bool bar = options->progress && tty && drawnPercent >= 0;
            if (bar)
                std::fputs("\r\033[K", stderr); // the bar is drawn again after the line
            std::fwrite(line.data(), 1, line.size(), stdout);
            std::fputc('\n', stdout);
            if (bar)
                drawnPercent = -1;
        }
    }
};

Session* g_session = nullptr; // the host window and callbacks have no user pointer

struct HostWindow {
    KXHostWindow base;
};

intptr_t HostProc(KXHostWindow*, uint32_t msg, uintptr_t code, intptr_t value) {
    if (msg != KX_HOST_MESSAGE || !g_session)
        return 0;
    if (code == KXMessageCode(KX_TYPE_CONTACT, KX_EVENT_RECORD_READ))
        g_session->Record(reinterpret_cast<const ContactRecord*>(value));
    else if (code == KX_PROGRESS_PERCENT)
        g_session->Progress(static_cast<int>(value));
    else if (code == KXMessageCode(KX_TYPE_CONTACT, KX_EVENT_READ_FINISHED) ||
             code == KXMessageCode(KX_TYPE_CONTACT, KX_EVENT_READ_FAILED)) {
        g_session->outcome->finalCode = static_cast<int32_t>(code);
        g_session->outcome->finalValue = value;
    }
    return 0;
}

void KX_STDCALL OnRecord(uint32_t, uintptr_t) {
    if (g_session)
        ++g_session->outcome->callbacks;
}
void KX_STDCALL OnProgress(int32_t) {}

// Ctrl-C: the handler only writes to a pipe; the watcher thread calls Stop.
int g_interruptPipe[2] = {-1, -1};

void OnInterrupt(int) {
    char c = 'i';
    ssize_t ignored = write(g_interruptPipe[1], &c, 1);
    (void)ignored;
}

} // namespace

std::string ProgramFolder() {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return ".";
    path[n] = '\0';
    std::string p(path);
    size_t slash = p.rfind('/');
    return slash == std::string::npos ? "." : p.substr(0, slash);
}

bool ParseServiceUrl(const std::string& url, ServiceAddress* out) {
    std::string rest = url;
    if (rest.compare(0, 7, "http://") == 0)
        rest = rest.substr(7);
    while (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    size_t colon = rest.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    char* end = nullptr;
    long port = std::strtol(rest.c_str() + colon + 1, &end, 10);
    if (*end != '\0' || port <= 0 || port > 65535)
        return false;
    out->ip = rest.substr(0, colon);
    out->port = static_cast<int>(port);
    return true;
}

bool ReadContacts(const ServiceAddress& address, const ContactReadOptions& options,
                  ContactReadOutcome* outcome) {
    Driver driver;
    if (!driver.Load(ProgramFolder() + "/vexoCorsaT3.so"))
        return false;

    Session session;
    session.options = &options;
    session.outcome = outcome;
    g_session = &session;
    HostWindow window{{&HostProc}};

    uint32_t id = 0;
    driver.initDriver(&id);
    std::u16string ip = Wide(address.ip), serial = Wide(address.serial);
    std::u16string base = Wide("http://" + address.ip + ":" + std::to_string(address.port));
    driver.setParam(ip.c_str(), address.port, &OnRecord, &OnProgress);
    InitSyncParams params{0, &window.base, address.port, base.c_str(), serial.c_str()};
    driver.initSync(0, &params);

    // Stop comes from a second thread, as a host's cancel button would send it.
    bool piped = pipe(g_interruptPipe) == 0;
    struct sigaction action, previous;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = &OnInterrupt;
    if (piped)
        sigaction(SIGINT, &action, &previous);
    std::thread watcher;
    if (piped) {
        watcher = std::thread([&driver] {
            for (;;) {
                char c = 0;
                if (read(g_interruptPipe[0], &c, 1) != 1 || c == 'q')
                    return;
                std::fputs("\nkxsync: stopping...\n", stderr);
                driver.stop(KX_TYPE_CONTACT, 0);
            }
        });
    }

    auto start = std::chrono::steady_clock::now();
    outcome->result = driver.read(KX_TYPE_CONTACT, 0);
    outcome->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    if (piped) {
        sigaction(SIGINT, &previous, nullptr);
        char q = 'q';
        ssize_t ignored = write(g_interruptPipe[1], &q, 1);
        (void)ignored;
        watcher.join();
        close(g_interruptPipe[0]);
        close(g_interruptPipe[1]);
    }
    if (options.progress && session.drawnPercent >= 0 && session.tty)
        std::fputc('\n', stderr);
    driver.uninitSync(0, 0);
    g_session = nullptr;
    return true;
}

int ContactsCommand(const ServiceAddress& address, const std::vector<std::string>& args) {
    if (args.empty() || args[0] != "read") {
        std::fputs(
            "usage: kxsync --url http://127.0.0.1:PORT [--serial S] contacts read [--json] [--no-progress]\n",
            stderr);
        return 2;
    }
    ContactReadOptions options;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--json") {
            options.json = true;
        } else if (args[i] == "--no-progress") {
            options.progress = false;
        } else {
            std::fprintf(stderr, "kxsync: unknown option %s\n", args[i].c_str());
            return 2;
        }
    }
    if (address.port <= 0) {
        std::fputs("kxsync: contacts read needs --url http://IP:PORT\n", stderr);
        return 2;
    }
    ContactReadOutcome outcome;
    if (!ReadContacts(address, options, &outcome))
        return 1;
    std::fprintf(stderr, "kxsync: %d contacts in %.2f s, Read returned %d\n", outcome.delivered,
                 outcome.seconds, outcome.result);
    return outcome.result == KX_OK ? 0 : 1;
}

} // namespace kxsync
