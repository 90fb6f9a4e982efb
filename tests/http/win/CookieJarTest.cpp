// The session's own cookie jar (WinINet's is shared by the whole process):
// what a server's Set-Cookie line does to the Cookie header sent next.
#include "http/win/CookieJar.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorvin::http {
namespace {

struct JarCase {
    const char* what;
    std::vector<std::string> setCookies;  // taken in order for host "h.test"
    const char* header;                   // then sent to "h.test"
};

class JarTable : public ::testing::TestWithParam<JarCase> {};

TEST_P(JarTable, TakesSetCookieLines) {
    CookieJar jar;
    for (const std::string& line : GetParam().setCookies) jar.Take("h.test", line);
    EXPECT_EQ(jar.HeaderFor("h.test"), GetParam().header);
}

INSTANTIATE_TEST_SUITE_P(
    CookieJar, JarTable,
    ::testing::Values(JarCase{"attributes are not part of the value", {"a=1; Path=/; HttpOnly"}, "a=1"},
                      JarCase{"blanks around name and value go", {"  a = 1 ;Path=/"}, "a=1"},
                      JarCase{"a value may hold '='", {"t=x=y"}, "t=x=y"},
                      JarCase{"the same name replaces", {"a=1", "b=2", "a=3"}, "a=3; b=2"},
                      JarCase{"max-age 0 removes", {"a=1", "b=2", "a=x; Max-Age=0"}, "b=2"},
                      JarCase{"a negative max-age removes", {"a=1", "a=x; max-age=-1"}, ""},
                      JarCase{"a positive max-age keeps", {"a=1; Max-Age=60"}, "a=1"},
                      JarCase{"no '=' is no cookie", {"garbage", "; a=1"}, ""},
                      JarCase{"an empty name is no cookie", {"=v"}, ""}),
    [](const ::testing::TestParamInfo<JarCase>& info) { return "Case" + std::to_string(info.index); });

TEST(CookieJar, CookiesStayWithTheirHostWhateverItsCase) {
    CookieJar jar;
    jar.Put("Host.Test", "sid", "1");
    jar.Take("other.test", "x=2");
    EXPECT_EQ(jar.HeaderFor("host.test"), "sid=1");
    EXPECT_EQ(jar.HeaderFor("other.test"), "x=2");
    EXPECT_EQ(jar.HeaderFor("third.test"), "");
}

}  // namespace
}  // namespace quorvin::http
