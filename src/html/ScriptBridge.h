// CScriptBridge: the commands behind window.external.CallFromHtml. Runs on
// the window thread; every command answers one result text.
#pragma once

#include <string>

#include "html/BridgeLinks.h"

namespace quorvin {

class CHtmlBaseDlg;

class CScriptBridge {
public:
    explicit CScriptBridge(CHtmlBaseDlg& owner);
    CScriptBridge(const CScriptBridge&) = delete;
    CScriptBridge& operator=(const CScriptBridge&) = delete;

    // a is not used, b names the command (any letter case), c is its
    // parameter; texts in the local code page. A name outside the command
    // set answers empty. error becomes non-empty when the call is to raise
    // an exception in the page's script instead of answering.
    std::string CallFromHtml(const std::string& a, const std::string& b, const std::string& c, std::string& error);

private:
    std::string Navigate(const std::string& param);
    std::string ShowPageDlg(const std::string& param);
    std::string FileExist(const std::string& pattern) const;
    std::string CopyFile(const std::string& from, const std::string& to) const;

    CHtmlBaseDlg& m_owner;
    BridgeLinks m_links;
};

}  // namespace quorvin
