// CHtmlBaseDlg: the window that hosts a page. This part holds its rules:
// the template (style and geometry in dialog units), the page parameter and
// result, the first-load and close rules and the script-call contract. The
// platform window behind it is a PageHost.
#pragma once

#include <memory>
#include <string>

#include "common/CommonTool.h"
#include "common/ParamMap.h"
#include "html/BridgeLinks.h"
#include "html/DlgTemplate.h"
#include "html/PageHost.h"
#include "message/PageWindow.h"

namespace quorvin {

class CScriptBridge;

// What a main window and every child it opens share.
struct DlgContext {
    std::shared_ptr<CCommonTool> tool;  // one tool for all windows (one counter load/store)
    PageHostFactory hostFactory;
    std::function<BridgeLinks(PageWindow& owner)> links;
};

// The agent's own context: its module directory, the platform window and the
// process-wide links.
std::shared_ptr<const DlgContext> DefaultDlgContext();

class CHtmlBaseDlg : public PageWindow {
public:
    static constexpr int IDOK = 1;
    static constexpr int IDCANCEL = 2;

    explicit CHtmlBaseDlg(std::shared_ptr<const DlgContext> context = nullptr);
    ~CHtmlBaseDlg() override;
    CHtmlBaseDlg(const CHtmlBaseDlg&) = delete;
    CHtmlBaseDlg& operator=(const CHtmlBaseDlg&) = delete;

    void SetUrl(const std::string& url) { m_strUrl = url; }
    void SetPosition(int x, int y, int width, int height);
    void SetSize(int x, int y, int width, int height);
    void CenterOnWorkArea();
    void SetAlign(const std::string& keyword);
    void SetStatus(const std::string& status);
    void SetCaption(int value);
    void SetSysMenu(int value);
    void SetMinBox(int value);
    void SetMaxBox(int value);
    void SetBorder(int value);
    void SetPageResult(const std::string& text) { m_strPageResult = text; }
    std::string GetPageResult() const { return m_strPageResult; }
    // Shows the window modally; returns IDOK/IDCANCEL once it has closed.
    int RunModal();
    void CallScript(const std::string& name, const std::string& text);

    // PageWindow: notifications go to this window's page.
    void NotifyPage(const std::string& text) override;
    void Post(std::function<void()> fn) override;
    void PostClose() override;

    // --- for the platform window ---
    // A document finished loading; true only for the first one, when the
    // host fills "txtPageParam" and raises "OnDlgInit".
    bool OnDocumentComplete() { return m_nDocComplete++ < 1; }
    // The page's renderer died and the page is loaded again: that load is
    // a first one (the new document needs its "txtPageParam" and
    // "OnDlgInit" like the lost one had).
    void OnPageLost() { m_nDocComplete = 0; }
    // The system close command: asks on main pages and empties "temp";
    // false when the user said No and the window stays.
    bool OnSysClose();
    // The page's window.external.CallFromHtml; error is set (non-empty)
    // when the call is to raise an exception in the script instead.
    std::string CallFromHtml(const std::string& a, const std::string& b, const std::string& c, std::string& error);

    const DlgTemplate& Template() const { return m_dlgTemplate; }
    PixelRect WindowRect() const { return TemplateToPixels(m_dlgTemplate); }
    bool HasCaption() const { return (m_dlgTemplate.style & kWsCaption) == kWsCaption; }
    bool Maximize() const { return m_bMaximize; }
    const std::shared_ptr<const DlgContext>& Context() const { return m_context; }
    CCommonTool& Tool() const { return *m_context->tool; }
    PageHost& Host() const { return *m_host; }
    // Files directly in moduleDir/temp are deleted; folders stay.
    void EmptyTempFolder() const;

    std::string m_strUrl;
    std::string m_strTitle;
    std::string m_strPageParam;
    std::string m_strPageResult;
    DlgTemplate m_dlgTemplate;
    bool m_bMaximize = false;
    int m_nDocComplete = 0;
    const ParamMap* m_pParamMap = nullptr;

private:
    WorkArea ReadWorkArea() const { return m_host->GetWorkArea(); }

    std::shared_ptr<const DlgContext> m_context;
    std::unique_ptr<PageHost> m_host;
    std::unique_ptr<CScriptBridge> m_pBridge;
};

// True when the address names a main page ("main.htm" or "LocalServer.htm"
// as its last path piece, split at "/" and "\\", query left off).
bool IsMainPageAddress(const std::string& address);

}  // namespace quorvin
