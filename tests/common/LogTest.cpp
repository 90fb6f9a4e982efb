#include <gtest/gtest.h>

#include <regex>

#include "common/Log.h"
#include "fixtures/StderrCapture.h"

namespace quorvin {
namespace {

TEST(Log, EachFailureIsOneStampedLineWhateverItsText) {
    testing::StderrCapture err;
    LogFailure("tcp link", "connect to 10.0.0.5:9100 failed:\nConnection refused\r");
    LogFailure("http", "second");
    ASSERT_TRUE(err.WaitFor("second\n"));
    const std::string stamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})";
    const std::regex lines(stamp + " quorvin: tcp link: connect to 10\\.0\\.0\\.5:9100 failed: Connection refused \n" +
                           stamp + " quorvin: http: second\n");
    EXPECT_TRUE(std::regex_match(err.Text(), lines)) << err.Text();
}

}  // namespace
}  // namespace quorvin
