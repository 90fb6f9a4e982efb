// The printer commands over each real link against the private CUPS
// scheduler of the "cups" fixture (queues PDF, the default, and EVE).
#include <chrono>
#include <filesystem>
#include <set>
#include <thread>

#include <cjson/cJSON.h>

#include "commands/CupsLinkTest.h"

namespace quorvin::testing {
namespace {

namespace fs = std::filesystem;

class PrinterCommandsTest : public CupsLinkTest {
protected:
    // The reply's "result" as JSON text, after checking the envelope around it.
    std::string Result(const std::string& name, const std::string& body) {
        const std::string msg = Command(name, body);
        const std::string reply = Ask(msg);
        JsonPtr parsed = ParseJson(reply);
        if (!parsed) return "<invalid JSON> " + reply;
        EXPECT_EQ(GetJsonString(parsed.get(), "name"), name + ">res");
        const std::string srcTail = ",\"srcMsg\":" + msg + "}";
        EXPECT_EQ(reply.substr(reply.size() - std::min(reply.size(), srcTail.size())), srcTail);
        return PrintJson(GetJsonMember(GetJsonMember(parsed.get(), "body"), "result"), false);
    }
    static std::string Member(const std::string& json, const char* name) {
        JsonPtr parsed = ParseJson(json);
        return GetJsonString(parsed.get(), name);
    }

    const std::string kOk = SuccessResult();
    const std::string kBadParam = FailureResult(kParamError);
    const std::string kFailed = FailureResult(kCallFailed);
};

TEST_P(PrinterCommandsTest, ListsPrintersAndTheDefault) {
    JsonPtr list = ParseJson(Result("GetAllPrn", "{}"));
    ASSERT_TRUE(cJSON_IsArray(list.get()));
    std::set<std::string> names;
    for (const cJSON* item = list->child; item; item = item->next) names.insert(item->valuestring);
    EXPECT_EQ(names, (std::set<std::string>{cups.pdfQueue, cups.eveQueue}));

    const std::string def = Result("GetDefaultPrn", "{}");
    EXPECT_EQ(Member(def, "name"), cups.pdfQueue);
    EXPECT_EQ(Member(def, "port"), "cups-pdf:/");

    const std::string withPaper = Result("getdefaultprnandpaper", "{}");
    EXPECT_EQ(Member(withPaper, "printer"), cups.pdfQueue);
    const std::string paper = Member(withPaper, "paperName");
    ASSERT_FALSE(paper.empty());
    EXPECT_EQ(Result("GetPaperSize", "{\"szPrinterName\":\"" + cups.pdfQueue + "\",\"szPaperName\":\"" + paper + "\"}"),
              "{\"paperSize\":\"" + Member(withPaper, "paperSize") + "\"}");
}

TEST_P(PrinterCommandsTest, SetDefaultPrnAnswersWhatTheSpoolerDid) {
    EXPECT_EQ(Result("SetDefaultPrn", R"({"mPrinterName":""})"), kBadParam);
    EXPECT_EQ(Result("SetDefaultPrn", R"({"mPrinterName":"NoSuchQueue"})"), kFailed);
    EXPECT_EQ(Result("SetDefaultPrn", "{\"MPRINTERNAME\":\"" + cups.eveQueue + "\"}"), kOk);
    EXPECT_EQ(Member(Result("GetDefaultPrn", "{}"), "name"), cups.eveQueue);
}

TEST_P(PrinterCommandsTest, CustomPaperIsAddedLookedUpAndDeleted) {
    const std::string printer = "\"szPrinterName\":\"" + cups.pdfQueue + "\"";
    EXPECT_EQ(Result("AddCustomPaper", "{" + printer +
                                           R"(,"szPaperName":"Ticket 80","cx":"800","cy":"1500","left":"0","top":"0","right":"0","bottom":"0"})"),
              kOk);
    const std::string size = Result("GetPaperSize", "{" + printer + R"(,"szPortName":"x","szPaperName":"Ticket 80"})");
    EXPECT_GE(AtoI(Member(size, "paperSize")), 1000) << size;
    EXPECT_EQ(Result("DeleteCustomPaper", "{" + printer + R"(,"szPaperName":"Ticket 80"})"), kOk);
    EXPECT_EQ(Result("DeleteCustomPaper", "{" + printer + R"(,"szPaperName":"Ticket 80"})"), kFailed);
    EXPECT_EQ(Result("GetPaperSize", "{" + printer + R"(,"szPaperName":"Ticket 80"})"), "{\"paperSize\":\"-1\"}");
    // Numbers where strings belong read as 0: no paper of size 0.
    EXPECT_EQ(Result("AddCustomPaper", "{" + printer + R"(,"szPaperName":"Zero","cx":800,"cy":1500})"), kFailed);
    EXPECT_EQ(Result("AddCustomPaper", R"({"szPrinterName":"NoSuchQueue","szPaperName":"T","cx":"800","cy":"800"})"),
              kFailed);
}

TEST_P(PrinterCommandsTest, SetPaperPassesTheLow16BitsOfTheOrientation) {
    const std::string printer = "\"szPrinterName\":\"" + cups.pdfQueue + "\"";
    EXPECT_EQ(Result("GetPaperSize", "{" + printer + R"(,"szPaperName":"A4"})"), "{\"paperSize\":\"9\"}");
    EXPECT_EQ(Result("SetPaper", "{" + printer + R"(,"szPaperName":"A4","nCopy":"2","nOrientation":"65538"})"), kOk);
    std::string options;
    ASSERT_EQ(RunCommand("lpoptions -p " + ShellQuote(cups.pdfQueue), &options), 0);
    EXPECT_NE(options.find("orientation-requested=4"), std::string::npos) << options;  // landscape
    EXPECT_NE(options.find("copies=2"), std::string::npos) << options;
    EXPECT_EQ(Result("SetPaper", "{" + printer + R"(,"szPaperName":"A4","nCopy":"1","nOrientation":"1"})"), kOk);
    EXPECT_EQ(Result("SetPaper", R"({"szPrinterName":"NoSuchQueue","szPaperName":"A4","nCopy":"1"})"), kFailed);
}

TEST_P(PrinterCommandsTest, JobStatusForKnownAndUnknownPrinters) {
    JsonPtr status = ParseJson(Result("GetPrinterJobStatus", "{\"szPrinterName\":\"" + cups.pdfQueue + "\"}"));
    ASSERT_NE(status, nullptr);
    EXPECT_FALSE(GetJsonString(status.get(), "printer").empty());
    EXPECT_TRUE(cJSON_IsArray(GetJsonMember(status.get(), "jobs")));
    EXPECT_EQ(Result("GetPrinterJobStatus", R"({"szPrinterName":"^^srv^NoSuch"})"),
              "{\"printer\":\"打印机不存在\",\"jobs\":[]}");
}

TEST_P(PrinterCommandsTest, PrintAtCmd1PrintsFilesInsideTheProgramDirectory) {
    EXPECT_EQ(Result("PrintAtCmd1", R"({"strFullFileName":""})"), kBadParam);
    EXPECT_EQ(Result("PrintAtCmd1", R"({"strFullFileName":"..^..^etc^hostname"})"), kBadParam);
    EXPECT_EQ(Result("PrintAtCmd1", R"({"strFullFileName":"temp^missing.txt"})"), kFailed);

    WriteBytes(dir / "temp/note.txt", "printed by the command set test\n");
    const auto before = fs::exists(cups.pdfOut) ? std::distance(fs::directory_iterator(cups.pdfOut), {}) : 0;
    EXPECT_EQ(Result("PrintAtCmd1", R"({"strFullFileName":"temp^note.txt"})"), kOk);
    bool printed = false;
    for (int i = 0; i < 100 && !printed; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        printed = fs::exists(cups.pdfOut) && std::distance(fs::directory_iterator(cups.pdfOut), {}) > before;
    }
    EXPECT_TRUE(printed) << "no output from the PDF queue";
}

QUORVIN_ON_BOTH_LINKS(PrinterCommandsTest);

}  // namespace
}  // namespace quorvin::testing
