// The print task end to end: a server on either link sends
// PrintWebJpegImage, the image comes from an HTTP server on loopback that
// answers well or badly by path, and the private CUPS scheduler of the
// "cups" fixture prints it into a PDF. Shared by the print task tests and
// the fault injection tests.
#pragma once

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>

#include "commands/CupsLinkTest.h"
#include "commands/PrintTaskRunner.h"
#include "fixtures/LoopbackHttpServer.h"
#include "fixtures/TestImages.h"

namespace quorvin::testing {

// Stops the shared scheduler (SIGSTOP: it accepts connections and never
// answers, as a hung one does) until Resume or the end of the scope, which
// also waits until it answers again: the tests after it share it.
class StoppedScheduler {
public:
    explicit StoppedScheduler(const CupsFixture& cups) {
        std::ifstream in(cups.dir + "/run/cupsd.pid");
        in >> m_pid;
        if (m_pid > 0 && kill(m_pid, SIGSTOP) != 0) m_pid = 0;
    }
    ~StoppedScheduler() { Resume(); }
    StoppedScheduler(const StoppedScheduler&) = delete;
    StoppedScheduler& operator=(const StoppedScheduler&) = delete;

    bool Stopped() const { return m_pid > 0; }
    void Resume() {
        if (m_pid <= 0) return;
        kill(m_pid, SIGCONT);
        m_pid = 0;
        std::string out;
        for (int i = 0; i < 100 && (RunCommand("lpstat -r", &out), out.find("is running") == std::string::npos); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }

private:
    pid_t m_pid = 0;
};

class PrintTaskTest : public CupsLinkTest {
protected:
    void BeforeConnect() override {
        ASSERT_FALSE(jpeg.empty());
        PrintTaskOptions options;
        options.jobLookMs = 200;  // the WebSocket link's tasks follow their jobs
        options.downloadWaitMs = downloadWaitMs;
        runner = std::make_unique<CPrintTaskRunner>(options);
        rig->SetPrintTaskStarter(runner->Starter());
    }
    void TearDown() override {
        OpenAllGates();
        // The tasks end before the link they answer on.
        runner.reset();
        CupsLinkTest::TearDown();
        // The queues are shared: leave them as the next test expects.
        EXPECT_EQ(ResetCupsQueues(cups), 0);
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
    // What is in the program's temp folder (downloads and their temporaries).
    std::vector<std::string> TempFiles() const {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(LocalName("temp"), ec))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::vector<std::filesystem::path> Pdfs() const {
        std::vector<std::filesystem::path> pdfs;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(cups.pdfOut, ec))
            if (e.path().extension() == ".pdf") pdfs.push_back(e.path());
        return pdfs;
    }
    // Waits (bounded) until cups-pdf has written more PDFs than before. The
    // scheduler converts one job at a time, about two seconds each on an
    // idle machine and much longer on a loaded one.
    std::vector<std::filesystem::path> WaitForPdfs(std::size_t before, std::size_t more) const {
        std::vector<std::filesystem::path> pdfs;
        for (int i = 0; i < 900; ++i) {
            pdfs = Pdfs();
            if (pdfs.size() >= before + more) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return pdfs;
    }
    // A link that still serves: a later command is answered.
    void ExpectTheLinkServes() {
        const std::string msg = AnyLinkTest::Command("GetCurrentDir");
        EXPECT_EQ(Ask(msg, 30000), AnyLinkTest::Reply("GetCurrentDir", "{\"dir\":\"" + dir.path() + "\"}", msg));
    }

    // Requests for "/img/gated-*" wait until their gate opens; the server
    // notes the order they came in and how many waited at once.
    void OpenGate(const std::string& target) {
        std::lock_guard<std::mutex> lock(m_gateMutex);
        m_open.insert(target);
        m_gateCv.notify_all();
    }
    void OpenAllGates() {
        std::lock_guard<std::mutex> lock(m_gateMutex);
        m_openAll = true;
        m_gateCv.notify_all();
    }
    bool WaitForGated(std::size_t arrived, int timeoutMs = 30000) {
        std::unique_lock<std::mutex> lock(m_gateMutex);
        return m_gateCv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_arrived.size() >= arrived; });
    }
    std::vector<std::string> Gated() {
        std::lock_guard<std::mutex> lock(m_gateMutex);
        return m_arrived;
    }
    int MostGatedAtOnce() {
        std::lock_guard<std::mutex> lock(m_gateMutex);
        return m_nMostAtOnce;
    }

    int downloadWaitMs = 30000;
    const std::string jpeg = MakeJpeg(320, 240);
    LoopbackHttpServer images{[this](const SeenRequest& request, HttpConnection& c) { Serve(request.target, c); }};
    std::unique_ptr<CPrintTaskRunner> runner;

private:
    void Serve(const std::string& t, HttpConnection& c) {
        const std::string head = "HTTP/1.0 200 OK\r\nContent-Type: image/jpeg\r\n";
        if (t == "/img/slow.jpg") {
            c.Hold(1500);
            c.Respond(200, jpeg, "image/jpeg");
        } else if (t.rfind("/img/ok", 0) == 0) {
            c.Respond(200, jpeg, "image/jpeg");
        } else if (t.rfind("/img/gated", 0) == 0) {
            PassGate(t);
            c.Respond(200, jpeg, "image/jpeg");
        } else if (t == "/img/text.jpg") {
            c.Respond(200, "this is not an image at all", "image/jpeg");
        } else if (t == "/img/stall.jpg") {  // headers, then silence
            c.Send(head + "\r\n");
            c.Hold(60000);
        } else if (t == "/img/endless.jpg") {  // a body that never ends
            c.Send(head + "\r\n");
            const std::string piece(4096, 'e');
            for (int i = 0; i < 1200 && !c.Stopping() && c.Send(piece); ++i) c.Hold(50);
        } else if (t == "/img/loop.jpg") {
            c.Respond(302, "", "text/plain", "Location: /img/loop.jpg\r\n");
        } else if (t == "/img/cut.jpg") {  // the connection ends half way through the announced body
            c.Send(head + "Content-Length: " + std::to_string(jpeg.size()) + "\r\n\r\n" + jpeg.substr(0, jpeg.size() / 2));
        } else if (t == "/img/half.jpg") {  // a whole answer carrying half a JPEG
            c.Respond(200, jpeg.substr(0, jpeg.size() / 2), "image/jpeg");
        } else {
            c.Respond(404, "<html>Not Found</html>", "text/html");
        }
    }
    void PassGate(const std::string& target) {
        std::unique_lock<std::mutex> lock(m_gateMutex);
        m_arrived.push_back(target);
        m_nMostAtOnce = std::max(m_nMostAtOnce, ++m_nAtGate);
        m_gateCv.notify_all();
        m_gateCv.wait_for(lock, std::chrono::seconds(60), [&] { return m_openAll || m_open.count(target) > 0; });
        --m_nAtGate;
    }

    std::mutex m_gateMutex;
    std::condition_variable m_gateCv;
    std::set<std::string> m_open;
    bool m_openAll = false;
    std::vector<std::string> m_arrived;
    int m_nAtGate = 0;
    int m_nMostAtOnce = 0;
};

}  // namespace quorvin::testing
