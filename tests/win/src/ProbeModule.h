// The record that win_probe.dll hands out from its one export, ProbeGetModule, and
// that win_dll_check reads: both sides must see the same layout.
#pragma once

extern "C" {

struct ProbeModule {
    int version;
    const char* description;
    // Sums 1..n on a second thread; returns -1 when the thread could not run.
    long long (*sumOnThread)(int n);
    // Returns 1 when libmpg123's "generic" decoder can be created.
    int (*hasGenericDecoder)();
    // Returns 1 when the engine's CFile fails to open PATH as it should.
    int (*rejectsMissingFile)(const char* path);
};

}
