#include "server.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <optional>
#include <thread>
#include <vector>

#include "admin.h"
#include "json_text.h"
#include "service.h"
#include "transport/payload_cipher.h"

namespace kxsim {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;

namespace {

const uint64_t kMaxBody = 64u << 20; // the largest request we take; photos make bodies of a few MB
const uint32_t kMaxHeader = 64u << 10;
const auto kIdleLimit = std::chrono::seconds(120);
// The driver's writer runs two workers at once; each gets a thread, so one's large body is
// deciphered and parsed while the other's store transaction runs.
const int kIoThreads = 2;

// Bytes outside the base64 alphabet: the driver deciphers them to nothing.
const char kNotAnEnvelope[] = "!#$%&()*,-.:;<>?@[]^_`{|}~ !#$%&()*,-.:;<>?@[]^_`{|}~\r\n";

const char* Reason(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 413:
        return "Payload Too Large";
    default:
        return "Internal Server Error";
    }
}

// The whole message for one write; declaredLength differs from the body only to cut it short.
std::string Message(int status, const std::string& body, size_t declaredLength = std::string::npos) {
    if (declaredLength == std::string::npos)
        declaredLength = body.size();
    char head[160];
    int n = snprintf(head, sizeof head, "HTTP/1.1 %d %s\r\nContent-Length: %zu\r\nConnection: close\r\n\r\n",
                     status, Reason(status), declaredLength);
    std::string out;
    out.reserve(n + body.size());
    out.append(head, n);
    out.append(body);
    return out;
}

} // namespace

class Server::Impl {
public:
    explicit Impl(Store& s) : store(s), service(s) {}

    void Accept();

    Store& store;
    Service service;
    Faults faults;
    Journal journal;
    net::io_context io{kIoThreads};
    // Every connection runs on a strand of its own; the acceptor on one too, so Stop() can close
    // it while the other thread accepts.
    tcp::acceptor acceptor{net::make_strand(io)};
    std::vector<std::thread> threads;
    int port = 0;
    std::atomic<bool> quiet{false};
};

namespace {

class Connection : public std::enable_shared_from_this<Connection> {
public:
    // socket: bound to the connection's strand, which the stream and the timer share.
    Connection(Server::Impl& srv, tcp::socket socket)
        : srv_(srv), stream_(std::move(socket)), timer_(stream_.get_executor()) {}

    void Start() {
        net::dispatch(stream_.get_executor(), [self = shared_from_this()] { self->Read(); });
    }

private:
    void Read() {
        parser_.emplace();
        parser_->body_limit(kMaxBody);
        parser_->header_limit(kMaxHeader);
        stream_.expires_after(kIdleLimit);
        http::async_read(stream_, buffer_, *parser_,
                         [self = shared_from_this()](beast::error_code ec, size_t) { self->OnRead(ec); });
    }

    void Trace(const std::string& what) {
        if (!srv_.quiet)
            fprintf(stderr, "kxphone-sim: %s %s: %s\n", method_.c_str(), path_.c_str(), what.c_str());
    }

    void OnRead(beast::error_code ec) {
        arrivedMs_ = Journal::MonotonicMs();
        if (ec == http::error::end_of_stream || ec == beast::error::timeout || ec == net::error::eof ||
            ec == net::error::connection_reset || ec == net::error::operation_aborted) {
            Reset(); // the peer went away before it finished a request
            return;
        }
        if (ec) {
            // Not HTTP we can read: say so and close; nothing was carried out.
            JournalEntry e;
            e.arrivedMs = arrivedMs_;
            e.error = "unreadable request: " + ec.message();
            e.httpStatus = ec == http::error::body_limit ? 413 : 400;
            Trace(e.error);
            srv_.journal.Add(e);
            Send(Message(e.httpStatus, Service::StatusBody(kStatusBadBody)));
            return;
        }
        auto& req = parser_->get();
        method_ = std::string(req.method_string());
        path_ = std::string(req.target());
        session_ = std::string(req["SessionID"]);
        body_ = std::move(req.body());

        if (path_.compare(0, strlen(kAdminPrefix), kAdminPrefix) == 0) {
            AdminAnswer a = HandleAdmin(srv_.store, &srv_.faults, &srv_.journal, method_, path_, body_);
            Send(Message(a.httpStatus, CompactJson(a.doc) + "\n"));
            return;
        }
        faults_ = srv_.faults.Take(path_);
        if (faults_.stallMs > 0) {
            timer_.expires_after(std::chrono::milliseconds(faults_.stallMs));
            timer_.async_wait([self = shared_from_this()](beast::error_code wec) {
                if (!wec)
                    self->Answer();
            });
            return;
        }
        Answer();
    }

    void Answer() {
        JournalEntry e;
        e.arrivedMs = arrivedMs_;
        e.method = method_;
        e.path = path_;
        e.session = session_;
        if (faults_.stallMs > 0)
            e.fault = "stall";
        const FaultRule* action = faults_.hasAction ? &faults_.action : nullptr;
        if (action != nullptr)
            e.fault = Faults::KindName(action->kind);

        if (action != nullptr && (action->kind == FaultKind::kStatus || action->kind == FaultKind::kDrop)) {
            // Refused before anything is carried out.
            e.body = PlainBody();
            if (action->kind == FaultKind::kDrop) {
                srv_.journal.Add(e);
                Reset();
                return;
            }
            // The group requests have no "status": a refusal is an empty answer there.
            const bool plain = IsPlainTextPath(path_);
            e.httpStatus = plain ? 500 : 200;
            srv_.journal.Add(e);
            Send(Message(e.httpStatus, plain ? std::string() : Service::StatusBody(action->value)));
            return;
        }

        ServiceAnswer a = srv_.service.Handle(method_, path_, body_);
        e.body = a.plainBody;
        e.error = a.error;
        e.httpStatus = a.httpStatus;
        if (!a.error.empty())
            Trace(a.error);
        srv_.journal.Add(e);

        if (action == nullptr) {
            Send(Message(a.httpStatus, a.body));
        } else if (action->kind == FaultKind::kCloseMidBody) {
            std::string whole = Message(a.httpStatus, a.body, a.body.size());
            whole.resize(whole.size() - a.body.size() + a.body.size() / 2);
            Send(std::move(whole));
        } else if (action->kind == FaultKind::kUndecipherable) {
            Send(Message(a.httpStatus, kNotAnEnvelope));
        } else { // non_json
            std::string body = EncryptPayload("<html><body>Service Unavailable</body></html>");
            Send(Message(a.httpStatus, body));
        }
    }

    std::string PlainBody() {
        if (IsPlainTextPath(path_) || body_.empty())
            return body_;
        return Service::Unseal(body_);
    }

    void Send(std::string message) {
        out_ = std::move(message);
        stream_.expires_after(kIdleLimit);
        net::async_write(stream_.socket(), net::buffer(out_),
                         [self = shared_from_this()](beast::error_code, size_t) { self->Close(); });
    }

    // Ends our side, then reads until the peer closes (or a short while passes) before closing:
    // closing with unread bytes (a request we refused half-way) would reset the connection and
    // could destroy the answer before the peer has read it.
    void Close() {
        beast::error_code ec;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ec);
        if (ec) {
            stream_.socket().close(ec);
            return;
        }
        stream_.expires_after(std::chrono::seconds(2));
        Drain();
    }

    void Drain() {
        stream_.async_read_some(net::buffer(drain_),
                                [self = shared_from_this()](beast::error_code ec, size_t) {
                                    if (!ec) {
                                        self->Drain();
                                        return;
                                    }
                                    beast::error_code ignored;
                                    self->stream_.socket().close(ignored);
                                });
    }

    // Ends the connection with a reset: the peer's next read fails.
    void Reset() {
        beast::error_code ec;
        stream_.socket().set_option(net::socket_base::linger(true, 0), ec);
        stream_.socket().close(ec);
    }

    Server::Impl& srv_;
    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    net::steady_timer timer_;
    std::string method_, path_, session_, body_, out_;
    RequestFaults faults_;
    int64_t arrivedMs_ = 0;
    char drain_[4096];
};

} // namespace

void Server::Impl::Accept() {
    acceptor.async_accept(net::make_strand(io), [this](beast::error_code ec, tcp::socket socket) {
        if (ec == net::error::operation_aborted || !acceptor.is_open())
            return;
        if (!ec) {
            beast::error_code ignored;
            socket.set_option(tcp::no_delay(true), ignored);
            if (faults.TakeRefusal()) {
                JournalEntry e;
                e.fault = "refuse";
                journal.Add(e);
                socket.set_option(net::socket_base::linger(true, 0), ignored);
                socket.close(ignored);
            } else {
                std::make_shared<Connection>(*this, std::move(socket))->Start();
            }
        }
        Accept();
    });
}

Server::Server(Store& store) : impl_(new Impl(store)) {}

Server::~Server() {
    Stop();
}

bool Server::Start(int port, std::string* error) {
    if (!impl_->threads.empty()) {
        *error = "already running";
        return false;
    }
    beast::error_code ec;
    tcp::endpoint ep(net::ip::make_address_v4("127.0.0.1"), static_cast<unsigned short>(port));
    impl_->acceptor.open(ep.protocol(), ec);
    if (!ec)
        impl_->acceptor.set_option(net::socket_base::reuse_address(true), ec);
    if (!ec)
        impl_->acceptor.bind(ep, ec);
    if (!ec)
        impl_->acceptor.listen(net::socket_base::max_listen_connections, ec);
    if (ec) {
        *error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + ec.message();
        beast::error_code ignored;
        impl_->acceptor.close(ignored);
        return false;
    }
    impl_->port = impl_->acceptor.local_endpoint().port();
    impl_->Accept();
    for (int i = 0; i < kIoThreads; ++i)
        impl_->threads.emplace_back([this] { impl_->io.run(); });
    return true;
}

void Server::Stop() {
    if (impl_->threads.empty())
        return;
    net::post(impl_->acceptor.get_executor(), [this] {
        beast::error_code ec;
        impl_->acceptor.close(ec);
        impl_->io.stop();
    });
    for (std::thread& t : impl_->threads)
        t.join();
    impl_->threads.clear();
    // Pending connections and timers are dropped with the io_context, before the journal and the
    // fault rules they refer to.
}

int Server::port() const {
    return impl_->port;
}
void Server::SetQuiet(bool quiet) {
    impl_->quiet = quiet;
}
Store& Server::store() {
    return impl_->store;
}
Faults& Server::faults() {
    return impl_->faults;
}
Journal& Server::journal() {
    return impl_->journal;
}

} // namespace kxsim
