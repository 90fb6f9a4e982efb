#include "html/win/ConfirmBox.h"

#include "html/win/WideText.h"

namespace quorvin::win {

bool ConfirmBox::Ask(const std::string& question, bool noIsDefault) {
    // System-modal: it stays above every window until answered.
    const UINT type =
        MB_YESNO | MB_ICONQUESTION | MB_SYSTEMMODAL | MB_SETFOREGROUND | (noIsDefault ? MB_DEFBUTTON2 : MB_DEFBUTTON1);
    const int answer = MessageBoxW(m_owner ? m_owner() : nullptr, LocalToWide(question).c_str(),
                                   Utf8ToWide("系统提示信息").c_str(), type);
    // Only an explicit No keeps the window; a box that could not be shown
    // asks nothing.
    return answer != IDNO;
}

}  // namespace quorvin::win
