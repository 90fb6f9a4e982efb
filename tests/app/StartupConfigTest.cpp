#include <cjson/cJSON.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>

#include "app/QuorvinApp.h"
#include "app/StartupConfig.h"
#include "common/CodePage.h"
#include "common/CommonTool.h"
#include "common/Json.h"
#include "TempDir.h"

namespace quorvin {
namespace {

// ".../m.htm?stamp=" and eight groups of "00" and two lower-case hex digits
// (GoogleTest's regular expressions on Windows have no groups).
bool StampedPageUrl(const std::string& url) {
    const std::string tail = "/m.htm?stamp=";
    const std::size_t at = url.rfind(tail);
    if (at == std::string::npos || url.size() - at - tail.size() != 32) return false;
    const auto hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); };
    for (std::size_t i = at + tail.size(); i < url.size(); i += 4) {
        if (url[i] != '0' || url[i + 1] != '0' || !hex(url[i + 2]) || !hex(url[i + 3])) return false;
    }
    return true;
}

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

// Member names of an object, in order.
std::vector<std::string> Names(const cJSON* obj) {
    std::vector<std::string> names;
    for (const cJSON* c = obj ? obj->child : nullptr; c; c = c->next) names.push_back(c->string);
    return names;
}

class Startup : public ::testing::Test {
protected:
    std::optional<StartupValues> Load(const std::string& text) {
        WriteBytes(Config(), text);
        return LoadStartupConfig(dir.path(), identity, "00aa00bb00cc00dd00ee00ff00110022");
    }
    std::string Config() const { return dir / "config.json"; }

    TempDir dir;
    int identityAsked = 0;
    MachineIdentity identity{[this] { ++identityAsked; return std::string("00-1A-2B-3C-4D-5E"); },
                             [] { return std::string("desk-07"); }};
};

TEST_F(Startup, MissingBrokenOrStartuplessFilesEndTheStartUntouched) {
    EXPECT_FALSE(LoadStartupConfig(dir.path(), identity, "s"));
    EXPECT_FALSE(std::filesystem::exists(Config()));
    const std::string bad[] = {
        "",
        "not json",
        "\xEF\xBB\xBF{\"startup\":{\"param\":{}}}",  // UTF-8 byte-order mark
        R"({"other":{}})",
        R"({"startup":"text"})",
        R"({"startup":[1,2]})",
        R"([{"startup":{}}])",
    };
    for (const std::string& text : bad) {
        EXPECT_FALSE(Load(text)) << text;
        EXPECT_EQ(ReadBytes(Config()), text);
    }
    EXPECT_EQ(identityAsked, 0);
}

TEST_F(Startup, DefaultsAndPageAddress) {
    auto v = Load(R"({"startup":{"url":"main.htm","param":{}}})");
    ASSERT_TRUE(v);
    const WindowSettings& w = v->window;
    EXPECT_EQ(w.url, dir.path() + "/main.htm?stamp=00aa00bb00cc00dd00ee00ff00110022");
    EXPECT_EQ(v->params.Lookup("root"), dir.path() + "/");
    EXPECT_EQ(v->params.Lookup("main"), "");
    EXPECT_EQ(v->params.Lookup("title"), "");
    EXPECT_EQ(v->params.Lookup("anything"), "");
    EXPECT_EQ(w.width, 0);
    EXPECT_EQ(w.height, 0);
    EXPECT_EQ(w.caption, 1);
    EXPECT_EQ(w.border, 2);
    EXPECT_EQ(w.sysmenu, 1);
    EXPECT_EQ(w.minbox, 1);
    EXPECT_EQ(w.maxbox, 1);
    EXPECT_EQ(w.align, "");
    EXPECT_EQ(w.status, "");

    v = Load(R"({"startup":{"root":"","param":{}}})");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->window.url, "");  // no "url": no page address
    EXPECT_EQ(v->params.Lookup("root"), dir.path() + "/");
}

TEST_F(Startup, WindowOptionsAreCarriedThrough) {
    auto v = Load(R"({"startup":{"root":"http://host/app/","URL":"p.htm","title":"T","width":"800",
        "height":"600px","align":"left-top","status":"max","caption":"2","border":"5","sysmenu":"0",
        "minbox":"x","maxbox":"1","main":"p.htm","param":{}}})");
    ASSERT_TRUE(v);
    const WindowSettings& w = v->window;
    EXPECT_THAT(w.url, ::testing::StartsWith("http://host/app/p.htm?stamp="));
    EXPECT_EQ(w.title, "T");
    EXPECT_EQ(w.width, 800);
    EXPECT_EQ(w.height, 600);
    EXPECT_EQ(w.align, "left-top");
    EXPECT_EQ(w.status, "max");
    EXPECT_EQ(w.caption, 2);  // only 1 turns the caption on; the window decides
    EXPECT_EQ(w.border, 5);
    EXPECT_EQ(w.sysmenu, 0);
    EXPECT_EQ(w.minbox, 0);
    EXPECT_EQ(w.maxbox, 1);
    EXPECT_EQ(v->params.Lookup("root"), "http://host/app/");
    EXPECT_EQ(v->params.Lookup("main"), "p.htm");
    EXPECT_EQ(v->params.Lookup("title"), "T");
}

TEST_F(Startup, NumbersWrittenAsJsonNumbersAndAbsurdValues) {
    auto v = Load(R"({"startup":{"width":1024,"height":99999999999999,"caption":0,"border":-1e300,
        "minbox":"-99999999999999999","param":{}}})");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->window.width, 1024);
    EXPECT_EQ(v->window.height, INT_MAX);
    EXPECT_EQ(v->window.caption, 0);
    EXPECT_EQ(v->window.border, INT_MIN);
    EXPECT_EQ(v->window.minbox, INT_MIN);
}

// Found by StartupConfigFuzz: a number beyond a double's range was written
// back as null, so the next start read another configuration.
TEST_F(Startup, NumbersBeyondADoubleReadTheSameAtTheNextStart) {
    auto first = Load(R"({"startup":{"url":80E5333,"width":1e999,"height":-1e999,"param":{"n":[1e400]}}})");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->window.url, dir.path() + "/2147483647?stamp=00aa00bb00cc00dd00ee00ff00110022");
    EXPECT_EQ(first->window.width, INT_MAX);
    EXPECT_EQ(first->window.height, INT_MIN);
    const std::string written = ReadBytes(Config());
    EXPECT_EQ(written.find("null"), std::string::npos) << written;
    auto second = LoadStartupConfig(dir.path(), identity, "00aa00bb00cc00dd00ee00ff00110022");
    ASSERT_TRUE(second);
    EXPECT_EQ(second->window.url, first->window.url);
    EXPECT_EQ(second->window.width, INT_MAX);
    EXPECT_EQ(second->window.height, INT_MIN);
    EXPECT_EQ(ReadBytes(Config()), written);
}

TEST_F(Startup, IdentityIsFilledMovedToTheEndAndWrittenBack) {
    auto v = Load(R"({"top":1,"Startup":{"param":{"clientId":"","gsdm":"g","clientName":"","rydm":"r"},
        "extra":"kept"},"tail":[true]})");
    ASSERT_TRUE(v);
    // The first start already hands the page the filled identity.
    JsonPtr handed = ParseJson(v->window.pageParam);
    EXPECT_EQ(GetJsonString(handed.get(), "clientName"), "desk-07");
    EXPECT_EQ(GetJsonString(handed.get(), "clientId"), GetJsonString(ParseJson(v->linkParam).get(), "clientId"));
    EXPECT_NE(v->window.pageParam.find("\n\t"), std::string::npos);  // formatted

    const std::string written = ReadBytes(Config());
    JsonPtr doc = ParseJson(written);
    ASSERT_TRUE(doc);
    EXPECT_EQ(written, PrintJson(doc.get(), true));  // cJSON's formatted layout
    EXPECT_THAT(Names(doc.get()), ::testing::ElementsAre("top", "Startup", "tail"));
    const cJSON* startup = GetJsonMember(doc.get(), "startup");
    EXPECT_EQ(GetJsonString(startup, "extra"), "kept");
    const cJSON* param = GetJsonMember(startup, "param");
    EXPECT_THAT(Names(param), ::testing::ElementsAre("gsdm", "rydm", "clientId", "clientName"));
    CCommonTool tool{dir.path()};
    EXPECT_EQ(GetJsonString(param, "clientId"), tool.LockString("00-1A-2B-3C-4D-5E"));
    EXPECT_EQ(GetJsonString(param, "clientId").substr(0, 2), "_D");
    EXPECT_EQ(GetJsonString(param, "clientName"), "desk-07");

    // The next start keeps the values and hands them to the page.
    identityAsked = 0;
    v = Load(written);
    ASSERT_TRUE(v);
    EXPECT_EQ(identityAsked, 0);
    EXPECT_EQ(ReadBytes(Config()), written);
    EXPECT_EQ(GetJsonString(ParseJson(v->window.pageParam).get(), "clientName"), "desk-07");
}

TEST_F(Startup, ExistingIdentityStaysButMovesToTheEnd) {
    ASSERT_TRUE(Load(R"({"startup":{"param":{"CLIENTID":"abc","clientName":"me","x":"1"}}})"));
    JsonPtr doc = ParseJson(ReadBytes(Config()));
    const cJSON* param = GetJsonMember(GetJsonMember(doc.get(), "startup"), "param");
    EXPECT_THAT(Names(param), ::testing::ElementsAre("x", "clientId", "clientName"));
    EXPECT_EQ(GetJsonString(param, "clientId"), "abc");
    EXPECT_EQ(GetJsonString(param, "clientName"), "me");
    EXPECT_EQ(identityAsked, 0);
}

TEST_F(Startup, NoAdapterGivesALoneUnderscore) {
    identity.adapterAddress = [] { return std::string(); };
    ASSERT_TRUE(Load(R"({"startup":{"param":{}}})"));
    JsonPtr doc = ParseJson(ReadBytes(Config()));
    EXPECT_EQ(GetJsonString(GetJsonMember(GetJsonMember(doc.get(), "startup"), "param"), "clientId"), "_");
}

TEST_F(Startup, StartupWithoutParamSkipsTheIdentity) {
    auto v = Load(R"({"startup":{"url":"a.htm"}})");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->window.pageParam, "");
    EXPECT_EQ(identityAsked, 0);
    JsonPtr doc = ParseJson(ReadBytes(Config()));
    EXPECT_EQ(GetJsonMember(GetJsonMember(doc.get(), "startup"), "param"), nullptr);
    v = Load(R"({"startup":{"param":"not an object"}})");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->window.pageParam, "\"not an object\"");
}

TEST_F(Startup, Utf16FileIsReadAndWrittenBackInTheLocalCodePage) {
    SetLocalCodePage("GBK");
    // {"startup":{"title":"中","param":{}}} as UTF-16LE with a byte-order mark.
    const std::string ascii1 = R"({"startup":{"title":")";
    const std::string ascii2 = R"(","param":{}}})";
    std::string utf16 = "\xFF\xFE";
    for (char c : ascii1) utf16 += std::string{c, '\0'};
    utf16 += "\x2D\x4E";
    for (char c : ascii2) utf16 += std::string{c, '\0'};
    auto v = Load(utf16);
    SetLocalCodePage("");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->window.title, "\xD6\xD0");
    const std::string written = ReadBytes(Config());
    EXPECT_NE(written.find("\"title\":\t\"\xD6\xD0\""), std::string::npos) << written;
    EXPECT_NE(static_cast<unsigned char>(written[0]), 0xFF);
}

TEST(QuorvinApp, FetchesOnlyWhenConfigIsMissingAndFillsTheParamMap) {
    TempDir dir;
    int fetched = 0;
    bool shown = false;
    const auto fetch = [&](const std::string& path) {
        ++fetched;
        EXPECT_EQ(path, dir / "config.json");
        WriteBytes(path, R"({"startup":{"url":"m.htm","title":"Title","main":"m.htm","param":{}}})");
    };
    MachineIdentity identity{[] { return std::string("AA-BB-CC-DD-EE-FF"); }, [] { return std::string("h"); }};
    {
        CQuorvinApp app(dir.path(), fetch, [&](const StartupValues& v) {
            shown = true;
            EXPECT_TRUE(StampedPageUrl(v.window.url)) << v.window.url;
        }, identity);
        EXPECT_EQ(app.m_pParamMap(), nullptr);
        EXPECT_FALSE(app.InitInstance());
        EXPECT_TRUE(shown);
        ASSERT_NE(app.m_pParamMap(), nullptr);
        EXPECT_EQ(app.m_pParamMap()->Lookup("main"), "m.htm");
        EXPECT_EQ(app.m_pParamMap()->Lookup("title"), "Title");
        app.ExitInstance();
        EXPECT_EQ(app.m_pParamMap(), nullptr);
    }
    EXPECT_EQ(fetched, 1);
    {
        CQuorvinApp app(dir.path(), fetch, nullptr, identity);
        app.InitInstance();
        EXPECT_TRUE(app.WindowShown());
    }
    EXPECT_EQ(fetched, 1);  // a local file is never replaced by the download
}

TEST(QuorvinApp, FailedFetchEndsQuietlyAndTriesAgainNextStart) {
    TempDir dir;
    int fetched = 0;
    const auto fetch = [&](const std::string&) { ++fetched; };
    for (int i = 0; i < 2; ++i) {
        CQuorvinApp app(dir.path(), fetch, [](const StartupValues&) { ADD_FAILURE() << "no window expected"; });
        EXPECT_FALSE(app.InitInstance());
        EXPECT_FALSE(app.WindowShown());
    }
    EXPECT_EQ(fetched, 2);
    EXPECT_FALSE(std::filesystem::exists(dir / "config.json"));
}

}  // namespace
}  // namespace quorvin
