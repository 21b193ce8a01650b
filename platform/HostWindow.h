// A host's main window, for the programs that host the plug-in (the tool's play
// command and the plug-in tests). On Windows a real, hidden top-level window of a
// class of its own: the plug-in posts its messages to it, and the host's thread pumps
// its messages while it waits for one. Elsewhere the stand-in's CHostWindow
// (platform/Win32StandIn.h) plays the part.
#pragma once

#include "platform/Win32.h"

#ifdef _WIN32
#include <chrono>
#include <cstddef>
#include <deque>

class CHostWindow
{
public:
    struct Message
    {
        UINT nMessage;
        WPARAM wParam;
        LPARAM lParam;
    };

    // Throws std::runtime_error when the window cannot be made.
    CHostWindow();
    ~CHostWindow();
    CHostWindow(const CHostWindow&) = delete;
    CHostWindow& operator=(const CHostWindow&) = delete;

    HWND Handle() const { return m_hWnd; }
    // Pumps this thread's messages until one from WM_USER on has been posted to the
    // window (returned, oldest first) or `timeout` has passed (false).
    bool WaitMessage(Message& message, std::chrono::milliseconds timeout);
    // Pumps what is queued; the posted messages not yet taken.
    size_t PendingMessages();

private:
    void Pump();
    HWND m_hWnd = nullptr;
    std::deque<Message> m_queue;
};
#endif // _WIN32
