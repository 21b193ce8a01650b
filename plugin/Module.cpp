// The module record, the plug-in-wide state and the small entry points: configuration,
// about, init and quit, file recognition, file information, length, volume and pan.
#include <cstring>
#include <type_traits>

#include "plugin/Plugin.h"

#ifdef _WIN32
#define VANTREL_EXPORT extern "C" __declspec(dllexport)
#else
#define VANTREL_EXPORT extern "C" __attribute__((visibility("default")))
#endif

CSongPlayer g_player;
std::mutex g_playerLock;
char g_currentPath[260] = "";
int g_songLengthMs = 0;
std::atomic<int> g_paused{0};
std::atomic<int> g_pendingSeekMs{-1};
std::atomic<int> g_decodedMs{0};
std::atomic<int> g_stopRequested{0};
HANDLE g_decodeThread = INVALID_HANDLE_VALUE;
char g_blockBuffer[2 * vantrel::pcm::kBlockBytes] = {};
SongInfoTexts g_infoTexts;
In_Module g_module = {};

static_assert(sizeof(std::atomic<int>) == sizeof(int) && std::atomic<int>::is_always_lock_free,
              "the shared values are plain 32-bit ints to both threads");

namespace {

char g_description[] = "Corvela Vantrel for Winamp v1.0 x86";
char g_extensions[] = "vn\0Vantsong File (*.vn)\0"; // the literal's own NUL ends the list

const char* AfterLastBackslash(const char* path)
{
    const char* slash = std::strrchr(path, '\\');
    return slash ? slash + 1 : path;
}

// Equaliser settings are ignored: the record gets the same empty function as Init.
// Both calling conventions the host uses leave the arguments to the caller, so the
// extra ones are harmless.
using EQSetFn = void (*)(int, char*, int);

// What the host calls: the entry point wrapped so that no exception crosses into the
// host (it is not C++, and an exception leaving a C callback ends the process). A
// failed call does nothing more and returns `failed`.
template <auto Fn, auto failed = 0> struct Guarded;
template <typename R, typename... Args, R (*Fn)(Args...), auto failed> struct Guarded<Fn, failed>
{
    static R Call(Args... args) noexcept
    {
        try {
            return Fn(args...);
        } catch (...) {
            if constexpr (!std::is_void_v<R>)
                return static_cast<R>(failed);
        }
    }
};

} // namespace

void Config(HWND parent) { MessageBoxA(parent, "No configuration yet", "Configuration", MB_OK); }

void About(HWND parent)
{
    MessageBoxA(parent, "Corvela VN Player: plays Vantsong files (*.vn) with the Vantrel engine.",
                "About Corvela VN Player", MB_OK);
}

void Init() {}

int IsOurFile(char*) { return 0; }

void GetFileInfo(char* file, char* title, int* lengthMs)
{
    if (file && *file) {
        if (lengthMs)
            *lengthMs = -1000;
        if (title)
            std::strcpy(title, AfterLastBackslash(file));
    } else {
        if (lengthMs)
            *lengthMs = g_songLengthMs;
        if (title)
            std::strcpy(title, AfterLastBackslash(g_currentPath));
    }
}

int GetLength() { return g_songLengthMs; }

void SetVolume(int volume) { g_module.outMod->SetVolume(volume); }

void SetPan(int pan) { g_module.outMod->SetPan(pan); }

void StoreCurrentPath(const char* path)
{
    const size_t n = path ? strnlen(path, sizeof g_currentPath - 1) : 0;
    if (n)
        std::memcpy(g_currentPath, path, n);
    g_currentPath[n] = '\0';
}

VANTREL_EXPORT In_Module* winampGetInModule2()
{
    // Play answers a failure like an output that cannot open (1: nothing plays);
    // Init, Quit and EQSet do nothing and cannot fail.
    g_module.version = IN_VER;
    g_module.description = g_description;
    g_module.hMainWindow = nullptr;
    g_module.hDllInstance = nullptr;
    g_module.FileExtensions = g_extensions;
    g_module.is_seekable = 1;
    g_module.UsesOutputPlug = 1;
    g_module.Config = Guarded<Config>::Call;
    g_module.About = Guarded<About>::Call;
    g_module.Init = Init;
    g_module.Quit = Init;
    g_module.GetFileInfo = Guarded<GetFileInfo>::Call;
    g_module.InfoBox = Guarded<InfoBox>::Call;
    g_module.IsOurFile = Guarded<IsOurFile>::Call;
    g_module.Play = Guarded<Play, 1>::Call;
    g_module.Pause = Guarded<Pause>::Call;
    g_module.UnPause = Guarded<UnPause>::Call;
    g_module.IsPaused = Guarded<IsPaused>::Call;
    g_module.Stop = Guarded<Stop>::Call;
    g_module.GetLength = Guarded<GetLength>::Call;
    g_module.GetOutputTime = Guarded<GetOutputTime>::Call;
    g_module.SetOutputTime = Guarded<SetOutputTime>::Call;
    g_module.SetVolume = Guarded<SetVolume>::Call;
    g_module.SetPan = Guarded<SetPan>::Call;
    g_module.SAVSAInit = nullptr;
    g_module.SAVSADeInit = nullptr;
    g_module.SAAddPCMData = nullptr;
    g_module.SAGetMode = nullptr;
    g_module.SAAdd = nullptr;
    g_module.VSAAddPCMData = nullptr;
    g_module.VSAGetMode = nullptr;
    g_module.VSAAdd = nullptr;
    g_module.VSASetInfo = nullptr;
    g_module.dsp_isactive = nullptr;
    g_module.dsp_dosamples = nullptr;
    g_module.EQSet = reinterpret_cast<EQSetFn>(&Init);
    g_module.SetInfo = nullptr;
    g_module.outMod = nullptr;
    return &g_module;
}
