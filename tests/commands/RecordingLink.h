// A stand-in spooler and a recording link, for print tasks on what the
// private CUPS scheduler cannot show: printer names no CUPS queue can hold,
// jobs in states chosen by the test. The downloads stay real.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/CommonTool.h"
#include "common/Event.h"
#include "message/ChatLink.h"
#include "printing/PrinterManager.h"
#include "printing/Spooler.h"

namespace quorvin::testing {

inline std::string Fold(std::string s) {
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
    // Every job is in the state set with SetJobs (none: no such job).
    SpoolStatus GetJob(const std::string&, int jobId, SpoolJob& job) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_jobStatus != SpoolStatus::Ok) return m_jobStatus;
        job = SpoolJob{};
        job.id = jobId;
        job.state = m_jobState;
        return SpoolStatus::Ok;
    }
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
    void SetJobs(SpoolStatus status, int state = 9) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_jobStatus = status;
        m_jobState = state;
    }

private:
    std::vector<std::string> m_names;
    std::mutex m_mutex;
    std::vector<std::string> m_submitted;
    std::atomic<bool> m_refuse{false};
    SpoolStatus m_jobStatus = SpoolStatus::NotFound;
    int m_jobState = 9;
};

// Records what a link of the given kind would send and show.
class RecordingLink : public ChatLink {
public:
    RecordingLink(const std::string& dir, std::shared_ptr<Spooler> spooler, LinkKind kind = LinkKind::Tcp)
        : m_kind(kind), m_tool(dir), m_printers(dir, std::move(spooler)) {}

    LinkKind Kind() const override { return m_kind; }
    int SendText(const std::string& text) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_sent.push_back(text);
        m_cv.notify_all();
        return 1;
    }
    void NotifyPage(const std::string& text) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_notices.push_back(text);
    }
    std::string ReceivedNotice(const std::string& received) const override { return "recv " + received; }
    void CloseOwnerWindow() override {}
    CPrinterManager& Printers() override { return m_printers; }
    CCommonTool& Tool() override { return m_tool; }
    std::shared_ptr<Event> TaskCancelEvent() override { return m_cancel; }

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

    std::shared_ptr<Event> m_cancel = std::make_shared<Event>();

private:
    const LinkKind m_kind;
    CCommonTool m_tool;
    CPrinterManager m_printers;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<std::string> m_sent;
    std::size_t m_taken = 0;
    std::vector<std::string> m_notices;
};

}  // namespace quorvin::testing
