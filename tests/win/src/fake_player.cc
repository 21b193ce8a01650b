// A stand-in for the media player in the setup program's tests: a top-level window of
// the player's class ("Winamp v1.x"), which is how installers find a running player.
//
//   win_fake_player.exe [READY-FILE [--hold DLL]]
//
// Creates the window, then writes READY-FILE (so a test knows the window exists
// without waiting for a time), and runs until the window is closed (WM_CLOSE, as a
// user or an installer would close it) or the process is ended. With --hold it makes
// no window but loads DLL, as a player of another window class playing through the
// plug-in would hold it.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

LRESULT CALLBACK WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

bool WriteReady(const char* path)
{
    std::FILE* f = std::fopen(path, "w");
    if (!f || std::fputs("ready\n", f) < 0 || std::fclose(f) != 0) {
        std::fprintf(stderr, "cannot write %s\n", path);
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[2], "--hold") == 0) {
        if (!LoadLibraryA(argv[3])) {
            std::fprintf(stderr, "cannot load %s: %lu\n", argv[3], GetLastError());
            return 1;
        }
        if (!WriteReady(argv[1]))
            return 1;
        Sleep(INFINITE);
    }
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
    if (argc > 1 && !WriteReady(argv[1]))
        return 1;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
