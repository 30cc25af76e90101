// The simulator's HTTP server on 127.0.0.1: one request per connection, answered with a
// "Content-Length:" header and the whole message in one write. It accepts what the driver
// sends: GET with a body, POST and DELETE without one, no Host header.
//
// Start() runs the server on two threads of its own, so two requests are served at the same
// time (the store still applies one request's transaction at a time); Stop() (or the destructor)
// ends it and joins them. The store, fault rules and journal may be used from any thread
// meanwhile.
#pragma once

#include <memory>
#include <string>

#include "faults.h"
#include "journal.h"
#include "store.h"

namespace kxsim {

class Server {
public:
    explicit Server(Store& store);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds 127.0.0.1:port (0 = ephemeral) and starts serving. False with *error on failure.
    bool Start(int port, std::string* error);
    void Stop();
    int port() const;

    // Bad requests are traced on stderr unless quiet.
    void SetQuiet(bool quiet);

    Store& store();
    Faults& faults();
    Journal& journal();

    class Impl;

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace kxsim
