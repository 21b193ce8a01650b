// win_dll_check: loads win_probe.dll the way a host loads a plug-in (LoadLibrary,
// GetProcAddress by name), calls into it, and unloads it. Checks that the
// statically linked runtime (threads included) works inside a DLL and that the
// DLL comes and goes cleanly. Prints "N passed, N failed"; exit 0 only when all pass.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "Checks.h"
#include "ProbeModule.h"

using GetModuleFn = ProbeModule* (*)();

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: win_dll_check PATH\\win_probe.dll\n");
        return 2;
    }
    // Load, use and unload twice: a second load must find a clean slate.
    for (int round = 0; round < 2; ++round) {
        HMODULE dll = ::LoadLibraryA(argv[1]);
        EXPECT(dll != nullptr);
        if (!dll) {
            std::printf("LoadLibrary(%s) failed: error %lu\n", argv[1], ::GetLastError());
            break;
        }
        auto get = reinterpret_cast<GetModuleFn>(
            reinterpret_cast<void*>(::GetProcAddress(dll, "ProbeGetModule")));
        EXPECT(get != nullptr);
        // Internal names must not be reachable from outside.
        EXPECT(::GetProcAddress(dll, "mpg123_new") == nullptr);
        EXPECT(::GetProcAddress(dll, "pthread_create") == nullptr);
        if (get) {
            ProbeModule* m = get();
            EXPECT(m != nullptr);
            if (m) {
                EXPECT(m->version == 1);
                EXPECT(m->description && std::strcmp(m->description, "Vantrel build probe") == 0);
                EXPECT(m->sumOnThread(100000) == 5000050000LL);
                EXPECT(m->hasGenericDecoder() == 1);
                EXPECT(m->rejectsMissingFile("Z:\\no\\such\\dir\\file.vn") == 1);
            }
        }
        EXPECT(::FreeLibrary(dll) != 0);
    }
    return wincheck::Summary("win_dll_check");
}
