#include "printing/PrinterManager.h"

#include "printing/Spooler.h"

namespace quorvin {

class CPrinterManager::FormStore {};

CPrinterManager::CPrinterManager() = default;
CPrinterManager::CPrinterManager(std::string, std::shared_ptr<Spooler> spooler) : m_pSpooler(std::move(spooler)) {}
CPrinterManager::~CPrinterManager() = default;

std::string CPrinterManager::GetAllPrinters() { return "[]"; }
std::string CPrinterManager::GetDefaultPrinter() { return "{\"name\":\"\",\"driver\":\"\",\"port\":\"\"}"; }
std::string CPrinterManager::GetDefaultPrinterAndPaper() { return "{\"printer\":\"\",\"paperName\":\"\",\"paperSize\":\"0\"}"; }
bool CPrinterManager::SetDefaultPrinter(const std::string&) { return false; }
int CPrinterManager::AddCustomPaper(const std::string&, const std::string&, int, int, int, int, int, int) { return 0; }
int CPrinterManager::DeleteCustomPaper(const std::string&, const std::string&) { return 0; }
int CPrinterManager::SetPaper(const std::string&, const std::string&, int, int) { return 0; }
int CPrinterManager::GetPaperSize(const std::string&, const std::string&, const std::string&) { return -1; }
std::string CPrinterManager::GetPrinterJobStatus(const std::string&) { return "{\"printer\":\"\",\"jobs\":[]}"; }
std::string CPrinterManager::GetPrinterStatusText(std::uint32_t) { return ""; }
std::string CPrinterManager::GetJobStatusText(std::uint32_t) { return ""; }
int CPrinterManager::PrintImageFile(const std::string&, const std::string&) { return 0; }
bool CPrinterManager::ShellPrintFile(const std::string&) { return false; }
JobState CPrinterManager::GetJobState(const std::string&, int, const std::string&) { return JobState::Unknown; }

}  // namespace quorvin
