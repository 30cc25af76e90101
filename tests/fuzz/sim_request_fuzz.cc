// A request as it reaches the simulator: the HTTP parse with the server's limits, then the
// service or admin handling against a small seeded store of its own. Every service answer
// deciphers to a JSON object with a "status", and its text is valid UTF-8.
#include <cstdint>
#include <cstring>
#include <string>

#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <json/json.h>

#include "admin.h"
#include "faults.h"
#include "fuzz_support.h"
#include "journal.h"
#include "platform/utf.h"
#include "seed.h"
#include "service.h"
#include "store.h"

using kxfuzz::Check;
namespace http = boost::beast::http;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    http::request_parser<http::string_body> parser;
    parser.body_limit(64u << 20);
    parser.header_limit(64u << 10);
    parser.eager(true);
    boost::beast::error_code ec;
    size_t used = parser.put(boost::asio::buffer(data, size), ec);
    if (!ec && !parser.is_done())
        parser.put_eof(ec);
    if (ec || !parser.is_done() || used > size)
        return 0;

    std::string error;
    std::unique_ptr<kxsim::Store> store = kxsim::Store::Open(":memory:", &error);
    Check(store != nullptr);
    kxsim::SeedOptions seed;
    seed.contacts = 2;
    seed.events = 4;
    Check(kxsim::Seed(*store, seed).ok);

    auto& req = parser.get();
    const std::string method(req.method_string());
    const std::string path(req.target());
    if (path.compare(0, std::strlen(kxsim::kAdminPrefix), kxsim::kAdminPrefix) == 0) {
        kxsim::Faults faults;
        kxsim::Journal journal;
        kxsim::HandleAdmin(*store, &faults, &journal, method, path, req.body());
        return 0;
    }
    kxsim::ServiceAnswer answer = kxsim::Service(*store).Handle(method, path, req.body());
    if (kxsim::IsPlainTextPath(path) || answer.body.empty())
        return 0;
    const std::string text = kxsim::Service::Unseal(answer.body);
    Check(platform::IsValidUtf8(text.data(), text.size()));
    Json::Value doc;
    Json::CharReaderBuilder builder;
    std::string errors;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Check(reader->parse(text.data(), text.data() + text.size(), &doc, &errors) && doc.isObject() &&
          doc.isMember("status"));
    return 0;
}
