// Local page addresses against the browser's spelling of them: the window's
// allow-list must admit its own pages however the browser writes them, and
// nothing outside the pages' folder.
#include <gtest/gtest.h>

#include <string>

#include "html/PageAddressPolicy.h"
#include "html/win/FileUri.h"
#include "html/win/WideText.h"

namespace quorvin::win {
namespace {

std::string Canonical(const std::wstring& uri) { return WideToUtf8(CanonicalUri(uri)); }

TEST(FileUriTest, AddressesBecomeWhatTheBrowserNavigatesTo) {
    struct Case {
        const wchar_t* address;
        const wchar_t* uri;
    };
    const Case cases[] = {
        {L"C:\\agent\\main.htm", L"file:///C:/agent/main.htm"},
        {L"C:\\agent\\main.htm?stamp=12&x=1", L"file:///C:/agent/main.htm?stamp=12&x=1"},
        {L"C:/agent/pages/a.htm#top", L"file:///C:/agent/pages/a.htm#top"},
        {L"http://127.0.0.1:8080/a.htm?x", L"http://127.0.0.1:8080/a.htm?x"},
        {L"about:blank", L"about:blank"},
        {L"", L"about:blank"},
    };
    for (const Case& c : cases) EXPECT_EQ(ToBrowserUri(c.address), c.uri) << WideToUtf8(c.address);
}

TEST(FileUriTest, OneFileHasOneCanonicalSpelling) {
    const std::string page = Canonical(ToBrowserUri(L"C:\\Agent\\Pages\\main.htm"));
    ASSERT_FALSE(page.empty());
    const wchar_t* spellings[] = {L"file:///C:/Agent/Pages/main.htm", L"file:///c:/agent/pages/MAIN.HTM",
                                  L"file:///C:/Agent/Other/../Pages/main.htm", L"file:///C:/Agent/./Pages/main.htm",
                                  L"file:///C:/Agent/Pages%2Fmain.htm"};
    for (const wchar_t* s : spellings) EXPECT_EQ(Canonical(s), page) << WideToUtf8(s);
    EXPECT_EQ(Canonical(L"file:///C:/my%20dir/a.htm"), Canonical(ToBrowserUri(L"C:\\my dir\\a.htm")));
    EXPECT_EQ(Canonical(L"http://127.0.0.1/A"), "http://127.0.0.1/A");
}

TEST(FileUriTest, TheAllowListKeepsToThePagesFolder) {
    PageAddressPolicy policy;
    std::string root = Canonical(ToBrowserUri(L"C:\\agent\\"));
    ASSERT_FALSE(root.empty());
    if (root.back() != '/') root += '/';
    policy.Allow(root);
    policy.Allow(Canonical(ToBrowserUri(L"C:\\agent\\main.htm?stamp=1")));
    struct Case {
        const wchar_t* uri;
        bool allowed;
    };
    const Case cases[] = {
        {L"file:///C:/agent/main.htm", true},
        {L"file:///C:/AGENT/sub/page.htm?x=1", true},
        {L"file:///C:/agent/sub/../page.htm", true},
        {L"file:///C:/agent/../secret.htm", false},
        {L"file:///C:/agent%2F..%2Fsecret.htm", false},
        {L"file:///C:/agentx/page.htm", false},
        {L"file:///D:/agent/main.htm", false},
        {L"http://example.com/agent/main.htm", false},
        {L"file:", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(policy.AddressAllowed(Canonical(c.uri)), c.allowed) << WideToUtf8(c.uri);
    }
}

}  // namespace
}  // namespace quorvin::win
