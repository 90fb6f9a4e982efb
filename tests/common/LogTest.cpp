#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/Log.h"
#include "fixtures/StderrCapture.h"

namespace quorvin {
namespace {

// "2025-01-31 14:05:09.123"
bool IsStamp(const std::string& s) {
    const std::string form = "dddd-dd-dd dd:dd:dd.ddd";
    if (s.size() != form.size()) return false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (form[i] == 'd' ? (s[i] < '0' || s[i] > '9') : s[i] != form[i]) return false;
    }
    return true;
}

TEST(Log, EachFailureIsOneStampedLineWhateverItsText) {
    testing::StderrCapture err;
    LogFailure("tcp link", "connect to 10.0.0.5:9100 failed:\nConnection refused\r");
    LogFailure("http", "second");
    ASSERT_TRUE(err.WaitFor("second\n"));
    const std::string text = err.Text();
    std::vector<std::string> lines;
    for (std::size_t at = 0, nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1)
        lines.push_back(text.substr(at, nl - at));
    ASSERT_EQ(lines.size(), 2u) << text;
    const std::vector<std::string> rest = {" quorvin: tcp link: connect to 10.0.0.5:9100 failed: Connection refused ",
                                           " quorvin: http: second"};
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_TRUE(IsStamp(lines[i].substr(0, 23))) << lines[i];
        EXPECT_EQ(lines[i].substr(23), rest[i]);
    }
}

}  // namespace
}  // namespace quorvin
