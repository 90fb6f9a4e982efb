// PrintWebJpegImage end to end over both links (commands/PrintTaskRig.h).
#include <map>

#include "commands/PrintTaskRig.h"

namespace quorvin::testing {
namespace {

namespace fs = std::filesystem;

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

// Six tasks at once: four download (and decode and submit), two wait and
// are let in one by one in the order they came, as turns are given back.
TEST_P(PrintTaskTest, AtMostFourTasksDownloadAtOnceTheRestInArrivalOrder) {
    std::vector<std::string> sent;
    for (int i = 0; i < 6; ++i) {
        sent.push_back(Command(images.origin() + "/img/gated-" + std::to_string(i), "temp^g" + std::to_string(i) + ".jpg",
                               cups.pdfQueue, "g" + std::to_string(i)));
        ASSERT_TRUE(rig->SendMessage(sent.back()));
    }
    ASSERT_TRUE(WaitForGated(4));
    // All six have begun; two stand in line.
    for (int i = 0; i < 300 && runner->Waiting() != 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(runner->Waiting(), 2);
    std::vector<std::string> first = Gated();
    std::sort(first.begin(), first.end());
    EXPECT_EQ(first, (std::vector<std::string>{"/img/gated-0", "/img/gated-1", "/img/gated-2", "/img/gated-3"}));

    // Each turn given back lets the next task in line download.
    for (int i = 0; i < 6; ++i) {
        OpenGate("/img/gated-" + std::to_string(i));
        const std::string reply = rig->ReadMessage(60000).value_or("<no reply>");
        EXPECT_EQ(reply, Reply(SuccessResult(), sent[i], "g" + std::to_string(i)));
        if (i + 4 < 6) {
            ASSERT_TRUE(WaitForGated(i + 5));
            EXPECT_EQ(Gated()[i + 4], "/img/gated-" + std::to_string(i + 4));
        }
    }
    EXPECT_EQ(MostGatedAtOnce(), 4);
    EXPECT_EQ(runner->Waiting(), 0);
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

// Four tasks whose jobs are held in a stopped queue follow them; a fifth
// still downloads and submits meanwhile.
TEST_P(FollowedPrintTaskTest, ATaskFollowingItsJobHoldsNoTurn) {
    ASSERT_EQ(RunCommand("cupsdisable " + ShellQuote(cups.pdfQueue)), 0);
    std::vector<std::string> sent;
    auto send = [&](int i) {
        sent.push_back(Command(images.origin() + "/img/ok-" + std::to_string(i) + ".jpg",
                               "temp^f" + std::to_string(i) + ".jpg", cups.pdfQueue, "f" + std::to_string(i)));
        return rig->SendMessage(sent.back());
    };
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(send(i));
    // Every one of them has been submitted and is being followed.
    auto listedHeld = [&](int n) {
        return window.WaitFor(
            [&](const std::vector<std::string>& all) {
                for (int i = 0; i < n; ++i) {
                    const std::string listed = "\"filename\":\"" + LocalName("temp/f" + std::to_string(i) + ".jpg") + "\"";
                    if (std::none_of(all.begin(), all.end(), [&](const std::string& s) {
                            return s.rfind("{\"msg_type\":\"printer.status\"", 0) == 0 && s.find(listed) != std::string::npos;
                        }))
                        return false;
                }
                return true;
            },
            60000);
    };
    ASSERT_TRUE(listedHeld(4));
    ASSERT_TRUE(send(4));
    EXPECT_TRUE(listedHeld(5));
    EXPECT_EQ(images.RequestCount(), 5u);
    ASSERT_EQ(RunCommand("cupsenable " + ShellQuote(cups.pdfQueue)), 0);
    std::set<std::string> replies;
    for (int i = 0; i < 5; ++i) replies.insert(rig->ReadMessage(60000).value_or("<no reply>"));
    std::set<std::string> expected;
    for (int i = 0; i < 5; ++i) expected.insert(Reply(SuccessResult(), sent[i], "f" + std::to_string(i)));
    EXPECT_EQ(replies, expected);
}

INSTANTIATE_TEST_SUITE_P(Links, FollowedPrintTaskTest, ::testing::Values(LinkKind::WebSocket), LinkName);

}  // namespace
}  // namespace quorvin::testing
