// win_probe.dll: a stand-in for a plug-in DLL, built the way the product DLL
// will be (static runtime, engine, libmpg123, resources), to check the toolchain
// and scripts/win/inspect-pe.py before the real plug-in exists. It exports one
// C function, ProbeGetModule, and nothing else may leak into its export table.
#include "platform/File.h"

#include <mpg123.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "ProbeModule.h"

extern "C" __declspec(dllexport) ProbeModule* ProbeGetModule(void);

namespace {

long long SumOnThread(int n)
{
    std::atomic<long long> sum{-1};
    try {
        std::thread t([&sum, n] {
            long long s = 0;
            for (int i = 1; i <= n; ++i)
                s += i;
            sum = s;
        });
        t.join();
    } catch (...) {
        return -1;
    }
    return sum;
}

int HasGenericDecoder()
{
    int err = 0;
    mpg123_handle* h = mpg123_new("generic", &err);
    if (!h)
        return 0;
    mpg123_delete(h);
    return 1;
}

int RejectsMissingFile(const char* path)
{
    CFile f;
    try {
        f.OpenOrThrow(path);
    } catch (const CFileException&) {
        return f.IsOpen() ? 0 : 1;
    }
    return 0;
}

ProbeModule g_module = {1, "Vantrel build probe", SumOnThread, HasGenericDecoder, RejectsMissingFile};

} // namespace

ProbeModule* ProbeGetModule(void) { return &g_module; }
