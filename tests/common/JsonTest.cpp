#include <cjson/cJSON.h>
#include <gtest/gtest.h>

#include <climits>

#include "common/Json.h"

namespace quorvin {
namespace {

TEST(Json, MembersAreFoundWithoutRegardToCase) {
    JsonPtr doc = ParseJson(R"({"body":{"SZPRINTERNAME":"HP","szPrinterName":"second","nCopy":2}})");
    ASSERT_TRUE(doc);
    const cJSON* body = GetJsonMember(doc.get(), "BODY");
    ASSERT_NE(body, nullptr);
    EXPECT_EQ(GetJsonString(body, "szPrinterName"), "HP");  // the first match wins
    EXPECT_EQ(GetJsonString(body, "nCopy"), "");            // a number reads as empty
    EXPECT_EQ(AtoI(GetJsonString(body, "nCopy")), 0);
    EXPECT_EQ(GetJsonString(body, "absent"), "");
    EXPECT_EQ(GetJsonString(nullptr, "x"), "");
    JsonPtr array = ParseJson("[1,2]");
    EXPECT_EQ(GetJsonMember(array.get(), "0"), nullptr);
}

TEST(Json, TextAfterTheFirstValueIsIgnored) {
    JsonPtr doc = ParseJson(R"({"name":"GetAllPrn"} trailing garbage {)");
    ASSERT_TRUE(doc);
    EXPECT_EQ(GetJsonString(doc.get(), "name"), "GetAllPrn");
    EXPECT_FALSE(ParseJson("not json"));
    EXPECT_FALSE(ParseJson(""));
    EXPECT_FALSE(ParseJson(R"({"name":"x")"));
    // The length bounds the parse: no read past the given text.
    const std::string text = R"({"a":"b"})";
    EXPECT_FALSE(ParseJson(std::string_view(text).substr(0, 5)));
}

TEST(Json, AtoIFollowsTheCRules) {
    EXPECT_EQ(AtoI("42"), 42);
    EXPECT_EQ(AtoI("  -7px"), -7);
    EXPECT_EQ(AtoI("+3"), 3);
    EXPECT_EQ(AtoI("abc"), 0);
    EXPECT_EQ(AtoI(""), 0);
    EXPECT_EQ(AtoI("99999999999999999999"), INT_MAX);
    EXPECT_EQ(AtoI("-99999999999999999999"), INT_MIN);
}

TEST(Json, EscapedTextParsesBackToTheSameBytes) {
    const std::string nasty = "quote\" back\\slash\ttab\nline\x01 \xE4\xB8\xAD </script>";
    const std::string escaped = JsonEscape(nasty);
    EXPECT_EQ(escaped.find('\n'), std::string::npos);
    JsonPtr doc = ParseJson("{\"v\":\"" + escaped + "\"}");
    ASSERT_TRUE(doc);
    EXPECT_EQ(GetJsonString(doc.get(), "v"), nasty);
    EXPECT_EQ(JsonEscape("^^srv^HP"), "^^srv^HP");  // carets travel as they are
}

TEST(Json, PrintsFormattedAndCompact) {
    JsonPtr doc = ParseJson(R"({"a":{"b":"c"}})");
    EXPECT_EQ(PrintJson(doc.get(), false), R"({"a":{"b":"c"}})");
    EXPECT_EQ(PrintJson(doc.get(), true), "{\n\t\"a\":\t{\n\t\t\"b\":\t\"c\"\n\t}\n}");
    EXPECT_EQ(PrintJson(nullptr, true), "");
}

}  // namespace
}  // namespace quorvin
