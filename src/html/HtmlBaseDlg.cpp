#include "html/HtmlBaseDlg.h"

#include <strings.h>

#include <filesystem>
#include <system_error>
#include <vector>

#include "common/CodePage.h"
#include "html/ScriptBridge.h"

namespace quorvin {
namespace fs = std::filesystem;

namespace {

bool EqualsNoCase(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

}  // namespace

std::shared_ptr<const DlgContext> DefaultDlgContext() {
    auto context = std::make_shared<DlgContext>();
    context->tool = std::make_shared<CCommonTool>();
    context->hostFactory = MakePlatformPageHost;
    context->links = GetProcessLinks;
    return context;
}

bool IsMainPageAddress(const std::string& address) {
    const std::size_t cut = address.find_last_of("/\\");
    std::string last = cut == std::string::npos ? address : address.substr(cut + 1);
    const std::size_t query = last.find_first_of("?#");
    if (query != std::string::npos) last.resize(query);
    return EqualsNoCase(last, "main.htm") || EqualsNoCase(last, "LocalServer.htm");
}

CHtmlBaseDlg::CHtmlBaseDlg(std::shared_ptr<const DlgContext> context)
    : m_context(context ? std::move(context) : DefaultDlgContext()) {
    m_host = m_context->hostFactory(*this);
    const WorkArea wa = ReadWorkArea();
    m_dlgTemplate.x = ToDialogUnitsX(wa.left);
    m_dlgTemplate.y = ToDialogUnitsY(wa.top);
    m_dlgTemplate.cx = ToDialogUnitsX(wa.right - wa.left);
    m_dlgTemplate.cy = ToDialogUnitsY(wa.bottom - wa.top);
    m_pBridge = std::make_unique<CScriptBridge>(*this);
}

CHtmlBaseDlg::~CHtmlBaseDlg() {
    // The bridge goes first: it may still name this window to the links.
    m_pBridge.reset();
    m_host.reset();
}

void CHtmlBaseDlg::SetPosition(int x, int y, int width, int height) {
    const WorkArea wa = ReadWorkArea();
    if (width == 0) width = wa.right - wa.left;
    if (height == 0) height = wa.bottom - wa.top;
    SetSize(x, y, width, height);
}

void CHtmlBaseDlg::SetSize(int x, int y, int width, int height) {
    m_dlgTemplate.cx = ToDialogUnitsX(width);
    m_dlgTemplate.cy = ToDialogUnitsY(height);
    m_dlgTemplate.x = ToDialogUnitsX(x);
    m_dlgTemplate.y = ToDialogUnitsY(y);
}

void CHtmlBaseDlg::CenterOnWorkArea() {
    const WorkArea wa = ReadWorkArea();
    const int w = ToDialogUnitsX(wa.right - wa.left);
    const int h = ToDialogUnitsY(wa.bottom - wa.top);
    m_dlgTemplate.x = static_cast<std::int16_t>(w / 2 - m_dlgTemplate.cx / 2);
    m_dlgTemplate.y = static_cast<std::int16_t>(h / 2 - m_dlgTemplate.cy / 2);
}

void CHtmlBaseDlg::SetAlign(const std::string& keyword) {
    const WorkArea wa = ReadWorkArea();
    const int w = ToDialogUnitsX(wa.right - wa.left);
    const int h = ToDialogUnitsY(wa.bottom - wa.top);
    const int cx = m_dlgTemplate.cx;
    const int cy = m_dlgTemplate.cy;
    const int mx = w / 2 - cx / 2;
    const int my = h / 2 - cy / 2;
    struct Place {
        const char* keyword;
        int x, y;
    };
    const Place table[] = {
        {"center", mx, my},
        {"left", 0, my},
        {"left-top", 0, 1},
        {"top", mx, 0},
        {"right-top", w - cx, 0},
        {"right", w - cx, my},
        {"right-bottom", w - cx, h - cy},
        {"bottom", mx, h - cy},
        {"left-bottom", 0, h - cy},
    };
    for (const Place& p : table) {
        if (EqualsNoCase(keyword, p.keyword)) {
            m_dlgTemplate.x = static_cast<std::int16_t>(p.x);
            m_dlgTemplate.y = static_cast<std::int16_t>(p.y);
            return;
        }
    }
}

void CHtmlBaseDlg::SetStatus(const std::string& status) { m_bMaximize = EqualsNoCase(status, "max"); }

namespace {
void SetBit(std::uint32_t& style, std::uint32_t bits, int value) {
    if (value == 1) {
        style |= bits;
    } else {
        style &= ~bits;
    }
}
}  // namespace

void CHtmlBaseDlg::SetCaption(int value) { SetBit(m_dlgTemplate.style, kWsCaption, value); }
void CHtmlBaseDlg::SetSysMenu(int value) { SetBit(m_dlgTemplate.style, kWsSysMenu, value); }
void CHtmlBaseDlg::SetMinBox(int value) { SetBit(m_dlgTemplate.style, kWsMinimizeBox, value); }
void CHtmlBaseDlg::SetMaxBox(int value) { SetBit(m_dlgTemplate.style, kWsMaximizeBox, value); }

void CHtmlBaseDlg::SetBorder(int value) {
    switch (value) {
        case 2: m_dlgTemplate.style |= kWsDlgFrame; break;
        case 1: m_dlgTemplate.style |= kWsBorder; break;
        case 0: m_dlgTemplate.style &= 0xFF3FFFFFu; break;
        default: break;
    }
}

int CHtmlBaseDlg::RunModal() { return m_host->RunModal(); }

void CHtmlBaseDlg::CallScript(const std::string& name, const std::string& text) { m_host->CallScript(name, text); }

void CHtmlBaseDlg::NotifyPage(const std::string& text) { m_host->NotifyPage(text); }
void CHtmlBaseDlg::Post(std::function<void()> fn) { m_host->Post(std::move(fn)); }
void CHtmlBaseDlg::PostClose() { m_host->PostClose(); }

bool CHtmlBaseDlg::OnSysClose() {
    if (!IsMainPageAddress(m_strUrl)) return true;
    if (!Tool().Confirm(Utf8ToLocal("您确定要退出系统吗？"), true)) return false;
    EmptyTempFolder();
    return true;
}

void CHtmlBaseDlg::EmptyTempFolder() const {
    std::vector<std::string> folders, files;
    const std::string temp = Tool().GetModuleDir() + "/temp";
    Tool().ListDirectory(temp, folders, files);
    for (const std::string& name : files) {
        std::error_code ec;
        fs::remove(fs::path(temp) / name, ec);  // failures are ignored: the window closes regardless
    }
}

std::string CHtmlBaseDlg::CallFromHtml(const std::string& a, const std::string& b, const std::string& c,
                                       std::string& error) {
    return m_pBridge->CallFromHtml(a, b, c, error);
}

}  // namespace quorvin
