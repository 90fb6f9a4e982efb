// Base of the tests that run against the private scheduler: each test gets
// a fresh manager with its own form store and finds the queues in their
// starting state (enabled, empty, A4, one copy, portrait, PDF default).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <regex>
#include <string>
#include <thread>

#include "TempDir.h"
#include "common/CodePage.h"
#include "common/Json.h"
#include "fixtures/CupsFixture.h"
#include "printing/PrinterManager.h"

namespace quorvin::testing {

class CupsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_bReady = UseCupsFixture(s_cups); }

    void SetUp() override {
        ASSERT_TRUE(s_bReady) << s_cups.error;
        SetLocalCodePage("");
        const std::string& pdf = s_cups.pdfQueue;
        const std::string& eve = s_cups.eveQueue;
        ASSERT_EQ(Run("cupsenable " + pdf + " " + eve + " && cupsaccept " + pdf + " " + eve + " && cancel -a " + pdf +
                      " " + eve + " && lpadmin -d " + pdf + " && lpadmin -p " + pdf +
                      " -o media-default=iso_a4_210x297mm -o copies-default=1 -o orientation-requested-default=3"),
                  0);
        SetReasons(eve, "none");
        m_pManager = std::make_unique<CPrinterManager>(m_dir.path());
    }

    void TearDown() override { SetLocalCodePage(""); }

    static int Run(const std::string& command, std::string* output = nullptr) {
        return RunCommand(command + " 2>&1", output);
    }

    std::string PrinterUri(const std::string& queue) const {
        return "ipp://" + s_cups.server + "/printers/" + queue;
    }

    // One printer attribute's value as ipptool shows it ("" when absent).
    std::string Attribute(const std::string& queue, const std::string& name) {
        std::string test = m_dir / "get.test";
        WriteBytes(test,
                   "{ OPERATION Get-Printer-Attributes\n GROUP operation-attributes-tag\n"
                   " ATTR charset attributes-charset utf-8\n ATTR naturalLanguage attributes-natural-language en\n"
                   " ATTR uri printer-uri $uri\n ATTR keyword requested-attributes " +
                       name + "\n}\n");
        std::string out;
        Run("ipptool -tv " + ShellQuote(PrinterUri(queue)) + " " + test, &out);
        std::smatch m;
        std::regex line("\\n\\s*" + name + " \\([^)]*\\) = ([^\\n]*)");
        return std::regex_search(out, m, line) ? m[1].str() : "";
    }

    // Sets printer-state-reasons the way a driver would report them.
    void SetReasons(const std::string& queue, const std::string& reasons) {
        std::string test = m_dir / "reasons.test";
        WriteBytes(test,
                   "{ OPERATION CUPS-Add-Modify-Printer\n GROUP operation-attributes-tag\n"
                   " ATTR charset attributes-charset utf-8\n ATTR naturalLanguage attributes-natural-language en\n"
                   " ATTR uri printer-uri $uri\n GROUP printer-attributes-tag\n"
                   " ATTR keyword printer-state-reasons " +
                       reasons + "\n STATUS successful-ok\n}\n");
        std::string out;
        ASSERT_EQ(Run("ipptool -t " + ShellQuote(PrinterUri(queue)) + " " + test, &out), 0) << out;
    }

    // Submits a file with lp; the job id, 0 when refused.
    int Lp(const std::string& queue, const std::string& path, const std::string& title,
           const std::string& options = "") {
        std::string out;
        if (Run("lp -d " + ShellQuote(queue) + " -t " + ShellQuote(title) + " " + options + " " + ShellQuote(path),
                &out) != 0)
            return 0;
        std::smatch m;
        return std::regex_search(out, m, std::regex("request id is .*-([0-9]+) ")) ? std::stoi(m[1].str()) : 0;
    }

    // Waits (bounded) until the job has left the queue; its last state.
    JobState WaitForJob(const std::string& queue, int jobId, int seconds = 30) {
        JobState state = JobState::Unknown;
        for (int i = 0; i < seconds * 10; ++i) {
            state = m_pManager->GetJobState(queue, jobId);
            if (state != JobState::Active && state != JobState::Unreachable) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return state;
    }

    static std::string Utf8(const std::string& local) { return LocalToUtf8(local); }

    inline static CupsFixture s_cups;
    inline static bool s_bReady = false;
    TempDir m_dir;
    std::unique_ptr<CPrinterManager> m_pManager;
};

}  // namespace quorvin::testing
