// The Spooler over CUPS (libcups). Every request goes over a connection of
// its own to the server that CUPS_SERVER (or client.conf) names, with a
// connect timeout and an overall deadline, so a dead server fails at once
// and a hanging one within the deadline.
#pragma once

#include "printing/Spooler.h"

namespace quorvin {

class CCupsSpooler : public Spooler {
public:
    // requestTimeoutMs bounds each request from connect to last byte.
    explicit CCupsSpooler(int requestTimeoutMs = 8000);

    SpoolStatus ListPrinters(std::vector<std::string>& names) override;
    SpoolStatus GetDefaultPrinter(std::string& name) override;
    SpoolStatus SetDefaultPrinter(const std::string& name) override;
    SpoolStatus GetPrinter(const std::string& name, SpoolPrinter& printer) override;
    SpoolStatus SetPrinterDefaults(const std::string& name, const SpoolDefaults& defaults) override;
    SpoolStatus GetJobs(const std::string& name, bool activeOnly, std::vector<SpoolJob>& jobs) override;
    SpoolStatus GetJob(const std::string& name, int jobId, SpoolJob& job) override;
    SpoolStatus SubmitFile(const std::string& name, const std::string& path, const std::string& title,
                           const std::string& format, const std::vector<std::string>& options, int timeoutMs,
                           int& jobId) override;

private:
    int m_nTimeoutMs;
};

}  // namespace quorvin
