// A stand-in for the part of Win32 that the plug-in uses, for POSIX systems: threads
// with an unlimited or bounded wait, sleeping, posting a message to a window, message
// boxes and modal dialogs built from the templates a module registers (off Windows
// there are no compiled resources: the module hands its templates over itself).
//
// A window handle (HWND) points at a CStandInWindow. The host implements its main
// window as a subclass: posted messages arrive through Post (CHostWindow queues them
// for the host's thread), message boxes and dialogs owned by the window are shown to
// it through ShowMessageBox and RunModalDialog, where the host (or a test) reads them
// and closes them. The plug-in and the host live in different modules with their own
// copies of this code; they meet only through the virtual functions of these objects.
#pragma once
#ifndef _WIN32

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

using BOOL = int;
using UINT = unsigned int;
using DWORD = uint32_t;
using SIZE_T = size_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using INT_PTR = intptr_t;
using LPVOID = void*;
using LPCSTR = const char*;
using LPSTR = char*;
using LPDWORD = DWORD*;
using HANDLE = void*;
struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

class CStandInWindow;
class CStandInDialog;
using HWND = CStandInWindow*;
// A module instance: opaque; the host passes its own value for the library.
struct StandInInstance;
using HINSTANCE = StandInInstance*;

#define WINAPI
#define CALLBACK
#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0u
#define WAIT_TIMEOUT 258u
#define WAIT_FAILED 0xFFFFFFFFu
#define WM_USER 0x0400u
#define WM_INITDIALOG 0x0110u
#define WM_COMMAND 0x0111u
#define IDOK 1
#define IDCANCEL 2
#define MB_OK 0x0u
#define VK_RETURN 0x0D
#define VK_ESCAPE 0x1B
#define LOWORD(l) (static_cast<uint16_t>(static_cast<uintptr_t>(l) & 0xFFFFu))
#define MAKEINTRESOURCEA(i) (reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(static_cast<uint16_t>(i))))

typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID);
typedef INT_PTR(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);

// ---- What the plug-in calls -------------------------------------------------------

// Starts fn(param) on a new thread. Security, stack size and flags are ignored; the
// thread id, if asked for, is a small counter. Returns null on failure.
HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE fn, LPVOID param, DWORD flags,
                    LPDWORD threadId);
// Waits for a thread handle to end, at most `ms` (INFINITE: no limit).
DWORD WaitForSingleObject(HANDLE h, DWORD ms);
// Releases a thread handle; a thread still running goes on, detached.
BOOL CloseHandle(HANDLE h);
void Sleep(DWORD ms);
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// A window-less box (null owner) is written to standard error and answered with IDOK.
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
// Runs the dialog whose template id is given (one that RegisterDialogTemplate made
// known); returns what EndDialog was given, or -1 for an unknown template.
INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC proc, LPARAM param);
BOOL EndDialog(HWND dialog, INT_PTR result);
BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text);
BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned);
UINT GetDlgItemTextA(HWND dialog, int id, LPSTR text, int max);

// ---- Windows ------------------------------------------------------------------------

class CStandInWindow
{
public:
    virtual ~CStandInWindow() = default;
    // A message posted to this window. False: the window takes no messages.
    virtual bool Post(UINT message, WPARAM wParam, LPARAM lParam);
    // A modal message box owned by this window; returns the button that closed it.
    virtual int ShowMessageBox(const char* text, const char* caption, UINT type);
    // A modal dialog owned by this window, after its WM_INITDIALOG. Returns when the
    // owner is done with it; a dialog the owner did not end is then cancelled.
    virtual void RunModalDialog(CStandInDialog& dialog);
    // Controls of a dialog window.
    virtual bool SetItemText(int id, const char* text);
    virtual bool GetItemText(int id, std::string& text) const;
    // Ends a modal dialog with the given result. False: not a dialog.
    virtual bool EndModal(INT_PTR result);
};

// A dialog built from a template: its controls with their texts, and its procedure.
class CStandInDialog : public CStandInWindow
{
public:
    struct Control
    {
        std::string strClass;
        int nId;
        std::string strText;
        int x, y, cx, cy;
        uint32_t dwStyle;
    };

    CStandInDialog(int templateId, std::string caption, std::vector<Control> controls, DLGPROC proc);

    bool SetItemText(int id, const char* text) override;
    bool GetItemText(int id, std::string& text) const override;

    virtual int GetTemplateId() const { return m_nTemplateId; }
    virtual std::string GetCaption() const { return m_strCaption; }
    virtual std::vector<Control> GetControls() const { return m_arrControls; }
    // Sends WM_COMMAND with the given id (a button press) to the dialog procedure.
    virtual INT_PTR Command(int id);
    // A key pressed in the dialog: Escape sends IDCANCEL, Return the default button.
    virtual void Key(int virtualKey);
    virtual INT_PTR Send(UINT message, WPARAM wParam, LPARAM lParam);
    virtual bool IsEnded() const { return m_bEnded; }
    virtual INT_PTR GetResult() const { return m_nResult; }
    bool EndModal(INT_PTR result) override;

private:
    int m_nTemplateId;
    std::string m_strCaption;
    std::vector<Control> m_arrControls;
    DLGPROC m_pProc;
    bool m_bEnded = false;
    INT_PTR m_nResult = 0;
};

// A dialog template as a module's resource script describes it: the caption and the
// controls in template order.
struct StandInDialogTemplate
{
    std::string strCaption;
    std::vector<CStandInDialog::Control> arrControls;
};

// Makes `templateId` a template that DialogBoxParamA can build, replacing one of the
// same id. A module registers its templates before it shows them.
void RegisterDialogTemplate(int templateId, StandInDialogTemplate dialogTemplate);

// ---- The host's side ----------------------------------------------------------------

// A host's main window: posted messages queue up for the host's thread; message boxes
// and dialogs go to handlers the host sets (without one, a box is answered with IDOK
// and a dialog is cancelled).
class CHostWindow : public CStandInWindow
{
public:
    struct Message
    {
        UINT nMessage;
        WPARAM wParam;
        LPARAM lParam;
    };

    bool Post(UINT message, WPARAM wParam, LPARAM lParam) override;
    int ShowMessageBox(const char* text, const char* caption, UINT type) override;
    void RunModalDialog(CStandInDialog& dialog) override;

    // Takes the oldest posted message, waiting at most `timeout` for one.
    bool WaitMessage(Message& message, std::chrono::milliseconds timeout);
    size_t PendingMessages() const;

    std::function<int(const char* text, const char* caption, UINT type)> onMessageBox;
    std::function<void(CStandInDialog& dialog)> onDialog;

private:
    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<Message> m_queue;
};

#endif // !_WIN32
