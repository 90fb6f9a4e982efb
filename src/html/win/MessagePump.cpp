#include "html/win/MessagePump.h"

#include <thread>

namespace quorvin::win {
namespace {

void Dispatch(MSG& msg, const MessageFilter& filter) {
    if (filter && filter(msg)) return;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}

}  // namespace

bool PumpUntil(const std::function<bool()>& done, const MessageFilter& filter) {
    MSG msg;
    while (!done()) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == -1) return false;
        if (got == 0) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return false;
        }
        Dispatch(msg, filter);
    }
    return true;
}

void RunPumping(const std::function<void()>& fn) {
    HANDLE finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (finished == nullptr) {
        fn();  // no event to wait on: run it here rather than not at all
        return;
    }
    std::thread worker([&] {
        fn();
        SetEvent(finished);
    });
    bool quit = false;
    int quitCode = 0;
    for (;;) {
        const DWORD woke = MsgWaitForMultipleObjectsEx(1, &finished, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woke != WAIT_OBJECT_0 + 1) break;  // fn has returned (or the wait failed: join below)
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit = true;
                quitCode = static_cast<int>(msg.wParam);
                continue;
            }
            Dispatch(msg, {});
        }
    }
    worker.join();
    CloseHandle(finished);
    if (quit) PostQuitMessage(quitCode);
}

}  // namespace quorvin::win
