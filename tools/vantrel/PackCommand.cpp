// vantrel pack MANIFEST -o SONG.vn: builds a song file from a JSON manifest and its
// sound files (see README.md for the manifest's fields).
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "ClipAudio.h"
#include "Commands.h"
#include "SongJson.h"
#include "OutputFile.h"
#include "arrange/Playable.h"
#include "decode/ClipStart.h"
#include "song/SongDocument.h"
#include "song/SongWriter.h"

namespace vantrel::tool {

namespace {

namespace fs = std::filesystem;

struct PackOptions
{
    std::string strManifest;
    std::string strOutput;
    std::string strVersion = "0x61";
    int nBitrate = 128;
    bool bQuiet = false;
    bool bForce = false;
};

class Reporter
{
public:
    explicit Reporter(bool quiet) : m_bQuiet(quiet), m_bTty(::isatty(::fileno(stderr)) != 0) {}

    void Say(const std::string& line) const
    {
        if (!m_bQuiet)
            std::fprintf(stderr, "%s\n", line.c_str());
    }
    void Warn(const std::string& line) const { std::fprintf(stderr, "warning: %s\n", line.c_str()); }
    // Percentages while a long sound is encoded: in place on a terminal, in quarters
    // otherwise.
    void Progress(double fraction, double seconds)
    {
        if (m_bQuiet || seconds < 20.0)
            return;
        const int percent = static_cast<int>(fraction * 100.0);
        const int step = m_bTty ? 1 : 25;
        if (percent / step == m_nLastPercent / step)
            return;
        m_nLastPercent = percent;
        if (m_bTty)
            std::fprintf(stderr, "\r      %3d%%", percent);
        else if (percent < 100)
            std::fprintf(stderr, "      %d%%\n", percent);
        if (m_bTty && percent >= 100)
            std::fprintf(stderr, "\r");
        std::fflush(stderr);
    }
    void StartProgress() { m_nLastPercent = 0; }

private:
    bool m_bQuiet;
    bool m_bTty;
    int m_nLastPercent = 0;
};

std::string ReadWholeFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    if (!f)
        throw ClipAudioError("cannot open it");
    std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (f.bad())
        throw ClipAudioError("cannot read it");
    return bytes;
}

std::string Seconds(int64_t frames, long rate)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f s", static_cast<double>(frames) / static_cast<double>(rate));
    return buf;
}

std::string Kilobytes(size_t bytes)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f KB", static_cast<double>(bytes) / 1024.0);
    return buf;
}

const char* ChannelWord(long channels) { return channels == 1 ? "mono" : "stereo"; }

uint8_t ParseVersion(const std::string& text)
{
    if (text == "0x60" || text == "0X60" || text == "96")
        return 0x60;
    if (text == "0x61" || text == "0X61" || text == "97")
        return 0x61;
    throw CommandError("--format-version must be 0x60 or 0x61, not " + text);
}

// Refuses to replace a file that is not a song (a typo in -o must not eat a manifest
// or a sound), unless --force.
void CheckOutput(const PackOptions& opt)
{
    std::error_code ec;
    const fs::path out(opt.strOutput);
    if (fs::is_directory(out, ec))
        throw CommandError(opt.strOutput + " is a folder; give the song file to write, e.g. " +
                           (out / "song.vn").string());
    const fs::path folder = out.parent_path();
    if (!folder.empty() && !fs::is_directory(folder, ec))
        throw CommandError("cannot write " + opt.strOutput + ": the folder " + folder.string() +
                           " does not exist");
    const fs::file_status st = fs::status(out, ec); // links followed
    if (!fs::exists(st))
        return;
    if (fs::equivalent(out, fs::path(opt.strManifest), ec))
        throw CommandError("the output " + opt.strOutput + " is the manifest itself");
    if (fs::is_block_file(st) && !opt.bForce)
        throw CommandError(opt.strOutput + " is a disk device; not writing to it (use --force to write "
                           "the song onto it anyway)");
    // A FIFO, a terminal or another character device takes the song as it comes.
    if (!fs::is_regular_file(st))
        return;
    char magic[3] = {0, 0, 0};
    std::ifstream f(opt.strOutput, std::ios::binary);
    f.read(magic, 3);
    const bool isSong = f.gcount() == 3 && magic[0] == 'V' && magic[1] == 'N' && magic[2] == 'F';
    if (!isSong && !opt.bForce)
        throw CommandError(opt.strOutput +
                           " exists and is not a VNF song; not replacing it (use --force to "
                           "replace it anyway)");
}

int64_t CeilMs(int64_t frames) { return (frames * 1000 + kSongRate - 1) / kSongRate; }

void RunPack(const PackOptions& opt)
{
    const uint8_t version = ParseVersion(opt.strVersion);
    CheckOutput(opt);
    Reporter report(opt.bQuiet);

    Manifest m = ReadManifest(opt.strManifest);
    for (const std::string& w : m.warnings)
        report.Warn(opt.strManifest + ": " + w);

    // The clips' coded data, in clip table order.
    std::vector<std::string> data(m.clips.size());
    std::vector<int64_t> frames(m.clips.size(), 0);
    const size_t n = m.clips.size();
    for (size_t i = 0; i < n; ++i) {
        const ManifestClip& c = m.clips[i];
        const std::string head =
            "[" + std::to_string(i + 1) + "/" + std::to_string(n) + "] " + c.strFile + ": ";
        try {
            if (HasMp3Extension(c.strFullPath)) {
                data[i] = ReadWholeFile(c.strFullPath);
                const Mp3Facts mp3 = InspectMp3(data[i]);
                if (mp3.nRate != kSongRate || mp3.nChannels != kSongChannels)
                    throw ClipAudioError(
                        "it is " + std::to_string(mp3.nRate) + " Hz " + ChannelWord(mp3.nChannels) +
                        "; clips play as 44100 Hz stereo MP3. Give the sound as WAV or FLAC "
                        "instead, which pack converts");
                if (!mp3.bStartsWithFrame)
                    report.Warn(opt.strManifest + ": " + c.strPlace + ": " + c.strFile +
                                " does not begin with an MP3 frame (a tag?); a decoder that "
                                "does not look for the first frame cannot play it");
                frames[i] = mp3.nFrames;
                report.Say(head + "MP3, " + Seconds(mp3.nFrames, mp3.nRate) + ", " +
                           Kilobytes(data[i].size()) + ", embedded as it is");
            } else {
                const SoundFacts sound = InspectSound(c.strFullPath);
                report.Say(head + "encoding " + std::to_string(sound.nRate) + " Hz " +
                           ChannelWord(sound.nChannels) + ", " + Seconds(sound.nFrames, sound.nRate) +
                           " to 44100 Hz stereo MP3 at " + std::to_string(opt.nBitrate) +
                           " kbit/s");
                const double seconds = static_cast<double>(sound.nFrames) / sound.nRate;
                report.StartProgress();
                data[i] = EncodeToMp3(c.strFullPath, opt.nBitrate,
                                      [&](double f) { report.Progress(f, seconds); });
                // Decode what was made: it must play, and its length is the clip's.
                const Mp3Facts mp3 = InspectMp3(data[i]);
                frames[i] = mp3.nFrames;
                report.Say(std::string(head.size(), ' ') + "-> " + Kilobytes(data[i].size()) +
                           ", " + Seconds(mp3.nFrames, mp3.nRate));
            }
        } catch (const ClipAudioError& e) {
            throw CommandError(opt.strManifest + ": " + c.strPlace + ": " + c.strFile + ": " +
                               e.what());
        }
    }

    // Defaults that depend on the clips, and checks of positions within them.
    for (const ManifestEvent& me : m.events) {
        CClipEvent& e = *me.pEvent;
        if (!me.bLengthGiven)
            e.m_nLengthMs = CeilMs(frames[me.nClip]);
        const std::string& clipData = data[me.nClip];
        if (e.m_nPos1 != 0) {
            const int64_t at = vantrel::ClipStartInData(e.m_nPos1);
            if (at >= static_cast<int64_t>(clipData.size()) ||
                !IsFrameHeaderAt(clipData, static_cast<size_t>(at)))
                throw CommandError(
                    opt.strManifest + ": " + me.strPlace + ": pos[0] " + std::to_string(e.m_nPos1) +
                    ": playing starts at byte pos[0] + 4 = " + std::to_string(at) +
                    " of the clip's " + std::to_string(clipData.size()) +
                    " bytes, and an MP3 frame must begin there (or give 0 to start at the "
                    "beginning)");
        }
    }
    for (const ManifestVariation& mv : m.variations) {
        CVariation& v = *mv.pVariation;
        if (!mv.bLengthGiven) {
            int64_t end = 0;
            for (const auto& t : v.m_arrTracks)
                for (const auto& e : t->m_arrEvents)
                    end = std::max(end, e->m_nStartMs + e->m_nLengthMs);
            if (end > INT32_MAX)
                throw CommandError(opt.strManifest + ": " + mv.strPlace +
                                   ": its events end too late for a variation's length");
            v.SetLengthMs(static_cast<int32_t>(end));
        }
        if (!vantrel::IsPlayable(v))
            report.Warn(opt.strManifest + ": " + mv.strPlace +
                        " has length 0 and is never chosen when the song is played");
        for (const auto& t : v.m_arrTracks)
            for (const auto& e : t->m_arrEvents)
                if (e->m_nStartMs >= v.m_nLengthMs) {
                    report.Warn(opt.strManifest + ": " + mv.strPlace + " (" +
                                std::to_string(v.m_nLengthMs) + " ms) has an event at " +
                                std::to_string(e->m_nStartMs) + " ms, which never plays");
                    break;
                }
    }

    std::string bytes;
    try {
        bytes = CSongWriter::Serialize(*m.pSong, data, version);
    } catch (const CSongWriteError& e) {
        throw CommandError("cannot write " + opt.strOutput + ": " + e.what());
    }

    // What is written must load: the song is loaded back from a scratch copy before
    // the output is touched, so that a song that would not load replaces nothing.
    CSongDocument doc;
    {
        std::random_device rd;
        std::error_code ec;
        const std::string scratch =
            (fs::temp_directory_path(ec) / ("vantrel-pack-" + std::to_string(rd()) + std::to_string(rd()) + ".vn"))
                .string();
        struct CRemove
        {
            const std::string& path;
            ~CRemove() { std::remove(path.c_str()); }
        } remove{scratch};
        WriteWholeFile(scratch, bytes);
        if (doc.Load(scratch) != 1)
            throw CommandError(opt.strOutput + " was not written: the song made from the manifest does not "
                               "load back: " + doc.GetLastError());
    }
    WriteWholeFile(opt.strOutput, bytes);
    const CSong& song = *doc.GetSong();
    size_t variations = 0;
    for (const auto& s : song.m_arrSections)
        variations += s->m_arrVariations.size();
    std::printf("wrote %s (version 0x%02x, %ju bytes): %zu arrangements, %zu sections, %zu "
                "variations, %zu clips\n",
                opt.strOutput.c_str(), version, static_cast<uintmax_t>(bytes.size()),
                song.m_arrArrangements.size(), song.m_arrSections.size(), variations,
                song.m_arrClips.size());
}

} // namespace

void AddPackCommand(CLI::App& app)
{
    auto opt = std::make_shared<PackOptions>();
    CLI::App* cmd = app.add_subcommand(
        "pack", "Build a song file from a JSON manifest and its sound files (MP3, WAV, FLAC)");
    cmd->add_option("MANIFEST", opt->strManifest, "The manifest (.json)")->required()->check(CLI::ExistingFile);
    cmd->add_option("-o,--output", opt->strOutput, "The song file to write (.vn)")->required();
    cmd->add_option("--format-version", opt->strVersion, "File format version: 0x61 or 0x60")
        ->capture_default_str();
    cmd->add_option("--bitrate", opt->nBitrate,
                    "MP3 bit rate in kbit/s for sounds that are encoded")
        ->capture_default_str()
        ->check(CLI::IsMember({32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}));
    cmd->add_flag("-q,--quiet", opt->bQuiet, "Print only warnings and errors");
    cmd->add_flag("--force", opt->bForce, "Replace the output even when it is not a song file");
    cmd->callback([opt] { RunPack(*opt); });
}

} // namespace vantrel::tool
