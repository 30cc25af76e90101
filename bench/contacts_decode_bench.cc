// The driver's own cost per contact of a full read, without network: the answers to
// "/contact/do/read" of a seeded store are recorded once, then replayed through the stages the
// reader runs for each batch (decode + decipher, parse, convert), by the fast reader the reads use
// and by JsonCpp (what they used before, and what they fall back to).
#include <kxphone/contact_record.h>

#include <benchmark/benchmark.h>
#include <json/json.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "contacts/contact_groups.h"
#include "contacts/contact_mapping.h"
#include "driver/app.h"
#include "seed.h"
#include "service.h"
#include "store.h"
#include "transport/payload_cipher.h"
#include "transport/service_request.h"

namespace {

namespace fs = std::filesystem;

// Pictures go to a scratch folder that each pass empties.
class BenchEnv : public platform::EnvWrapper {
public:
    BenchEnv() : EnvWrapper(platform::Env::Default()) {
        char pattern[] = "/tmp/kx_contacts_benchXXXXXX";
        dir_ = mkdtemp(pattern);
    }
    ~BenchEnv() override { Remove(); }
    void Remove() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string AppDataDir() override { return dir_; }
    void Sweep() {
        std::error_code ec;
        fs::remove_all(fs::path(dir_) / "Vexo", ec);
    }

private:
    std::string dir_;
};

struct Recording {
    std::unique_ptr<kxsim::Store> store;
    std::vector<std::string> envelopes; // answers to the read requests, as received
    size_t contacts = 0;                // objects in them
    std::vector<Json::Value> parsed;    // the same answers parsed
    std::vector<Json::Value> noPhotos;  // and without their photo rows
    BenchEnv env;
};

Recording& Recorded() {
    static Recording* r = [] {
        Recording* rec = new Recording;
        std::string error;
        rec->store = kxsim::Store::Open(":memory:", &error);
        kxsim::SeedOptions seed;
        seed.contacts = std::getenv("KX_BENCH_CONTACTS") ? std::atoi(std::getenv("KX_BENCH_CONTACTS")) : 2000;
        seed.seed = 1;
        kxsim::Seed(*rec->store, seed);
        kxsim::Service service(*rec->store);
        Json::Value ids = rec->store->ContactIds();
        for (Json::ArrayIndex i = 0; i < ids.size(); i += 50) {
            Json::Value request(Json::objectValue);
            Json::Value& batch = request["objects"] = Json::Value(Json::arrayValue);
            for (Json::ArrayIndex j = i; j < ids.size() && j < i + 50; ++j) {
                Json::Value item(Json::objectValue);
                item["__id"] = ids[j]["__id"].asString();
                batch.append(item);
            }
            kxsim::ServiceAnswer a =
                service.Handle("GET", "/contact/do/read", EncryptPayload(WriteCompactJson(request).c_str()));
            rec->envelopes.push_back(a.body);
            ServiceReply reply = ParseServiceAnswer(a.body.data(), a.body.size());
            rec->contacts += reply.objects().size();
            rec->parsed.push_back(reply.document);
            Json::Value bare = reply.document;
            for (Json::Value& object : bare["objects"]) {
                Json::Value rows(Json::arrayValue);
                for (const Json::Value& row : object["__data"])
                    if (row["mimetype"].asString() != "vnd.android.cursor.item/photo")
                        rows.append(row);
                object["__data"] = rows;
            }
            rec->noPhotos.push_back(bare);
        }
        // Group titles come from the store itself, as the handset would give them; each is
        // asked once per process anyway.
        kxsim::Store* store = rec->store.get();
        theApp.m_FakePhone.m_ContactGroups.SetRequester(
            [store](const std::string& body, std::string* answer) {
                *answer = store->GroupTitleForId(body.substr(body.find("value=") + 6));
                return true;
            });
        theApp.SetEnv(&rec->env);
        // The recording lives until exit; its scratch folder must not outlive the process.
        std::atexit([] {
            theApp.SetEnv(nullptr);
            Recorded().env.Remove();
        });
        return rec;
    }();
    return *r;
}

void Convert(const Json::Value& document, benchmark::State& state) {
    for (const Json::Value& object : document["objects"]) {
        ContactRecord record;
        benchmark::DoNotOptimize(kxconv::ToContactEx(object, &record, theApp.m_FakePhone.m_ContactGroups));
    }
    (void)state;
}

void PerContact(benchmark::State& state, size_t contacts) {
    state.counters["us_per_contact"] =
        benchmark::Counter(static_cast<double>(contacts) * 1e-6,
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetItemsProcessed(static_cast<int64_t>(contacts) * state.iterations());
}

// Everything the reader does with an answer: decode, decipher, parse, convert (pictures
// written to files included).
void BM_ContactBatchesWhole(benchmark::State& state) {
    Recording& rec = Recorded();
    for (auto _ : state) {
        for (const std::string& envelope : rec.envelopes) {
            ServiceReply reply = ParseServiceAnswer(envelope.data(), envelope.size());
            Convert(reply.document, state);
        }
        state.PauseTiming();
        rec.env.Sweep();
        state.ResumeTiming();
    }
    PerContact(state, rec.contacts);
}

// The same through the fast reader: one buffer and one tape kept for every answer, as a read does.
void BM_ContactBatchesWholeFast(benchmark::State& state) {
    Recording& rec = Recorded();
    FastAnswer fast;
    for (auto _ : state) {
        for (const std::string& envelope : rec.envelopes) {
            ServiceReply reply = ParseServiceAnswerFast(envelope.data(), envelope.size(), &fast);
            for (const fastjson::Value& object : fast.objects()) {
                ContactRecord record;
                benchmark::DoNotOptimize(
                    kxconv::ToContactEx(object, &record, theApp.m_FakePhone.m_ContactGroups));
            }
            benchmark::DoNotOptimize(reply.fast);
        }
        state.PauseTiming();
        rec.env.Sweep();
        state.ResumeTiming();
    }
    PerContact(state, rec.contacts);
}

void BM_ContactDecodeDecipherParseFast(benchmark::State& state) {
    Recording& rec = Recorded();
    FastAnswer fast;
    for (auto _ : state)
        for (const std::string& envelope : rec.envelopes)
            benchmark::DoNotOptimize(fast.Parse(envelope.data(), envelope.size()));
    PerContact(state, rec.contacts);
}

void BM_ContactConvertWithoutPhotosFast(benchmark::State& state) {
    Recording& rec = Recorded();
    std::vector<std::string> texts;
    for (const Json::Value& document : rec.noPhotos)
        texts.push_back(WriteCompactJson(document));
    std::vector<std::unique_ptr<fastjson::Document>> docs;
    std::vector<std::string> buffers = texts; // parsed in place: kept for the documents' life
    for (std::string& text : buffers) {
        docs.push_back(std::make_unique<fastjson::Document>());
        docs.back()->Parse(&text[0], text.size());
    }
    for (auto _ : state)
        for (const auto& doc : docs)
            for (const fastjson::Value& object : doc->root().member("objects")) {
                ContactRecord record;
                benchmark::DoNotOptimize(
                    kxconv::ToContactEx(object, &record, theApp.m_FakePhone.m_ContactGroups));
            }
    PerContact(state, rec.contacts);
}

void BM_ContactDecodeDecipher(benchmark::State& state) {
    Recording& rec = Recorded();
    for (auto _ : state)
        for (const std::string& envelope : rec.envelopes)
            benchmark::DoNotOptimize(DecryptPayload(envelope.data(), envelope.size()));
    PerContact(state, rec.contacts);
}

void BM_ContactDecodeDecipherParse(benchmark::State& state) {
    Recording& rec = Recorded();
    for (auto _ : state)
        for (const std::string& envelope : rec.envelopes)
            benchmark::DoNotOptimize(ParseServiceAnswer(envelope.data(), envelope.size()));
    PerContact(state, rec.contacts);
}

void BM_ContactConvert(benchmark::State& state) {
    Recording& rec = Recorded();
    for (auto _ : state) {
        for (const Json::Value& document : rec.parsed)
            Convert(document, state);
        state.PauseTiming();
        rec.env.Sweep();
        state.ResumeTiming();
    }
    PerContact(state, rec.contacts);
}

void BM_ContactConvertWithoutPhotos(benchmark::State& state) {
    Recording& rec = Recorded();
    for (auto _ : state)
        for (const Json::Value& document : rec.noPhotos)
            Convert(document, state);
    PerContact(state, rec.contacts);
}

BENCHMARK(BM_ContactBatchesWholeFast)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ContactDecodeDecipherParseFast)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ContactConvertWithoutPhotosFast)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ContactBatchesWhole)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ContactDecodeDecipher)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ContactDecodeDecipherParse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ContactConvert)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ContactConvertWithoutPhotos)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
