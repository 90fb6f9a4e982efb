// Printer names the private CUPS scheduler cannot hold: network-style names
// (backslashes, sent with "^") and names the spooler refuses to print on.
// The spooler is a stand-in here (CUPS queue names never contain a
// backslash); the download is real, from a loopback HTTP server, and the
// link is a recording one, as the end-to-end tests cover the TCP link.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "TempDir.h"
#include "commands/CommandDispatcher.h"
#include "commands/PrintTaskRunner.h"
#include "common/CodePage.h"
#include "common/CommonTool.h"
#include "fixtures/LoopbackHttpServer.h"
#include "fixtures/TestImages.h"
#include "message/ChatLink.h"
#include "message/Envelope.h"
#include "printing/PrinterManager.h"
#include "printing/Spooler.h"

namespace quorvin::testing {
namespace {

std::string Fold(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

// Lists fixed printers, matches names without regard to case as CUPS does,
// and records what is submitted.
class ListedSpooler : public Spooler {
public:
    explicit ListedSpooler(std::vector<std::string> names) : m_names(std::move(names)) {}

    SpoolStatus ListPrinters(std::vector<std::string>& names) override {
        names = m_names;
        return SpoolStatus::Ok;
    }
    SpoolStatus GetDefaultPrinter(std::string& name) override {
        name = m_names.front();
        return SpoolStatus::Ok;
    }
    SpoolStatus SetDefaultPrinter(const std::string&) override { return SpoolStatus::Refused; }
    SpoolStatus GetPrinter(const std::string& name, SpoolPrinter& printer) override {
        for (const std::string& n : m_names) {
            if (Fold(n) != Fold(name)) continue;
            printer = SpoolPrinter{};
            printer.name = n;
            SpoolMedia a4{"iso_a4_210x297mm", 21000, 29700, 0, 0, 0, 0};
            printer.media = {a4};
            printer.mediaDefault = a4.pwgName;
            printer.defaultMedia = a4;
            return SpoolStatus::Ok;
        }
        return SpoolStatus::NotFound;
    }
    SpoolStatus SetPrinterDefaults(const std::string&, const SpoolDefaults&) override { return SpoolStatus::Refused; }
    SpoolStatus GetJobs(const std::string&, bool, std::vector<SpoolJob>& jobs) override {
        jobs.clear();
        return SpoolStatus::Ok;
    }
    SpoolStatus GetJob(const std::string&, int, SpoolJob&) override { return SpoolStatus::NotFound; }
    SpoolStatus SubmitFile(const std::string& name, const std::string&, const std::string&, const std::string&,
                           const std::vector<std::string>&, int, int& jobId) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_submitted.push_back(name);
        if (m_refuse) return SpoolStatus::Refused;
        jobId = static_cast<int>(m_submitted.size());
        return SpoolStatus::Ok;
    }

    std::vector<std::string> Submitted() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_submitted;
    }
    void Refuse() { m_refuse = true; }

private:
    std::vector<std::string> m_names;
    std::mutex m_mutex;
    std::vector<std::string> m_submitted;
    std::atomic<bool> m_refuse{false};
};

// Records what a link would send and show.
class RecordingLink : public ChatLink {
public:
    RecordingLink(const std::string& dir, std::shared_ptr<Spooler> spooler)
        : m_tool(dir), m_printers(dir, std::move(spooler)) {}

    LinkKind Kind() const override { return LinkKind::Tcp; }
    void SendText(const std::string& text) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_sent.push_back(text);
        m_cv.notify_all();
    }
    void NotifyPage(const std::string& text) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_notices.push_back(text);
    }
    std::string ReceivedNotice(const std::string& received) const override { return "recv " + received; }
    void CloseOwnerWindow() override {}
    CPrinterManager& Printers() override { return m_printers; }
    CCommonTool& Tool() override { return m_tool; }

    // The next reply, waiting at most ms.
    std::string NextReply(int ms = 15000) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return m_taken < m_sent.size(); }))
            return "<no reply>";
        return m_sent[m_taken++];
    }
    std::vector<std::string> TaskNotices() {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<std::string> out;
        for (const std::string& n : m_notices)
            if (n.rfind("recv ", 0) != 0) out.push_back(n);
        return out;
    }

private:
    CCommonTool m_tool;
    CPrinterManager m_printers;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<std::string> m_sent;
    std::size_t m_taken = 0;
    std::vector<std::string> m_notices;
};

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
    EXPECT_EQ(Run(name), SuccessResult());
    SetLocalCodePage("GBK");
    EXPECT_EQ(Run(name), SuccessResult());
    EXPECT_EQ(spooler->Submitted(), (std::vector<std::string>{name, name}));
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
