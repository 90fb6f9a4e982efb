// PrintWebJpegImage end to end: a server on either link sends the command,
// the image comes from an HTTP server on loopback, and the private CUPS
// scheduler of the "cups" fixture prints it into a PDF.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

#include "commands/CupsLinkTest.h"
#include "commands/PrintTaskRunner.h"
#include "fixtures/LoopbackHttpServer.h"
#include "fixtures/TestImages.h"

namespace quorvin::testing {
namespace {

namespace fs = std::filesystem;

class PrintTaskTest : public CupsLinkTest {
protected:
    void BeforeConnect() override {
        ASSERT_FALSE(jpeg.empty());
        PrintTaskOptions options;
        options.jobLookMs = 200;  // the WebSocket link's tasks follow their jobs
        runner = std::make_unique<CPrintTaskRunner>(options);
        rig->SetPrintTaskStarter(runner->Starter());
    }
    void TearDown() override {
        // The tasks end before the link they answer on.
        runner.reset();
        CupsLinkTest::TearDown();
    }

    std::string Command(const std::string& uri, const std::string& localPath, const std::string& printer,
                        const std::string& taskId = "t1") {
        return "{\"type\":\"cmd\",\"from\":\"srv\",\"to\":\"agent-1\",\"name\":\"PrintWebJpegImage\","
               "\"body\":{\"szRemoteURI\":\"" + uri + "\",\"szLocalPath\":\"" + localPath +
               "\",\"printerName\":\"" + printer + "\",\"modelName\":\"m\",\"taskId\":\"" + taskId +
               "\",\"callfor\":\"c\"}}";
    }
    static std::string Reply(const std::string& result, const std::string& src, const std::string& taskId = "t1") {
        return "{\"type\":\"cmd\",\"from\":\"agent-1\",\"to\":\"srv\",\"name\":\"PrintWebJpegImage>res\","
               "\"body\":{\"result\":" + result + ",\"modelName\":\"m\",\"taskId\":\"" + taskId +
               "\",\"callfor\":\"c\"},\"srcMsg\":" + src + "}";
    }
    // The print task notices the page got, in order (without the job
    // status the WebSocket link's tasks add while they follow the job).
    std::vector<std::string> TaskNotices() const {
        std::vector<std::string> notices;
        for (const std::string& n : window.Notifications())
            if (n.rfind("{\"msg_type\":\"printer.task.", 0) == 0) notices.push_back(n);
        return notices;
    }
    std::string LocalName(const std::string& relative) const { return dir.path() + "/" + relative; }
    std::vector<fs::path> Pdfs() const {
        std::vector<fs::path> pdfs;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(cups.pdfOut, ec))
            if (e.path().extension() == ".pdf") pdfs.push_back(e.path());
        return pdfs;
    }
    // Waits (bounded) until cups-pdf has written more PDFs than before. The
    // scheduler converts one job at a time, about two seconds each on an
    // idle machine and much longer on a loaded one.
    std::vector<fs::path> WaitForPdfs(std::size_t before, std::size_t more) const {
        std::vector<fs::path> pdfs;
        for (int i = 0; i < 900; ++i) {
            pdfs = Pdfs();
            if (pdfs.size() >= before + more) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return pdfs;
    }

    const std::string jpeg = MakeJpeg(320, 240);
    LoopbackHttpServer images{[this](const SeenRequest& request, HttpConnection& c) {
        if (request.target == "/img/slow.jpg") {
            c.Hold(1500);
            c.Respond(200, jpeg, "image/jpeg");
        } else if (request.target.rfind("/img/ok", 0) == 0) {
            c.Respond(200, jpeg, "image/jpeg");
        } else if (request.target == "/img/text.jpg") {
            c.Respond(200, "this is not an image at all", "image/jpeg");
        } else {
            c.Respond(404, "<html>Not Found</html>", "text/html");
        }
    }};
    std::unique_ptr<CPrintTaskRunner> runner;
};

TEST_P(PrintTaskTest, AnImageIsDownloadedPrintedAndAnswered) {
    const std::vector<fs::path> earlier = Pdfs();
    const std::size_t before = earlier.size();
    // The printer name differs from the queue's in letter case only.
    std::string printer = cups.pdfQueue;
    for (char& c : printer) c = static_cast<char>(std::islower(static_cast<unsigned char>(c)) ? std::toupper(c) : std::tolower(c));
    const std::string msg = Command(images.origin() + "/img/ok.jpg?v=1", "temp^ok.jpg", printer);
    ASSERT_TRUE(rig->SendMessage(msg));
    EXPECT_EQ(rig->ReadMessage(30000).value_or("<no reply>"), Reply(SuccessResult(), msg));

    const std::string file = LocalName("temp/ok.jpg");
    EXPECT_TRUE(ReadBytes(file) == jpeg);
    EXPECT_EQ(TaskNotices(), (std::vector<std::string>{
                                 PrintTaskNotice("printer.task.begin", printer, file),
                                 PrintTaskNotice("printer.task.success", printer, file),
                             }));
    ASSERT_EQ(images.RequestCount(), 1u);
    EXPECT_EQ(images.Requests()[0].target, "/img/ok.jpg?v=1");

    const std::vector<fs::path> pdfs = WaitForPdfs(before, 1);
    ASSERT_EQ(pdfs.size(), before + 1) << "no PDF from cups-pdf in " << cups.pdfOut;
    fs::path pdf;
    for (const fs::path& p : pdfs)
        if (std::find(earlier.begin(), earlier.end(), p) == earlier.end()) pdf = p;
    ASSERT_FALSE(pdf.empty());
    // cups-pdf names the file before it has finished writing it.
    std::string info;
    int status = -1;
    for (int i = 0; i < 50 && (status = RunCommand("pdfinfo " + ShellQuote(pdf.string()) + " 2>&1", &info)) != 0;
         ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_EQ(status, 0) << info;
    const std::size_t pages = info.find("Pages:");
    ASSERT_NE(pages, std::string::npos) << info;
    EXPECT_EQ(std::stoi(info.substr(pages + 6)), 1) << info;
    // The page carries the picture.
    std::string pictures;
    ASSERT_EQ(RunCommand("pdfimages -list " + ShellQuote(pdf.string()) + " 2>&1", &pictures), 0);
    EXPECT_NE(pictures.find("image"), std::string::npos) << pictures;
}

TEST_P(PrintTaskTest, AnUnknownPrinterIsReportedWithoutADownload) {
    const std::string msg = Command(images.origin() + "/img/ok.jpg", "temp^x.jpg", "NoSuchQueue");
    ASSERT_TRUE(rig->SendMessage(msg));
    EXPECT_EQ(rig->ReadMessage(30000).value_or("<no reply>"), Reply(FailureResult(kNoPrinter), msg));
    const std::string file = LocalName("temp/x.jpg");
    EXPECT_EQ(TaskNotices(), (std::vector<std::string>{
                                 PrintTaskNotice("printer.task.begin", "NoSuchQueue", file),
                                 PrintTaskNotice("printer.task.fail", "NoSuchQueue", file, kNoPrinter),
                             }));
    EXPECT_EQ(images.RequestCount(), 0u);
    EXPECT_FALSE(fs::exists(file));
}

TEST_P(PrintTaskTest, AFailedDownloadNamesTheRemoteAddress) {
    const std::string uri = images.origin() + "/img/missing.jpg";
    const std::string msg = Command(uri, "temp^m.jpg", cups.pdfQueue);
    ASSERT_TRUE(rig->SendMessage(msg));
    EXPECT_EQ(rig->ReadMessage(30000).value_or("<no reply>"), Reply(FailureResult(kDownloadFailed), msg));
    const std::string file = LocalName("temp/m.jpg");
    EXPECT_EQ(TaskNotices(), (std::vector<std::string>{
                                 PrintTaskNotice("printer.task.begin", cups.pdfQueue, file),
                                 PrintTaskNotice("printer.task.fail", cups.pdfQueue, uri, kDownloadFailed),
                             }));
    // The error page is not kept as the image.
    EXPECT_FALSE(fs::exists(file));
}

TEST_P(PrintTaskTest, AnAddressWithoutPathOrServerFailsTheDownload) {
    for (const std::string& uri : {std::string("127.0.0.1"), std::string("http://127.0.0.1"), std::string("")}) {
        const std::string msg = Command(uri, "temp^n.jpg", cups.pdfQueue);
        ASSERT_TRUE(rig->SendMessage(msg));
        EXPECT_EQ(rig->ReadMessage(30000).value_or("<no reply>"), Reply(FailureResult(kDownloadFailed), msg)) << uri;
    }
    EXPECT_FALSE(fs::exists(LocalName("temp/n.jpg")));
}

TEST_P(PrintTaskTest, AnImageThatCannotBeDecodedIsNotReportedPrinted) {
    const std::size_t before = Pdfs().size();
    const std::string msg = Command(images.origin() + "/img/text.jpg", "temp^t.jpg", cups.pdfQueue);
    ASSERT_TRUE(rig->SendMessage(msg));
    EXPECT_EQ(rig->ReadMessage(30000).value_or("<no reply>"), Reply(FailureResult(kPrintNotDone), msg));
    const std::string file = LocalName("temp/t.jpg");
    EXPECT_EQ(TaskNotices(), (std::vector<std::string>{
                                 PrintTaskNotice("printer.task.begin", cups.pdfQueue, file),
                                 PrintTaskNotice("printer.task.fail", cups.pdfQueue, file, kPrintNotDone),
                             }));
    EXPECT_EQ(ReadBytes(file), "this is not an image at all");
    EXPECT_EQ(Pdfs().size(), before);
}

TEST_P(PrintTaskTest, APathOutOfTheProgramDirectoryIsRefusedBeforeAnything) {
    for (const char* path : {"..^evil.jpg", "temp^..^..^evil.jpg", "../evil.jpg"}) {
        const std::string msg = Command(images.origin() + "/img/ok.jpg", path, cups.pdfQueue);
        ASSERT_TRUE(rig->SendMessage(msg));
        EXPECT_EQ(rig->ReadMessage(30000).value_or("<no reply>"), Reply(FailureResult(kParamError), msg)) << path;
    }
    EXPECT_EQ(images.RequestCount(), 0u);
    EXPECT_TRUE(TaskNotices().empty());
    EXPECT_FALSE(fs::exists(fs::path(dir.path()).parent_path() / "evil.jpg"));
}

TEST_P(PrintTaskTest, ASlowDownloadDoesNotHoldBackALaterTask) {
    const std::string slow = Command(images.origin() + "/img/slow.jpg", "temp^slow.jpg", cups.pdfQueue, "slow");
    const std::string fast = Command(images.origin() + "/img/ok.jpg", "temp^fast.jpg", cups.pdfQueue, "fast");
    ASSERT_TRUE(rig->SendMessage(slow));
    ASSERT_TRUE(rig->SendMessage(fast));
    EXPECT_EQ(rig->ReadMessage(30000).value_or("<no reply>"), Reply(SuccessResult(), fast, "fast"));
    EXPECT_EQ(rig->ReadMessage(30000).value_or("<no reply>"), Reply(SuccessResult(), slow, "slow"));
}

// The task still downloads and prints; only a task following its job (the
// WebSocket link's) stops following it, unsure whether it printed.
TEST_P(PrintTaskTest, AStoppedLinkLeavesItsTasksRunning) {
    const std::string msg = Command(images.origin() + "/img/slow.jpg", "temp^s.jpg", cups.pdfQueue);
    ASSERT_TRUE(rig->SendMessage(msg));
    const std::string file = LocalName("temp/s.jpg");
    const std::string begin = PrintTaskNotice("printer.task.begin", cups.pdfQueue, file);
    const std::string end = GetParam() == LinkKind::Tcp
                                ? PrintTaskNotice("printer.task.success", cups.pdfQueue, file)
                                : PrintTaskNotice("printer.task.fail", cups.pdfQueue, file, kPrintNotDone);
    ASSERT_TRUE(NotifiedWith(begin, 10000));
    rig->Stop();
    EXPECT_TRUE(NotifiedWith(end, 30000));
    EXPECT_TRUE(ReadBytes(file) == jpeg);
}

TEST_P(PrintTaskTest, TenTasksAtOnceAllGetTheirOwnReply) {
    const std::size_t before = Pdfs().size();
    std::map<std::string, std::string> sent;  // taskId -> message
    for (int i = 0; i < 10; ++i) {
        const std::string id = "task-" + std::to_string(i);
        const std::string msg =
            Command(images.origin() + "/img/ok" + std::to_string(i) + ".jpg", "temp^p" + std::to_string(i) + ".jpg",
                    cups.pdfQueue, id);
        sent[id] = msg;
        ASSERT_TRUE(rig->SendMessage(msg));
    }
    std::set<std::string> answered;
    for (int i = 0; i < 10; ++i) {
        const std::string reply = rig->ReadMessage(60000).value_or("");
        ASSERT_FALSE(reply.empty()) << "only " << i << " replies";
        JsonPtr parsed = ParseJson(reply);
        const std::string id = GetJsonString(GetJsonMember(parsed.get(), "body"), "taskId");
        ASSERT_EQ(sent.count(id), 1u) << reply;
        EXPECT_EQ(reply, Reply(SuccessResult(), sent[id], id));
        answered.insert(id);
    }
    EXPECT_EQ(answered.size(), 10u);
    for (int i = 0; i < 10; ++i) EXPECT_TRUE(ReadBytes(LocalName("temp/p" + std::to_string(i) + ".jpg")) == jpeg) << i;
    EXPECT_EQ(WaitForPdfs(before, 10).size(), before + 10);
}

QUORVIN_ON_BOTH_LINKS(PrintTaskTest);

// The WebSocket link's tasks answer once their job has left the queue.
using FollowedPrintTaskTest = PrintTaskTest;

TEST_P(FollowedPrintTaskTest, AJobHeldInAStoppedQueueIsAnsweredOnceItPrinted) {
    ASSERT_EQ(RunCommand("cupsdisable " + ShellQuote(cups.pdfQueue)), 0);
    const std::string msg = Command(images.origin() + "/img/ok.jpg", "temp^held.jpg", cups.pdfQueue);
    ASSERT_TRUE(rig->SendMessage(msg));
    const std::string listed = "\"filename\":\"" + LocalName("temp/held.jpg") + "\"";
    auto isStatus = [](const std::string& n) { return n.rfind("{\"msg_type\":\"printer.status\"", 0) == 0; };
    // Held: the looks list the job, and no answer comes.
    ASSERT_TRUE(window.WaitFor(
        [&](const std::vector<std::string>& all) {
            return std::any_of(all.begin(), all.end(),
                               [&](const std::string& n) { return isStatus(n) && n.find(listed) != std::string::npos; });
        },
        30000));
    ASSERT_EQ(RunCommand("cupsenable " + ShellQuote(cups.pdfQueue)), 0);
    EXPECT_EQ(rig->ReadMessage(60000).value_or("<no reply>"), Reply(SuccessResult(), msg));

    std::vector<std::string> seen;
    for (const std::string& n : window.Notifications())
        if (n.rfind("{\"msg_type\":\"printer.", 0) == 0) seen.push_back(n);
    ASSERT_GE(seen.size(), 4u);
    EXPECT_NE(seen.front().find("printer.task.begin"), std::string::npos);
    EXPECT_NE(seen.back().find("printer.task.success"), std::string::npos);
    // The look that ended the following no longer lists the job.
    const std::string& last = seen[seen.size() - 2];
    EXPECT_TRUE(isStatus(last)) << last;
    EXPECT_EQ(last.find(listed), std::string::npos) << last;
}

INSTANTIATE_TEST_SUITE_P(Links, FollowedPrintTaskTest, ::testing::Values(LinkKind::WebSocket), LinkName);

}  // namespace
}  // namespace quorvin::testing
