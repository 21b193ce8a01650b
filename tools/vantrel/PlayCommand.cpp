// vantrel play SONG... [--out FILE.wav] [--plugin PATH]
// vantrel play --info SONG
// Plays songs through the plug-in library, as the media player does: the library is
// loaded at run time, its module record gets this host's window, hooks and output, and
// Init, Play, Stop and Quit are driven from here. Each song is a new draw; the end
// message from the plug-in moves on to the next song. With --performance or
// --arrangement, each song plays the performance they name: its Play is made on a
// thread of its own (whose generator starts afresh, as in a player just started) after
// as many plays that do not sound as the number asks.
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#endif

#include "Commands.h"
#include "PerformanceChoice.h"
#include "PluginHost.h"
#include "platform/HostWindow.h"

namespace vantrel::tool {

namespace {

struct PlayOptions
{
    std::vector<std::string> arrSongs;
    std::string strOut;
    std::string strPlugin;
    bool bInfo = false;
    PerformanceChoice choice;
};

std::string Clock(int ms)
{
    if (ms < 0)
        ms = 0;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d:%02d", ms / 60000, ms / 1000 % 60);
    return buf;
}

#ifndef _WIN32
// The terminal in single-key mode while playing; restored on every way out.
class CRawTerminal
{
public:
    CRawTerminal()
    {
        m_bActive = isatty(STDIN_FILENO) && isatty(STDOUT_FILENO) && tcgetattr(STDIN_FILENO, &m_saved) == 0;
        if (!m_bActive)
            return;
        termios raw = m_saved;
        raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        raw.c_cc[VMIN] = 0;
        raw.c_cc[VTIME] = 0;
        tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    }
    ~CRawTerminal()
    {
        if (m_bActive)
            tcsetattr(STDIN_FILENO, TCSANOW, &m_saved);
    }
    bool Active() const { return m_bActive; }
    // A key pressed within `ms`: ' ', 'q', 'L' (left arrow), 'R' (right arrow), or 0.
    char Key(int ms)
    {
        pollfd p{STDIN_FILENO, POLLIN, 0};
        if (poll(&p, 1, ms) <= 0)
            return 0;
        char c = 0;
        if (read(STDIN_FILENO, &c, 1) != 1)
            return 0;
        if (c == 0x1b) {
            char seq[2] = {0, 0};
            if (poll(&p, 1, 20) > 0 && read(STDIN_FILENO, &seq[0], 1) == 1 && seq[0] == '[' && poll(&p, 1, 20) > 0 &&
                read(STDIN_FILENO, &seq[1], 1) == 1)
                return seq[1] == 'D' ? 'L' : seq[1] == 'C' ? 'R' : 0;
            return 0;
        }
        return c == 'Q' ? 'q' : c;
    }

private:
    termios m_saved{};
    bool m_bActive = false;
};
#else
// Windows: no single-key control; the song plays to its end.
struct CNoTerminal
{
    bool Active() const { return false; }
    char Key(int) { return 0; }
};
#endif

std::string Meter(int peak, int width)
{
    const int n = static_cast<int>(static_cast<long long>(peak) * width / 32768);
    return std::string(static_cast<size_t>(n), '#') + std::string(static_cast<size_t>(width - n), ' ');
}

void ShowInfo(In_Module& mod, const std::string& song)
{
#ifdef _WIN32
    // The real dialog, over no window of ours; it stays until it is closed.
    mod.InfoBox(const_cast<char*>(song.c_str()), nullptr);
#else
    CHostWindow window;
    bool shown = false;
    window.onDialog = [&](CStandInDialog& dialog) {
        shown = true;
        // Labels and fields pair up in template order; "Bytes" follows the size.
        std::vector<std::string> labels;
        std::vector<int> fields;
        for (const auto& c : dialog.GetControls()) {
            if (c.strClass == "Static" && c.strText != "Bytes")
                labels.push_back(c.strText);
            else if (c.strClass == "Edit")
                fields.push_back(c.nId);
        }
        std::printf("%s\n", dialog.GetCaption().c_str());
        for (size_t i = 0; i < fields.size(); ++i) {
            std::string text;
            dialog.GetItemText(fields[i], text);
            std::string shownText;
            for (char ch : text) {
                if (ch == '\r')
                    continue;
                shownText += ch;
                if (ch == '\n')
                    shownText += std::string(20, ' ');
            }
            const std::string label = i < labels.size() ? labels[i] : std::string();
            std::printf("  %-17s %s%s\n", label.c_str(), shownText.c_str(), fields[i] == 1021 ? " Bytes" : "");
        }
        dialog.Command(IDOK);
    };
    mod.InfoBox(const_cast<char*>(song.c_str()), &window);
    if (!shown)
        throw CommandError("the plug-in showed no information box");
#endif
}

void RunPlay(const PlayOptions& opt)
{
    const std::string pluginPath = opt.strPlugin.empty() ? CPluginLibrary::DefaultPath() : opt.strPlugin;
    CPluginLibrary library(pluginPath);
    In_Module& mod = library.Module();
    mod.hDllInstance = library.Instance(); // the dialog comes from the library's resources

    if (opt.bInfo) {
        for (const std::string& song : opt.arrSongs)
            ShowInfo(mod, song);
        return;
    }
#ifdef _WIN32
    CHostWindow window;
    CHostOutput output(opt.strOut);
    ConnectHost(mod, window.Handle(), library.Instance(), output);
    mod.Init();
    CNoTerminal terminal;
#else
    CHostWindow window;
    CHostOutput output(opt.strOut);
    ConnectHost(mod, &window, library.Instance(), output);
    mod.Init();

    CRawTerminal terminal;
#endif
    bool quit = false;
    int failed = 0;
    for (const std::string& song : opt.arrSongs) {
        if (quit)
            break;
        int played = 1;
        if (opt.choice.Given()) {
            const int number = ResolvePerformance(song, opt.choice);
            std::thread([&] {
                SkipPlays(mod, song, number - 1);
                played = mod.Play(const_cast<char*>(song.c_str()));
            }).join();
        } else {
            played = mod.Play(const_cast<char*>(song.c_str()));
        }
        if (played != 0) {
            mod.Stop();
            if (output.IsFile())
                throw CommandError(output.LastError());
            throw CommandError("no audio device could be opened (" + output.LastError() +
                               "). Write the performance to a file instead: vantrel play SONG --out FILE.wav");
        }
        char title[2048] = "";
        int length = 0;
        mod.GetFileInfo(nullptr, title, &length);
        const int total = mod.GetLength();
        if (total < 0)
            ++failed;
        if (terminal.Active())
            std::printf("%s%s\n", title, total < 0 ? "  (not a playable song)" : "");
        else
            std::printf("playing %s (%s)%s\n", title, Clock(total).c_str(),
                        total < 0 ? ", not a playable song" : "");
        std::fflush(stdout);

        bool ended = false;
        for (;;) {
            CHostWindow::Message m{};
            if (window.WaitMessage(m, std::chrono::milliseconds(terminal.Active() ? 0 : 200))) {
                if (m.nMessage == WM_WA_MPEG_EOF) {
                    ended = true;
                    break;
                }
                continue;
            }
            if (!terminal.Active())
                continue;
            const char key = terminal.Key(100);
            if (key == 'q') {
                quit = true;
                break;
            }
            if (key == ' ')
                mod.IsPaused() ? mod.UnPause() : mod.Pause();
            else if (key == 'L' || key == 'R')
                mod.SetOutputTime(std::max(0, mod.GetOutputTime() + (key == 'L' ? -10000 : 10000)));
            std::printf("\r  %s / %s  L[%s] R[%s] %s", Clock(mod.GetOutputTime()).c_str(), Clock(total).c_str(),
                        Meter(Vis().nPeakLeft, 20).c_str(), Meter(Vis().nPeakRight, 20).c_str(),
                        mod.IsPaused() ? "paused " : "       ");
            std::fflush(stdout);
        }
        // At the song's end the device plays out its last stretch; a stop (q) drops it.
        if (ended)
            output.Drain();
        mod.Stop();
        if (terminal.Active())
            std::printf("\n");
        else
            std::printf("finished %s\n", title);
        std::fflush(stdout);
    }
    mod.Quit();
    output.Finish();
    if (output.IsFile())
        std::fprintf(stderr, "wrote %s\n", opt.strOut.c_str());
    if (failed == static_cast<int>(opt.arrSongs.size()))
        throw CommandError("nothing could be played");
}

} // namespace

void AddPlayCommand(CLI::App& app)
{
    auto opt = std::make_shared<PlayOptions>();
    CLI::App* cmd = app.add_subcommand("play", "Play songs through the plug-in library, as the media player does");
    cmd->add_option("SONG", opt->arrSongs, "Song files (.vn), played in a row, each a new draw")->required();
    cmd->add_option("--out", opt->strOut, "Write a WAV file instead of playing on the audio device");
    cmd->add_option("--plugin", opt->strPlugin, "The plug-in library (default: the one beside vantrel)");
    cmd->add_flag("--info", opt->bInfo, "Show the song information box (its fields) instead of playing");
    AddPerformanceOptions(cmd, opt->choice);
    cmd->callback([opt] { RunPlay(*opt); });
}

} // namespace vantrel::tool
