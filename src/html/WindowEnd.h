// WindowEnd: when a page window may end. The close command (close button,
// Alt+F4) is taken only by the innermost window while its page is in no
// call, once at a time; it asks the dialog (confirmation, "temp"), runs
// "OnDlgEnd" and ends the window when that has run or a few seconds have
// passed. Any other end (ExitPageDlg, BtnCancel, the agent's exit) waits
// only for the page's current call to return.
#pragma once

namespace quorvin {

class WindowEnd {
public:
    // The time "OnDlgEnd" gets before the window ends without it.
    static constexpr int kOnDlgEndMs = 5000;

    // A new run of the window.
    void Reset(int result);
    // May the close command start now?
    bool MayClose(bool innermost, bool callPending) const {
        return innermost && !callPending && !m_closing && !m_endRequested;
    }
    // The close command is running (between the question and the end).
    void SetClosing(bool closing) { m_closing = closing; }
    // "OnDlgEnd" has returned (timedOut: its time ran out first): should the
    // window end now?
    bool EndAfterOnDlgEnd(bool timedOut) const { return !m_endRequested && (!timedOut || m_closing); }
    // Ends the window with result; true when it may end at once (no call
    // pending), otherwise it ends when the call returns.
    bool Request(int result, bool callPending);
    // Ends the window without a result of its own (destroyed, the agent ends).
    void Force() { m_endRequested = true; }

    bool Requested() const { return m_endRequested; }
    int Result() const { return m_result; }

private:
    bool m_closing = false;
    bool m_endRequested = false;
    int m_result = 0;
};

}  // namespace quorvin
