// Every file the agent replaces survives a power cut whole: the old one or
// the new one, never an empty one.
#include <gtest/gtest.h>

#include <functional>

#include "TempDir.h"
#include "app/StartupConfig.h"
#include "common/CommonTool.h"
#include "fixtures/LoopbackHttpServer.h"
#include "fixtures/SyncRecorder.h"
#include "http/HttpDownloader.h"
#include "printing/FormStore.h"

namespace quorvin {
namespace {

using testing::TempDir;

TEST(DurableFiles, EveryReplacedFileIsFlushedBeforeAndAfterItsRename) {
    testing::LoopbackHttpServer images(
        [](const testing::SeenRequest&, testing::HttpConnection& c) { c.Respond(200, std::string(70000, 'j')); });
    const struct {
        const char* file;
        std::function<bool(const std::string& dir)> write;
    } writers[] = {
        {"config.json",
         [](const std::string& dir) {
             testing::WriteBytes(dir + "/config.json", R"({"startup":{"param":{"clientId":"c","clientName":"n"}}})");
             testing::ClearDiskCalls();
             return LoadStartupConfig(dir, {}, "1").has_value();
         }},
        {"seqno.txt", [](const std::string& dir) { return CCommonTool(dir).GetModuleDir() == dir; }},
        {"forms.json",
         [](const std::string& dir) {
             PaperForm form;
             form.printer = "PDF";
             form.name = "Ticket";
             form.width = 800;
             form.height = 1500;
             return CFormStore(dir + "/forms.json").Put(form);
         }},
        {"a.jpg",
         [&](const std::string& dir) {
             CHttpDownloader downloader(10000);
             downloader.Open();
             return downloader.DownloadFile(images.origin(), "/a.jpg", dir + "/a.jpg");
         }},
    };
    for (const auto& w : writers) {
        TempDir dir;
        testing::ClearDiskCalls();
        ASSERT_TRUE(w.write(dir.path())) << w.file;
        EXPECT_EQ(testing::DurableReplacementProblem(testing::DiskCalls(), dir / w.file), "") << w.file;
    }
}

}  // namespace
}  // namespace quorvin
