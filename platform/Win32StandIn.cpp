// The POSIX stand-in for the Win32 calls of the plug-in (see Win32StandIn.h).
#ifndef _WIN32

#include "platform/Win32StandIn.h"

#include <atomic>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <thread>

namespace {

struct ThreadState
{
    std::mutex lock;
    std::condition_variable ended;
    bool bEnded = false;
};

struct StandInThread
{
    std::thread thread;
    std::shared_ptr<ThreadState> pState;
};

std::atomic<DWORD> g_nextThreadId{1};

// A button's type in the low four bits of its style: BS_DEFPUSHBUTTON.
constexpr uint32_t kDefaultPushButton = 0x1u;

// The module's dialog templates, by id.
std::mutex g_templateLock;
std::map<int, StandInDialogTemplate>& Templates()
{
    static std::map<int, StandInDialogTemplate> s_templates;
    return s_templates;
}

} // namespace

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE fn, LPVOID param, DWORD,
                    LPDWORD threadId)
{
    auto handle = std::make_unique<StandInThread>();
    auto state = std::make_shared<ThreadState>();
    handle->pState = state;
    try {
        handle->thread = std::thread([fn, param, state] {
            fn(param);
            std::lock_guard<std::mutex> guard(state->lock);
            state->bEnded = true;
            state->ended.notify_all();
        });
    } catch (const std::system_error&) {
        return nullptr;
    }
    if (threadId)
        *threadId = g_nextThreadId++;
    return handle.release();
}

DWORD WaitForSingleObject(HANDLE h, DWORD ms)
{
    if (!h || h == INVALID_HANDLE_VALUE)
        return WAIT_FAILED;
    auto* t = static_cast<StandInThread*>(h);
    std::unique_lock<std::mutex> guard(t->pState->lock);
    auto ended = [&] { return t->pState->bEnded; };
    if (ms == INFINITE)
        t->pState->ended.wait(guard, ended);
    else if (!t->pState->ended.wait_for(guard, std::chrono::milliseconds(ms), ended))
        return WAIT_TIMEOUT;
    return WAIT_OBJECT_0;
}

BOOL CloseHandle(HANDLE h)
{
    if (!h || h == INVALID_HANDLE_VALUE)
        return FALSE;
    auto* t = static_cast<StandInThread*>(h);
    bool ended;
    {
        std::lock_guard<std::mutex> guard(t->pState->lock);
        ended = t->pState->bEnded;
    }
    if (t->thread.joinable()) {
        if (ended)
            t->thread.join(); // it has only its return left to do
        else
            t->thread.detach();
    }
    delete t;
    return TRUE;
}

void Sleep(DWORD ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return window && window->Post(message, wParam, lParam) ? TRUE : FALSE;
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    if (owner)
        return owner->ShowMessageBox(text ? text : "", caption ? caption : "", type);
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
    return IDOK;
}

INT_PTR DialogBoxParamA(HINSTANCE, LPCSTR templateName, HWND owner, DLGPROC proc, LPARAM param)
{
    const auto id = static_cast<int>(reinterpret_cast<uintptr_t>(templateName));
    StandInDialogTemplate found;
    {
        std::lock_guard<std::mutex> guard(g_templateLock);
        auto it = Templates().find(id);
        if (it == Templates().end() || !proc)
            return -1;
        found = it->second;
    }
    CStandInDialog dialog(id, std::move(found.strCaption), std::move(found.arrControls), proc);
    dialog.Send(WM_INITDIALOG, 0, param);
    if (!dialog.IsEnded() && owner)
        owner->RunModalDialog(dialog);
    if (!dialog.IsEnded())
        dialog.Command(IDCANCEL); // as if its close box were clicked
    return dialog.IsEnded() ? dialog.GetResult() : -1;
}

void RegisterDialogTemplate(int templateId, StandInDialogTemplate dialogTemplate)
{
    std::lock_guard<std::mutex> guard(g_templateLock);
    Templates()[templateId] = std::move(dialogTemplate);
}

BOOL EndDialog(HWND dialog, INT_PTR result)
{
    return dialog && dialog->EndModal(result) ? TRUE : FALSE;
}

BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text)
{
    return dialog && dialog->SetItemText(id, text ? text : "") ? TRUE : FALSE;
}

BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned)
{
    const std::string text = isSigned ? std::to_string(static_cast<int>(value)) : std::to_string(value);
    return SetDlgItemTextA(dialog, id, text.c_str());
}

UINT GetDlgItemTextA(HWND dialog, int id, LPSTR text, int max)
{
    std::string value;
    if (!dialog || !dialog->GetItemText(id, value) || max <= 0) {
        if (text && max > 0)
            text[0] = '\0';
        return 0;
    }
    const size_t n = std::min(value.size(), static_cast<size_t>(max - 1));
    std::memcpy(text, value.data(), n);
    text[n] = '\0';
    return static_cast<UINT>(n);
}

// ---- CStandInWindow -----------------------------------------------------------------

bool CStandInWindow::Post(UINT, WPARAM, LPARAM) { return false; }

int CStandInWindow::ShowMessageBox(const char* text, const char* caption, UINT)
{
    std::fprintf(stderr, "%s: %s\n", caption, text);
    return IDOK;
}

void CStandInWindow::RunModalDialog(CStandInDialog&) {}

bool CStandInWindow::SetItemText(int, const char*) { return false; }

bool CStandInWindow::GetItemText(int, std::string&) const { return false; }

bool CStandInWindow::EndModal(INT_PTR) { return false; }

// ---- CStandInDialog -----------------------------------------------------------------

CStandInDialog::CStandInDialog(int templateId, std::string caption, std::vector<Control> controls, DLGPROC proc)
    : m_nTemplateId(templateId), m_strCaption(std::move(caption)), m_arrControls(std::move(controls)),
      m_pProc(proc)
{
}

bool CStandInDialog::SetItemText(int id, const char* text)
{
    for (Control& c : m_arrControls) {
        if (c.nId == id) {
            c.strText = text;
            return true;
        }
    }
    return false;
}

bool CStandInDialog::GetItemText(int id, std::string& text) const
{
    for (const Control& c : m_arrControls) {
        if (c.nId == id) {
            text = c.strText;
            return true;
        }
    }
    return false;
}

INT_PTR CStandInDialog::Send(UINT message, WPARAM wParam, LPARAM lParam)
{
    return m_pProc ? m_pProc(this, message, wParam, lParam) : 0;
}

INT_PTR CStandInDialog::Command(int id) { return Send(WM_COMMAND, static_cast<WPARAM>(static_cast<uint16_t>(id)), 0); }

void CStandInDialog::Key(int virtualKey)
{
    if (virtualKey == VK_ESCAPE) {
        Command(IDCANCEL);
    } else if (virtualKey == VK_RETURN) {
        for (const Control& c : m_arrControls) {
            if (c.strClass == "Button" && (c.dwStyle & 0xFu) == kDefaultPushButton) {
                Command(c.nId);
                return;
            }
        }
        Command(IDOK);
    }
}

bool CStandInDialog::EndModal(INT_PTR result)
{
    m_bEnded = true;
    m_nResult = result;
    return true;
}

// ---- CHostWindow --------------------------------------------------------------------

bool CHostWindow::Post(UINT message, WPARAM wParam, LPARAM lParam)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_queue.push_back(Message{message, wParam, lParam});
    }
    m_wake.notify_all();
    return true;
}

int CHostWindow::ShowMessageBox(const char* text, const char* caption, UINT type)
{
    if (onMessageBox)
        return onMessageBox(text, caption, type);
    return CStandInWindow::ShowMessageBox(text, caption, type);
}

void CHostWindow::RunModalDialog(CStandInDialog& dialog)
{
    if (onDialog)
        onDialog(dialog);
}

bool CHostWindow::WaitMessage(Message& message, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> guard(m_lock);
    if (!m_wake.wait_for(guard, timeout, [&] { return !m_queue.empty(); }))
        return false;
    message = m_queue.front();
    m_queue.pop_front();
    return true;
}

size_t CHostWindow::PendingMessages() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_queue.size();
}

#endif // !_WIN32
