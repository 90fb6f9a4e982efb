// Faults injected around the real print task and printer commands, over
// both links: a scheduler that hangs, image servers that misbehave. Each
// case checks the answer (reply and page notices), the one line on stderr
// that explains it, that the link still serves, and that nothing
// half-written is left under the download's name.
#include "commands/PrintTaskRig.h"
#include "fixtures/StderrCapture.h"

namespace quorvin::testing {
namespace {

class PrintFaultsTest : public PrintTaskTest {
protected:
    PrintFaultsTest() { downloadWaitMs = 2000; }

    bool NoTemporaries() const {
        const std::vector<std::string> files = TempFiles();
        return std::none_of(files.begin(), files.end(),
                            [](const std::string& f) { return f.find(".tmp") != std::string::npos; });
    }
    // Failure lines only: the link's own line about its connection may
    // reach stderr a moment after the registration reached the server.
    static int Failures(const StderrCapture& err) { return err.Count("quorvin: ") - err.Count(" link: "); }
};

TEST_P(PrintFaultsTest, ListingsAnswerCallFailedWhileTheSchedulerHangs) {
    {
        StoppedScheduler hung(cups);
        ASSERT_TRUE(hung.Stopped());
        StderrCapture err;
        for (const char* name : {"GetAllPrn", "GetDefaultPrn", "GetDefaultPrnAndPaper"}) {
            const std::string msg = AnyLinkTest::Command(name);
            EXPECT_EQ(Ask(msg, 30000), AnyLinkTest::Reply(name, FailureResult(kCallFailed), msg)) << name;
        }
        // The lines reach the capture on its own thread: wait for them. (The
        // reason is the scheduler's silence, "no answer from ... within 5000
        // ms", unless the machine drops the connection first.)
        EXPECT_TRUE(err.WaitFor("quorvin: cups: list printers: ")) << err.Text();
        EXPECT_TRUE(err.WaitFor("quorvin: cups: default printer: ", 5000, 2)) << err.Text();
        EXPECT_EQ(Failures(err), 3) << err.Text();
    }
    // Going again, the scheduler is asked again on the same link (it may
    // first clear what piled up while it was stopped).
    ExpectTheLinkServes();
    std::string reply;
    for (int i = 0; i < 6 && reply.find("\"" + cups.pdfQueue + "\"") == std::string::npos; ++i)
        reply = Ask(AnyLinkTest::Command("GetAllPrn"), 30000);
    EXPECT_NE(reply.find("\"" + cups.pdfQueue + "\""), std::string::npos) << reply;
}

TEST_P(PrintFaultsTest, ASchedulerThatHangsDuringAPrintFailsThatTaskAlone) {
    const std::string msg = Command(images.origin() + "/img/gated-hang", "temp^h.jpg", cups.pdfQueue);
    ASSERT_TRUE(rig->SendMessage(msg));
    ASSERT_TRUE(WaitForGated(1));  // the printer was found; the image is on its way
    StoppedScheduler hung(cups);
    ASSERT_TRUE(hung.Stopped());
    StderrCapture err;
    OpenGate("/img/gated-hang");
    EXPECT_EQ(rig->ReadMessage(60000).value_or("<no reply>"), Reply(FailureResult(kPrintNotDone), msg));
    const std::string file = LocalName("temp/h.jpg");
    EXPECT_EQ(TaskNotices(), (std::vector<std::string>{
                                 PrintTaskNotice("printer.task.begin", cups.pdfQueue, file),
                                 PrintTaskNotice("printer.task.fail", cups.pdfQueue, file, kPrintNotDone),
                             }));
    EXPECT_TRUE(err.WaitFor("quorvin: cups: printer " + cups.pdfQueue + ": no answer from ")) << err.Text();
    EXPECT_EQ(Failures(err), 1) << err.Text();
    // The download was whole and stays; nothing else is left.
    EXPECT_TRUE(ReadBytes(file) == jpeg);
    EXPECT_EQ(TempFiles(), std::vector<std::string>{"h.jpg"});
    hung.Resume();
    ExpectTheLinkServes();
}

TEST_P(PrintFaultsTest, MisbehavingImageServersFailTheTaskAndLeaveNoPartialFile) {
    const struct {
        const char* path;
        const char* reason;
        const char* why;  // in the stderr line
    } cases[] = {
        {"/img/stall.jpg", kDownloadFailed, "Operation timed out after "},
        {"/img/endless.jpg", kDownloadFailed, "Operation timed out after "},
        {"/img/loop.jpg", kDownloadFailed, "Maximum (10) redirects followed"},
        {"/img/cut.jpg", kDownloadFailed, "transfer closed with"},
        {"/img/half.jpg", kPrintNotDone, "cut short"},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string id = "f" + std::to_string(n++);
        const std::string uri = images.origin() + c.path;
        const std::string file = LocalName("temp/" + id + ".jpg");
        const std::string msg = Command(uri, "temp^" + id + ".jpg", cups.pdfQueue, id);
        const std::size_t seen = TaskNotices().size();
        StderrCapture err;
        ASSERT_TRUE(rig->SendMessage(msg));
        EXPECT_EQ(rig->ReadMessage(30000).value_or("<no reply>"), Reply(FailureResult(c.reason), msg, id)) << c.path;

        const bool downloadFailed = c.reason == std::string(kDownloadFailed);
        const std::vector<std::string> notices = TaskNotices();
        EXPECT_EQ(std::vector<std::string>(notices.begin() + static_cast<std::ptrdiff_t>(std::min(seen, notices.size())),
                                           notices.end()),
                  (std::vector<std::string>{
                      PrintTaskNotice("printer.task.begin", cups.pdfQueue, file),
                      PrintTaskNotice("printer.task.fail", cups.pdfQueue, downloadFailed ? uri : file, c.reason),
                  }))
            << c.path;
        const std::string line = downloadFailed ? "quorvin: download: " + uri + ": " + c.why
                                                : "quorvin: print: " + file + " on " + cups.pdfQueue + ": " + c.why;
        EXPECT_TRUE(err.WaitFor(line)) << err.Text();
        EXPECT_EQ(Failures(err), 1) << err.Text();
        if (downloadFailed) {
            EXPECT_FALSE(std::filesystem::exists(file)) << c.path;
        } else {
            EXPECT_TRUE(ReadBytes(file) == jpeg.substr(0, jpeg.size() / 2)) << c.path;
        }
        EXPECT_TRUE(NoTemporaries()) << c.path;
        ExpectTheLinkServes();
    }
}

QUORVIN_ON_BOTH_LINKS(PrintFaultsTest);

}  // namespace
}  // namespace quorvin::testing
