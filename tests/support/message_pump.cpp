#include "tests/support/message_pump.h"

bool PumpUntil(const std::function<bool()>& done, HANDLE wake, DWORD timeoutMs, bool* quitSeen)
{
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                if (quitSeen)
                    *quitSeen = true;
                continue;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (done())
            return true;
        ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            return false;
        MsgWaitForMultipleObjectsEx(wake ? 1 : 0, wake ? &wake : nullptr, static_cast<DWORD>(deadline - now),
                                    QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}
