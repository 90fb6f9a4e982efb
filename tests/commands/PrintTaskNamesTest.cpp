// Printer names the private CUPS scheduler cannot hold: network-style names
// (backslashes, sent with "^") and names the spooler refuses to print on.
// The spooler is a stand-in here (CUPS queue names never contain a
// backslash); the download is real, from a loopback HTTP server, and the
// link is a recording one, as the end-to-end tests cover the TCP link.
#include <gtest/gtest.h>

#include "TempDir.h"
#include "commands/CommandDispatcher.h"
#include "commands/PrintTaskRunner.h"
#include "commands/RecordingLink.h"
#include "common/CodePage.h"
#include "fixtures/LoopbackHttpServer.h"
#include "fixtures/TestImages.h"
#include "message/Envelope.h"

namespace quorvin::testing {
namespace {

class PrintTaskNamesTest : public ::testing::Test {
protected:
    void TearDown() override { SetLocalCodePage(""); }

    std::string Command(const std::string& printerOnWire) const {
        return "{\"type\":\"cmd\",\"from\":\"srv\",\"to\":\"me\",\"name\":\"PrintWebJpegImage\",\"body\":{"
               "\"szRemoteURI\":\"" + images.origin() + "/a.jpg\",\"szLocalPath\":\"a.jpg\",\"printerName\":\"" +
               printerOnWire + "\"}}";
    }
    // Dispatches the command on a link over the spooler; the reply.
    std::string Run(const std::string& printerOnWire) {
        RecordingLink link(dir.path(), spooler);
        CPrintTaskRunner runner;
        CCommandDispatcher dispatcher(link);
        dispatcher.SetPrintTaskStarter(runner.Starter());
        const std::string msg = Command(printerOnWire);
        dispatcher.DispatchCommand(msg);
        const std::string reply = link.NextReply();
        notices = link.TaskNotices();
        JsonPtr parsed = ParseJson(reply);
        EXPECT_EQ(GetJsonString(parsed.get(), "name"), "PrintWebJpegImage>res");
        return PrintJson(GetJsonMember(GetJsonMember(parsed.get(), "body"), "result"), false);
    }

    TempDir dir;
    const std::string jpeg = MakeJpeg(40, 30);
    LoopbackHttpServer images{[this](const SeenRequest&, HttpConnection& c) { c.Respond(200, jpeg, "image/jpeg"); }};
    std::shared_ptr<ListedSpooler> spooler = std::make_shared<ListedSpooler>(
        std::vector<std::string>{"Plain", "\\\\print-srv\\Office Laser", "\xE6\x89\x93\xE5\x8D\xB0\xE6\x9C\xBA"});
    std::vector<std::string> notices;
};

TEST_F(PrintTaskNamesTest, ANetworkStyleNameIsFoundAndPrintedAsReceived) {
    EXPECT_EQ(Run("^^PRINT-SRV^office laser"), SuccessResult());
    // The spooler resolves the name as received to its queue.
    EXPECT_EQ(spooler->Submitted(), std::vector<std::string>{"\\\\print-srv\\Office Laser"});
    ASSERT_EQ(notices.size(), 2u);
    // Notices carry the name in caret form again.
    EXPECT_NE(notices[0].find("\"printerName\":\"^^PRINT-SRV^office laser\""), std::string::npos) << notices[0];
}

TEST_F(PrintTaskNamesTest, AChineseNameIsFoundInAnyLocalCodePage) {
    const std::string name = "\xE6\x89\x93\xE5\x8D\xB0\xE6\x9C\xBA";  // 打印机
    // The system's code page first, when it can spell the name (Windows'
    // Western 1252 cannot), then GBK.
    std::vector<std::string> expected;
    if (LocalToUtf8(Utf8ToLocal(name)) == name) {
        EXPECT_EQ(Run(name), SuccessResult());
        expected.push_back(name);
    }
    SetLocalCodePage("GBK");
    EXPECT_EQ(Run(name), SuccessResult());
    expected.push_back(name);
    EXPECT_EQ(spooler->Submitted(), expected);
    // Under GBK the page gets the notices in GBK.
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_NE(notices[1].find(Utf8ToLocal(name)), std::string::npos);
}

TEST_F(PrintTaskNamesTest, ANameThatOnlyStartsLikeAPrinterIsNotOne) {
    EXPECT_EQ(Run("Plai"), FailureResult(kNoPrinter));
    EXPECT_EQ(Run("Plain2"), FailureResult(kNoPrinter));
    EXPECT_EQ(Run(""), FailureResult(kNoPrinter));
    EXPECT_TRUE(spooler->Submitted().empty());
    EXPECT_EQ(images.RequestCount(), 0u);
}

TEST_F(PrintTaskNamesTest, AJobTheSpoolerRefusesIsReportedNotCompleted) {
    spooler->Refuse();
    EXPECT_EQ(Run("plain"), FailureResult(kPrintNotDone));
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_NE(notices[1].find("printer.task.fail"), std::string::npos);
    EXPECT_EQ(spooler->Submitted(), std::vector<std::string>{"Plain"});
}

}  // namespace
}  // namespace quorvin::testing
