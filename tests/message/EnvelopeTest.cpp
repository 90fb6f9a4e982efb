// The envelope's texts: reading rules, reply and registration layouts,
// escaping, and the caret convention.
#include <gtest/gtest.h>

#include <cjson/cJSON.h>

#include "common/CodePage.h"
#include "fixtures/StrictJson.h"
#include "message/Envelope.h"

namespace quorvin {
namespace {

TEST(EnvelopeTest, ReadsMembersWithoutRegardToCaseAndNonStringsAsEmpty) {
    CommandMessage m;
    ASSERT_TRUE(ReadCommandMessage(
        R"({"TYPE":"cmd","From":5,"to":"me","NAME":"SetPaper","Body":{"szprintername":"P^1","NCOPY":"3x","nOrientation":2,"TaskId":"t"}})",
        m));
    EXPECT_EQ(m.type, "cmd");
    EXPECT_EQ(m.from, "");  // a number where a string belongs
    EXPECT_EQ(m.name, "SetPaper");
    EXPECT_EQ(m.Arg("szPrinterName"), "P^1");
    EXPECT_EQ(m.IntArg("nCopy"), 3);
    EXPECT_EQ(m.IntArg("nOrientation"), 0);
    EXPECT_EQ(m.taskId, "t");
}

TEST(EnvelopeTest, BodyThatIsNotAnObjectReadsAsEmpty) {
    CommandMessage m;
    ASSERT_TRUE(ReadCommandMessage(R"({"name":"GetAllPrn","body":"x","modelName":"top"})", m));
    EXPECT_EQ(m.body, nullptr);
    EXPECT_EQ(m.modelName, "");
    ASSERT_TRUE(ReadCommandMessage("[1,2]", m));
    EXPECT_EQ(m.name, "");
    EXPECT_FALSE(ReadCommandMessage("{\"name\":", m));
    EXPECT_FALSE(ReadCommandMessage("", m));
}

TEST(EnvelopeTest, ReplySwapsFromAndToAndCarriesTheMessageUpToItsValue) {
    CommandMessage m;
    const std::string value = R"({"from":"s\"v","to":"a","name":"GetAllPrn","body":{"modelName":"m","taskId":"7","callfor":"c"}})";
    ASSERT_TRUE(ReadCommandMessage(value + " trailing", m));
    const std::string reply = FormatReply(m, "[]");
    EXPECT_EQ(reply,
              R"({"type":"cmd","from":"a","to":"s\"v","name":"GetAllPrn>res","body":{"result":[],"modelName":"m","taskId":"7","callfor":"c"},"srcMsg":)" +
                  value + "}");
}

// "srcMsg" is the received message up to the end of its JSON value, byte for
// byte where that is strict JSON; what a lenient reader lets through is put
// in the strict form of the same value, so every reply is JSON to any reader.
TEST(EnvelopeTest, SrcMsgIsAlwaysStrictJson) {
    const struct {
        std::string received, srcMsg;
    } cases[] = {
        {R"({"name":"x","v":[1,-2.5e-3,0,true,null,"\u00e9\"\\\u0000"]})",
         R"({"name":"x","v":[1,-2.5e-3,0,true,null,"\u00e9\"\\\u0000"]})"},  // strict already: unchanged
        {"{\"a\":\"\xE6\xB1\x89\"}", "{\"a\":\"\xE6\xB1\x89\"}"},
        {R"({"a":1} and then some)", R"({"a":1})"},
        {R"(  {"a":1}{"b":2})", R"(  {"a":1})"},
        {"{\"a\":1}\n\xFF\xFE", "{\"a\":1}"},
        // Bytes that are not UTF-8: one U+FFFD each (a stray byte, a cut
        // sequence, an overlong form, a surrogate).
        {"{\"a\":\"x\xFFy\xE6\xB1\"}", "{\"a\":\"x\xEF\xBF\xBDy\xEF\xBF\xBD\xEF\xBF\xBD\"}"},
        {"{\"\xC0\xAF\":\"\xED\xA0\x80\"}",
         "{\"\xEF\xBF\xBD\xEF\xBF\xBD\":\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"}"},
        // Control characters: escaped inside strings, blanks between tokens.
        {"{\"a\":\"x\ty\x01\n\"}", R"({"a":"x\ty\u0001\n"})"},
        {"\x01{\x0B\"a\"\x1F:\x7F" "1}", ""},  // DEL is no blank: not JSON at all
        {"\x01{\x0B\"a\"\x1F:1}", R"( { "a" :1})"},
        // "\u" with four bytes that are not all hex digits reads as U+0000;
        // what follows is read afresh, a quote among it too (found by DispatchFuzz).
        {std::string("{\"a\":\"\\u00\0\xA2" "00\"}", 16), "{\"a\":\"\\u000000\"}"},
        {R"({"a":"\u000\"x"})", R"({"a":"\u0000\"x"})"},
        // Numbers in forms only a lenient reader takes.
        {R"({"a":01,"b":-00.5,"c":1.,"d":2.e3,"e":[007]})", R"({"a":1,"b":-0.5,"c":1.0,"d":2.0e3,"e":[7]})"},
    };
    for (const auto& c : cases) {
        CommandMessage m;
        const bool read = ReadCommandMessage(c.received, m);
        EXPECT_EQ(read, !c.srcMsg.empty()) << c.received;
        if (!read) continue;
        EXPECT_EQ(m.text, c.srcMsg) << c.received;
        EXPECT_TRUE(testing::StrictJson::Valid(FormatReply(m, "{}"))) << c.received;
    }
}

TEST(EnvelopeTest, RegistrationHasItsTabsAndEscapedValues) {
    EXPECT_EQ(FormatRegistration("id", "名\"字", "g", "r"),
              "{\"type\":\"cmd\",\"from\":\"id\",\"to\":\"server\",\"name\":\"wellcome\",\"body\":{\t\"clientTag\":\"\",\t"
              "\"clientType\":\"printer\",\t\"clientName\":\"名\\\"字\",\t\"gsdm\":\"g\",\t\"rydm\":\"r\"}\t\t\t\t\t}");
    JsonPtr parsed = ParseJson(FormatRegistration("a\\b", "x\ny", "", ""));
    ASSERT_NE(parsed, nullptr);
    EXPECT_EQ(GetJsonString(parsed.get(), "from"), "a\\b");
}

TEST(EnvelopeTest, ResultObjects) {
    EXPECT_EQ(SuccessResult(), R"({"errorNo":"0","errorMsg":""})");
    EXPECT_EQ(FailureResult(kParamError), R"({"errorNo":"1","errorMsg":"参数错误！"})");
}

TEST(EnvelopeTest, CaretConvention) {
    EXPECT_EQ(PrinterNameFromWire("^^srv^HP"), "\\\\srv\\HP");
    EXPECT_EQ(PathFromWire("temp^a\\b.jpg"), "temp/a/b.jpg");
    EXPECT_TRUE(PathLeavesBase("a/../../b"));
    EXPECT_TRUE(PathLeavesBase(".."));
    EXPECT_FALSE(PathLeavesBase("a/..b/c.."));
    EXPECT_EQ(ValueToWire("C:\\Agent \"x\""), "C:^Agent \\\"x\\\"");
    // Backslashes of the values become carets; JSON escapes stay escapes.
    EXPECT_EQ(ListingToWire(R"(["\\\\srv\\HP","a\"b\\"])"), R"(["^^srv^HP","a\"b^"])");
    JsonPtr parsed = ParseJson(ListingToWire(R"({"name":"x\\y\"z","n":"\u0001"})"));
    ASSERT_NE(parsed, nullptr);
    EXPECT_EQ(GetJsonString(parsed.get(), "name"), "x^y\"z");
}

TEST(EnvelopeTest, NotificationsUseTheLocalCodePage) {
    SetLocalCodePage("GBK");
    const std::string msg = "{\"a\":\"汉\"}";
    EXPECT_EQ(TcpReceivedTrace(msg), Utf8ToLocal("接收报文\r\n") + msg);
    EXPECT_EQ(TcpSentTrace(msg), Utf8ToLocal("发送报文\r\n" + msg));
    EXPECT_EQ(WsReceivedNotice(msg), Utf8ToLocal("{\"msg_type\":\"ws.recv\",\"msg_body\":" + msg + "}"));
    EXPECT_EQ(WsSentNotice(msg), Utf8ToLocal("{\"msg_type\":\"ws.send\",\"msg_body\":" + msg + "}"));
    EXPECT_EQ(JsonErrorNotice(), Utf8ToLocal("无法解析JSON内容！"));
    EXPECT_EQ(PrintTaskNotice("printer.task.fail", Utf8ToLocal("打印机\"1"), "/p/temp/a.jpg", kNoPrinter),
              Utf8ToLocal("{\"msg_type\":\"printer.task.fail\",\"msg_body\":{\"printerName\":\"打印机\\\"1\","
                          "\"fileName\":\"/p/temp/a.jpg\",\"reason\":\"打印机不存在！\"}}"));
    EXPECT_EQ(PrintStatusNotice("P", "f", "{\"jobs\":[]}"),
              "{\"msg_type\":\"printer.status\",\"msg_body\":{\"printerName\":\"P\",\"fileName\":\"f\",\"status\":{\"jobs\":[]}}}");
    SetLocalCodePage("");
}

}  // namespace
}  // namespace quorvin
