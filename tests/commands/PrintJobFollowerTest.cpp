// A WebSocket print task following its job: the job's own state ends the
// following, whatever the queue listing shows and however soon it ends.
// The spooler is a stand-in (job states on demand, including a spooler
// that stops answering); the download is real.
#include <gtest/gtest.h>

#include "TempDir.h"
#include "commands/CommandDispatcher.h"
#include "commands/PrintTaskRunner.h"
#include "commands/RecordingLink.h"
#include "fixtures/LoopbackHttpServer.h"
#include "fixtures/TestImages.h"
#include "message/Envelope.h"

namespace quorvin::testing {
namespace {

class PrintJobFollowerTest : public ::testing::Test {
protected:
    // Runs one task on a WebSocket-kind link; its reply's result. The task's
    // page notices land in notices.
    std::string Run(const PrintTaskOptions& options, const std::function<void(RecordingLink&)>& meanwhile = {}) {
        RecordingLink link(dir.path(), spooler, LinkKind::WebSocket);
        CPrintTaskRunner runner(options);
        CCommandDispatcher dispatcher(link);
        dispatcher.SetPrintTaskStarter(runner.Starter());
        dispatcher.DispatchCommand(
            "{\"name\":\"PrintWebJpegImage\",\"body\":{\"szRemoteURI\":\"" + images.origin() +
            "/a.jpg\",\"szLocalPath\":\"a.jpg\",\"printerName\":\"Plain\"}}");
        if (meanwhile) meanwhile(link);
        const std::string reply = link.NextReply();
        notices = link.TaskNotices();
        JsonPtr parsed = ParseJson(reply);
        return PrintJson(GetJsonMember(GetJsonMember(parsed.get(), "body"), "result"), false);
    }
    std::size_t Count(const char* type) const {
        return std::count_if(notices.begin(), notices.end(),
                             [&](const std::string& n) { return n.find(type) != std::string::npos; });
    }

    TempDir dir;
    const std::string jpeg = MakeJpeg(40, 30);
    LoopbackHttpServer images{[this](const SeenRequest&, HttpConnection& c) { c.Respond(200, jpeg, "image/jpeg"); }};
    std::shared_ptr<ListedSpooler> spooler = std::make_shared<ListedSpooler>(std::vector<std::string>{"Plain"});
    std::vector<std::string> notices;
};

TEST_F(PrintJobFollowerTest, TheJobStateDecidesAtEachLook) {
    struct Case {
        const char* what;
        SpoolStatus status;
        int state;
        int lookMs, followMs;
        std::string result;
        std::size_t minLooks;
    };
    // Looks far apart: an answer needing a second look would not come in time.
    const Case cases[] = {
        {"gone before the first look", SpoolStatus::Ok, 9, 60000, 120000, SuccessResult(), 1},
        {"cancelled", SpoolStatus::Ok, 7, 60000, 120000, FailureResult(kPrintNotDone), 1},
        {"aborted", SpoolStatus::Ok, 8, 60000, 120000, FailureResult(kPrintNotDone), 1},
        {"vanished", SpoolStatus::NotFound, 0, 60000, 120000, FailureResult(kPrintNotDone), 1},
        {"spooler silent past the bound", SpoolStatus::Unreachable, 0, 30, 300, FailureResult(kPrintNotDone), 2},
        {"still printing past the bound", SpoolStatus::Ok, 5, 30, 300, FailureResult(kPrintNotDone), 2},
    };
    for (const Case& c : cases) {
        spooler->SetJobs(c.status, c.state);
        PrintTaskOptions options;
        options.jobLookMs = c.lookMs;
        options.jobFollowMs = c.followMs;
        EXPECT_EQ(Run(options), c.result) << c.what;
        ASSERT_GE(notices.size(), 3u) << c.what;
        EXPECT_NE(notices.front().find("printer.task.begin"), std::string::npos) << c.what;
        EXPECT_NE(notices.back().find(c.result == SuccessResult() ? "printer.task.success" : "printer.task.fail"),
                  std::string::npos)
            << c.what;
        EXPECT_GE(Count("\"printer.status\""), c.minLooks) << c.what;
        EXPECT_EQ(Count("\"printer.status\"") + 2, notices.size()) << c.what;
    }
}

TEST_F(PrintJobFollowerTest, AnEndedLinkStopsTheFollowingAtOnce) {
    spooler->SetJobs(SpoolStatus::Ok, 3);  // pending for good
    PrintTaskOptions options;
    options.jobLookMs = 60000;
    EXPECT_EQ(Run(options,
                  [](RecordingLink& link) {
                      // After the first look, while the task waits for the next.
                      for (int i = 0; i < 500 && link.TaskNotices().size() < 2; ++i) Delay(10);
                      link.m_cancel->Set();
                  }),
              FailureResult(kPrintNotDone));
    EXPECT_EQ(Count("\"printer.status\""), 1u);
}

}  // namespace
}  // namespace quorvin::testing
