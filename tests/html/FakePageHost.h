// A PageHost with no screen, for the rules and the bridge in the build
// without the window (the sanitizer pass has no GTK). It records what the
// dialog asked of its window; "running" a window hands it to a callback that
// plays the page. The real window is tested under the gui label.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "html/BridgeLinks.h"
#include "html/HtmlBaseDlg.h"

namespace quorvin::testing {

struct FakeHostLog {
    WorkArea area{0, 0, 1280, 1024};
    std::vector<std::string> navigations;  // address + " | " + title
    int endDialogs = 0;
    int maximized = 0;
    int keepingQueue = 0;
    std::vector<std::string> scripts;          // name + "(" + text + ")"
    std::function<void(CHtmlBaseDlg&)> onRun;  // plays the page of a window being run
};

class FakePageHost : public PageHost {
public:
    FakePageHost(CHtmlBaseDlg& dlg, std::shared_ptr<FakeHostLog> log) : m_dlg(dlg), m_log(std::move(log)) {}
    WorkArea GetWorkArea() override { return m_log->area; }
    int RunModal() override {
        if (m_log->onRun) m_log->onRun(m_dlg);
        return CHtmlBaseDlg::IDCANCEL;
    }
    void EndDialog(int) override { ++m_log->endDialogs; }
    void Navigate(const std::string& address, const std::string& title) override {
        m_log->navigations.push_back(address + " | " + title);
    }
    void ShowMaximized() override { ++m_log->maximized; }
    void CallScript(const std::string& name, const std::string& text) override {
        m_log->scripts.push_back(name + "(" + text + ")");
    }
    void RunKeepingQueue(const std::function<void()>& fn) override {
        ++m_log->keepingQueue;
        fn();
    }
    void NotifyPage(const std::string&) override {}
    void Post(std::function<void()>) override {}
    void PostClose() override {}

private:
    CHtmlBaseDlg& m_dlg;
    std::shared_ptr<FakeHostLog> m_log;
};

// A context whose windows are FakePageHosts sharing log, with a tool on
// moduleDir and the given links.
inline std::shared_ptr<const DlgContext> FakeContext(const std::string& moduleDir, std::shared_ptr<FakeHostLog> log,
                                                     BridgeLinks links = {}) {
    auto context = std::make_shared<DlgContext>();
    context->tool = std::make_shared<CCommonTool>(moduleDir);
    context->hostFactory = [log](CHtmlBaseDlg& dlg) { return std::make_unique<FakePageHost>(dlg, log); };
    context->links = [links](PageWindow&) { return links; };
    return context;
}

}  // namespace quorvin::testing
