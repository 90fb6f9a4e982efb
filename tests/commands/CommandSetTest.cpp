// The command set over each real link: reply texts, reading rules, bad
// input, paths kept inside the program directory, the print task hook.
#include <filesystem>
#include <mutex>

#include "commands/PrintTask.h"
#include "common/CodePage.h"
#include "link/LinkRig.h"

namespace quorvin::testing {
namespace {

namespace fs = std::filesystem;

class CommandSetTest : public AnyLinkTest {
protected:
    std::string Result(const std::string& name, const std::string& body) {
        const std::string msg = Command(name, body);
        const std::string reply = Ask(msg);
        const std::string head = Reply(name, "", msg);  // everything but the result
        const std::string prefix = head.substr(0, head.find("\"result\":") + 9);
        const std::string suffix = head.substr(head.find(",\"modelName\""));
        if (reply.rfind(prefix, 0) != 0 || reply.size() < prefix.size() + suffix.size() ||
            reply.compare(reply.size() - suffix.size(), suffix.size(), suffix) != 0) {
            return "<bad reply> " + reply;
        }
        return reply.substr(prefix.size(), reply.size() - prefix.size() - suffix.size());
    }
    const std::string kOk = SuccessResult();
    const std::string kBadParam = FailureResult(kParamError);
    const std::string kFailed = FailureResult(kCallFailed);
};

TEST_P(CommandSetTest, GetCurrentDirAnswersTheProgramDirectory) {
    const std::string msg = Command("GetCurrentDir");
    EXPECT_EQ(Ask(msg), Reply("GetCurrentDir", "{\"dir\":\"" + dir.path() + "\"}", msg));
    EXPECT_EQ(Result("getcurrentdir", "{}"), "{\"dir\":\"" + dir.path() + "\"}");
}

TEST_P(CommandSetTest, RepliesEchoTheEnvelope) {
    const std::string msg =
        "{\"type\":\"x\",\"from\":\"s\\\"1\",\"to\":\"a\",\"name\":\"GetCurrentDir\",\"body\":{\"MODELNAME\":\"m\","
        "\"taskId\":\"42\",\"callfor\":\"c\\\\d\"}}";
    EXPECT_EQ(Ask(msg), "{\"type\":\"cmd\",\"from\":\"a\",\"to\":\"s\\\"1\",\"name\":\"GetCurrentDir>res\",\"body\":"
                        "{\"result\":{\"dir\":\"" + dir.path() + "\"},\"modelName\":\"m\",\"taskId\":\"42\","
                        "\"callfor\":\"c\\\\d\"},\"srcMsg\":" + msg + "}");
    // Only a name, JSON followed by garbage: empty echoes, srcMsg up to the
    // end of the JSON value, so the reply stays JSON.
    const std::string bare = "{\"name\":\"GetCurrentDir\"}";
    EXPECT_EQ(Ask(bare + " and then some"),
              "{\"type\":\"cmd\",\"from\":\"\",\"to\":\"\",\"name\":\"GetCurrentDir>res\",\"body\":"
              "{\"result\":{\"dir\":\"" + dir.path() + "\"},\"modelName\":\"\",\"taskId\":\"\","
              "\"callfor\":\"\"},\"srcMsg\":" + bare + "}");
    // Bytes that are not UTF-8 come back as U+FFFD, in srcMsg and in the
    // echoes. (A WebSocket text message is UTF-8 by its protocol.)
    if (GetParam() != LinkKind::Tcp) return;
    const std::string fffd = "\xEF\xBF\xBD";
    EXPECT_EQ(Ask("{\"name\":\"GetCurrentDir\",\"from\":\"\xC3(\",\"body\":{\"taskId\":\"\xFF\"}}"),
              "{\"type\":\"cmd\",\"from\":\"\",\"to\":\"" + fffd + "(\",\"name\":\"GetCurrentDir>res\",\"body\":"
              "{\"result\":{\"dir\":\"" + dir.path() + "\"},\"modelName\":\"\",\"taskId\":\"" + fffd + "\","
              "\"callfor\":\"\"},\"srcMsg\":{\"name\":\"GetCurrentDir\",\"from\":\"" + fffd + "(\",\"body\":{\"taskId\":\"" +
              fffd + "\"}}}");
}

TEST_P(CommandSetTest, BadInputGetsNoReplyAndTheLinkStaysUp) {
    const std::string getDir = Command("GetCurrentDir");
    for (const std::string& bad : {std::string("not json"), std::string("{\"name\":\"GetCurrentDir\""),
                                  std::string("[\"GetCurrentDir\"]"), std::string("\"GetCurrentDir\""),
                                  Command("NoSuchCommand"), Command("wellcome>res"), Command("wellcome"),
                                  std::string("{\"name\":5,\"body\":{}}")}) {
        ASSERT_TRUE(rig->SendMessage(bad));
    }
    // The next reply is the one for the command after them.
    EXPECT_EQ(Ask(getDir), Reply("GetCurrentDir", "{\"dir\":\"" + dir.path() + "\"}", getDir));
    const std::string unparsable = Utf8ToLocal("无法解析JSON内容！");  // the page's texts are in the local code page
    EXPECT_TRUE(window.WaitFor([&](const std::vector<std::string>& all) {
        return std::count(all.begin(), all.end(), unparsable) == 2;
    }));
    EXPECT_TRUE(rig->IsConnected());
}

TEST_P(CommandSetTest, MakeDirCreatesInsideTheProgramDirectoryOnly) {
    EXPECT_EQ(Result("MakeDir", R"({"mDirName":"a^b\\c"})"), kOk);
    EXPECT_TRUE(fs::is_directory(dir / "a/b/c"));
    EXPECT_EQ(Result("MakeDir", R"({"mDirName":""})"), kBadParam);
    EXPECT_EQ(Result("MakeDir", R"({"mDirName":7})"), kBadParam);
    EXPECT_EQ(Result("MakeDir", R"({"mDirName":"x^..^..^escaped"})"), kBadParam);
    EXPECT_FALSE(fs::exists(fs::path(dir.path()).parent_path() / "escaped"));
    EXPECT_FALSE(fs::exists(dir / "x"));
    // A file where the directory should be: it does not exist afterwards.
    WriteBytes(dir / "plain", "x");
    EXPECT_EQ(Result("MakeDir", R"({"mDirName":"plain^sub"})"), kFailed);
}

TEST_P(CommandSetTest, ExitQuorvinRepliesThenClosesTheWindow) {
    EXPECT_EQ(Result("ExitQuorvin", "{}"), "{}");
    EXPECT_TRUE(window.WaitForClose());
}

TEST_P(CommandSetTest, PrintWebJpegImageWithoutATaskProcedureFails) {
    EXPECT_EQ(Result("PrintWebJpegImage", R"({"szLocalPath":"temp^a.jpg","printerName":"PDF"})"), kFailed);
}

TEST_P(CommandSetTest, PrintWebJpegImageHandsTheTaskOver) {
    std::mutex mutex;
    std::vector<std::unique_ptr<PRINT_TASK>> started;
    bool accept = true;
    rig->SetPrintTaskStarter([&](std::unique_ptr<PRINT_TASK> task) {
        std::lock_guard<std::mutex> lock(mutex);
        if (!accept) return false;
        started.push_back(std::move(task));
        return true;
    });
    const std::string msg = Command("PrintWebJpegImage",
                                    R"({"szRemoteURI":"http://127.0.0.1/x.jpg","szLocalPath":"temp^a.jpg","printerName":"^^srv^打印机"})");
    ASSERT_TRUE(rig->SendMessage(msg));
    // No immediate reply: the next one answers the command after it.
    EXPECT_EQ(Result("GetCurrentDir", "{}"), "{\"dir\":\"" + dir.path() + "\"}");
    {
        std::lock_guard<std::mutex> lock(mutex);
        ASSERT_EQ(started.size(), 1u);
        const PRINT_TASK& t = *started[0];
        EXPECT_EQ(t.link, &rig->Link());
        EXPECT_EQ(t.message, msg);
        EXPECT_EQ(t.job->strPrinterName, Utf8ToLocal("\\\\srv\\打印机"));
        EXPECT_EQ(t.job->strLocalFile, dir / "temp/a.jpg");
        EXPECT_EQ(t.job->strFileName, dir / "temp/a.jpg");
        EXPECT_TRUE(t.job->hJobEvent.IsSet());
    }
    // A path out of the program directory is refused before any task.
    EXPECT_EQ(Result("PrintWebJpegImage", R"({"szLocalPath":"..^a.jpg","printerName":"P"})"), kBadParam);
    {
        std::lock_guard<std::mutex> lock(mutex);
        EXPECT_EQ(started.size(), 1u);
        accept = false;
    }
    EXPECT_EQ(Result("PrintWebJpegImage", R"({"szLocalPath":"a.jpg","printerName":"P"})"), kFailed);
}

QUORVIN_ON_BOTH_LINKS(CommandSetTest);

}  // namespace
}  // namespace quorvin::testing
