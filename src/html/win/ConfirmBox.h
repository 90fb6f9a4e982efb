// The yes/no box of the close confirmation: a message box titled
// "系统提示信息" with a question icon, system-modal, owned by the asking
// window.
#pragma once

#include <windows.h>

#include <functional>

#include "common/CommonTool.h"

namespace quorvin::win {

class ConfirmBox : public ConfirmPrompt {
public:
    // owner gives the window the box belongs to (may give null).
    explicit ConfirmBox(std::function<HWND()> owner) : m_owner(std::move(owner)) {}
    bool Ask(const std::string& question, bool noIsDefault) override;

private:
    std::function<HWND()> m_owner;
};

}  // namespace quorvin::win
