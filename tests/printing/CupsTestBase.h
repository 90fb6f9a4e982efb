// Base of the tests that run against the private scheduler: each test gets
// a fresh manager with its own form store and finds the queues in their
// starting state (enabled, empty, A4, one copy, portrait, PDF default).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
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
        ASSERT_EQ(ResetCupsQueues(s_cups), 0);
        SetReasons(s_cups.eveQueue, "none");
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
        return Query(queue, "Get-Printer-Attributes", "", name);
    }

    // One attribute of a job of the queue.
    std::string JobAttribute(const std::string& queue, int jobId, const std::string& name) {
        return Query(queue, "Get-Job-Attributes", " ATTR integer job-id " + std::to_string(jobId) + "\n", name);
    }

    std::string Query(const std::string& queue, const std::string& operation, const std::string& extra,
                      const std::string& name) {
        std::string test = m_dir / "get.test";
        WriteBytes(test,
                   "{ OPERATION " + operation + "\n GROUP operation-attributes-tag\n"
                   " ATTR charset attributes-charset utf-8\n ATTR naturalLanguage attributes-natural-language en\n"
                   " ATTR uri printer-uri $uri\n" + extra + " ATTR keyword requested-attributes " +
                       name + "\n}\n");
        std::string out;
        Run("ipptool -tv " + ShellQuote(PrinterUri(queue)) + " " + test, &out);
        // "        name (type) = value"
        std::size_t at = out.find(" " + name + " (");
        if (at == std::string::npos) return "";
        std::size_t eq = out.find(") = ", at);
        std::size_t end = out.find('\n', at);
        if (eq == std::string::npos || eq > end) return "";
        return out.substr(eq + 4, end == std::string::npos ? std::string::npos : end - eq - 4);
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
        return JobIdOfLp(out);
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
