#include <gtest/gtest.h>

#include "transport/id_batch.h"

namespace {

std::string Compact(const Json::Value& v) {
    Json::StreamWriterBuilder b;
    b["indentation"] = "";
    return Json::writeString(b, v);
}

TEST(IdBatch, SkipsEntriesThatAreNotObjectsAndStopsAtTheLimit) {
    Json::Value ids;
    Json::Reader().parse(R"([{"__id":"1"},7,null,{"__id":2},{"x":1},"3",{"__id":"4"},null,{"__id":[5]}])",
                         ids);
    const struct {
        bool nullCounts;
        std::vector<std::string> batches;
    } cases[] = {
        {false,
         {R"([{"__id":"1"},{"__id":"2"}])", R"([{"__id":""},{"__id":"4"}])", R"([{"__id":""}])", "[]"}},
        {true,
         {R"([{"__id":"1"},{"__id":""}])", R"([{"__id":"2"},{"__id":""}])", R"([{"__id":"4"},{"__id":""}])",
          R"([{"__id":""}])", "[]"}},
    };
    const IdList entries = IdEntries(ids);
    for (const auto& c : cases) {
        size_t position = 0;
        std::vector<std::string> batches;
        do
            batches.push_back(Compact(NextIdBatch(entries, &position, 2, c.nullCounts)));
        while (batches.back() != "[]");
        EXPECT_EQ(c.batches, batches) << c.nullCounts;
        EXPECT_EQ(ids.size(), position);
    }
    EXPECT_TRUE(IdEntries(Json::Value("x")).empty());
}

} // namespace
