// Cutting the byte stream at 0xFE, chunk by chunk.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/MessageFramer.h"

namespace quorvin {
namespace {

struct Collector {
    std::vector<std::string> messages;
    int dropped = 0;
    void Feed(MessageFramer& f, const std::string& chunk) {
        f.Feed(chunk.data(), chunk.size(), [this](const std::string& m) { messages.push_back(m); },
               [this] { ++dropped; });
    }
};

TEST(MessageFramerTest, ChunkBoundariesDoNotMatter) {
    const std::string stream = std::string("AB\xFE", 3) + "CDE\xFE" + "\xFE" + std::string("F\0G\xFE", 4) + "HI";
    const std::vector<std::string> expected = {"AB", "CDE", "", "F"};
    for (std::size_t cut1 = 0; cut1 <= stream.size(); ++cut1) {
        for (std::size_t cut2 = cut1; cut2 <= stream.size(); ++cut2) {
            MessageFramer f;
            Collector c;
            c.Feed(f, stream.substr(0, cut1));
            c.Feed(f, stream.substr(cut1, cut2 - cut1));
            c.Feed(f, stream.substr(cut2));
            ASSERT_EQ(c.messages, expected) << cut1 << "," << cut2;
            ASSERT_EQ(f.PendingSize(), 2u);  // "HI" waits for its delimiter
        }
    }
}

TEST(MessageFramerTest, ChunkEndingOnADelimiterLeavesNothingPending) {
    MessageFramer f;
    Collector c;
    c.Feed(f, "abc\xFE");
    EXPECT_EQ(f.PendingSize(), 0u);
    EXPECT_EQ(c.messages, std::vector<std::string>{"abc"});
}

TEST(MessageFramerTest, OversizedMessageIsDroppedToItsDelimiter) {
    MessageFramer f(8);
    Collector c;
    c.Feed(f, "12345678\xFE");  // exactly the limit
    c.Feed(f, "123456");
    c.Feed(f, "789");          // now over: dropped, once
    c.Feed(f, "more\xFE" "ok\xFE");
    c.Feed(f, "123456789\xFE" "x\xFE");
    EXPECT_EQ(c.messages, (std::vector<std::string>{"12345678", "ok", "x"}));
    EXPECT_EQ(c.dropped, 2);
}

}  // namespace
}  // namespace quorvin
