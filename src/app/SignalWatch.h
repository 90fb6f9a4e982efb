// SignalWatch: SIGTERM and SIGINT as events a loop waits for, instead of
// the default end that kills the agent in the middle of its print tasks.
// The first signal is only noted; the loop ends the agent in order. A
// second one ends the process at once (status 128 + the signal), for an
// operator who will not wait. One instance per process.
#pragma once

namespace quorvin {

class SignalWatch {
public:
    // Installs the handlers; they stay until the destructor restores the
    // default ones.
    SignalWatch();
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    // False when the handlers could not be installed (signals then end
    // the process as before).
    bool Ok() const { return m_ok; }

    // Waits at most timeoutMs (negative: without limit) for a signal or a
    // Wake. The signal's number, 0 for a Wake, -1 when the time passed.
    // A signal that came before the call is reported at once.
    int Wait(int timeoutMs);

    // Makes a Wait return 0; from any thread.
    void Wake();

private:
    bool m_ok = false;
};

}  // namespace quorvin
