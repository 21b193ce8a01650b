// A stand-in for the media player in the setup program's tests: a top-level window of
// the player's class ("Winamp v1.x"), which is how installers find a running player.
//
//   win_fake_player.exe [READY-FILE]
//
// Creates the window, then writes READY-FILE (so a test knows the window exists
// without waiting for a time), and runs until the window is closed (WM_CLOSE, as a
// user or an installer would close it) or the process is ended.
#include <windows.h>

#include <cstdio>

namespace {

LRESULT CALLBACK WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

} // namespace

int main(int argc, char** argv)
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"Winamp v1.x";
    if (!RegisterClassW(&wc)) {
        std::fprintf(stderr, "RegisterClass failed: %lu\n", GetLastError());
        return 1;
    }
    HWND hWnd = CreateWindowExW(0, wc.lpszClassName, L"Fake player", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 200, 100, nullptr, nullptr, wc.hInstance, nullptr);
    if (!hWnd) {
        std::fprintf(stderr, "CreateWindow failed: %lu\n", GetLastError());
        return 1;
    }
    if (argc > 1) {
        std::FILE* f = std::fopen(argv[1], "w");
        if (!f || std::fputs("ready\n", f) < 0 || std::fclose(f) != 0) {
            std::fprintf(stderr, "cannot write %s\n", argv[1]);
            return 1;
        }
    }
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
