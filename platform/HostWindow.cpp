#include "platform/HostWindow.h"

#include <stdexcept>
#include <string>

CHostWindow::CHostWindow()
{
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "VantrelHostWindow";
    RegisterClassA(&wc); // fails harmlessly when an earlier window registered it
    m_hWnd = CreateWindowExA(0, wc.lpszClassName, "vantrel", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                             320, 200, nullptr, nullptr, wc.hInstance, nullptr);
    if (!m_hWnd)
        throw std::runtime_error("cannot create the host window (error " + std::to_string(GetLastError()) + ")");
}

CHostWindow::~CHostWindow() { DestroyWindow(m_hWnd); }

void CHostWindow::Pump()
{
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        if (m.hwnd == m_hWnd && m.message >= WM_USER) {
            m_queue.push_back(Message{m.message, m.wParam, m.lParam});
            continue;
        }
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
}

bool CHostWindow::WaitMessage(Message& message, std::chrono::milliseconds timeout)
{
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(timeout.count());
    for (;;) {
        Pump();
        if (!m_queue.empty()) {
            message = m_queue.front();
            m_queue.pop_front();
            return true;
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= end)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
    }
}

size_t CHostWindow::PendingMessages()
{
    Pump();
    return m_queue.size();
}
