// The host of a build without the window (QUORVIN_GUI=OFF): nothing can be
// shown, so a run ends at once and notifications go nowhere.
#include <cstdio>

#include "html/PageHost.h"

namespace quorvin {
namespace {

class NullPageHost : public PageHost {
public:
    WorkArea GetWorkArea() override { return {0, 0, 1024, 768}; }
    int RunModal() override {
        std::fprintf(stderr, "quorvin: this build has no window (built with QUORVIN_GUI=OFF)\n");
        return 2;
    }
    void EndDialog(int) override {}
    void Navigate(const std::string&, const std::string&) override {}
    void ShowMaximized() override {}
    void CallScript(const std::string&, const std::string&) override {}
    void RunKeepingQueue(const std::function<void()>& fn) override { fn(); }
    void NotifyPage(const std::string&) override {}
    void Post(std::function<void()>) override {}
    void PostClose() override {}
};

}  // namespace

std::unique_ptr<PageHost> MakePlatformPageHost(CHtmlBaseDlg&) { return std::make_unique<NullPageHost>(); }

}  // namespace quorvin
