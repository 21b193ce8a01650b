// vantrel check SONG.vn [--json]: a lint for song authors. Every finding has a level
// (error: the song does not play as written; warning: it plays, but not as its author
// may think) and its place in the song. Exit status 1 when there is an error.
//
// With --json: {"path", "errors": n, "warnings": n,
//               "findings": [{"level": "error" | "warning", "place", "message"}]}
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ClipAudio.h"
#include "Commands.h"
#include "SongPlaces.h"
#include "TextCodec.h"
#include "arrange/Performances.h"
#include "arrange/Playable.h"
#include "decode/ClipStart.h"
#include "decode/PcmFormat.h"
#include "song/Song.h"
#include "song/SongLoader.h"

namespace vantrel::tool {

namespace {

constexpr int kTrackVoices = 4;
using vantrel::pcm::kBlockMs;

struct CheckOptions
{
    std::string strPath;
    bool bJson = false;
};

struct Finding
{
    bool bError = false;
    std::string strPlace;
    std::string strMessage;
};

class CFindings
{
public:
    void Error(const std::string& place, const std::string& message) { m_list.push_back({true, place, message}); }
    void Warn(const std::string& place, const std::string& message) { m_list.push_back({false, place, message}); }
    const std::vector<Finding>& List() const { return m_list; }
    size_t Errors() const
    {
        return static_cast<size_t>(std::count_if(m_list.begin(), m_list.end(), [](const Finding& f) { return f.bError; }));
    }

private:
    std::vector<Finding> m_list;
};

std::string Q(const std::string& bytes) { return "\"" + BytesToUtf8(bytes) + "\""; }

// The shortest length a playable section can get in a performance.
int32_t ShortestLength(const CSection& s)
{
    int32_t shortest = INT32_MAX;
    for (const auto& v : s.m_arrVariations)
        if (vantrel::IsPlayable(*v))
            shortest = std::min(shortest, v->m_nLengthMs);
    return shortest;
}

void CheckTexts(const CSong& song, uint8_t version, CFindings& f)
{
    auto cut = [&](const std::string& place, const char* field, const std::string& text, size_t width) {
        if (text.size() >= width)
            f.Warn(place, std::string(field) + " " + Q(text) + " fills its " + std::to_string(width) +
                              "-byte field: it may have been cut there");
    };
    cut("song", "the title", song.m_strTitle, 50);
    cut("song", "the author", song.m_strAuthor, 50);
    cut("song", "the publisher", song.m_strPublisher, 50);
    cut("song", "the genre", song.m_strGenre, 20);
    cut("song", "the copyright notice", song.m_strCopyright, 100);
    const auto& arrangements = song.GetArrangements();
    for (size_t a = 0; a < arrangements.size(); ++a)
        cut(ArrangementPlace(static_cast<int>(a), arrangements[a]->m_strName), "the name", arrangements[a]->m_strName, 50);
    for (int s = 0; s < song.GetSectionCount(); ++s) {
        const CSection& section = *song.GetSection(s);
        cut(SectionPlace(s, section), "the name", section.m_strName, 50);
        for (size_t v = 0; v < section.m_arrVariations.size(); ++v) {
            const CVariation& var = *section.m_arrVariations[v];
            cut(VariationPlace(s, section, static_cast<int>(v)), "the name", var.m_strName, 50);
            for (size_t t = 0; t < var.m_arrTracks.size(); ++t)
                cut(TrackPlace(s, section, static_cast<int>(v), static_cast<int>(t)), "the name",
                    var.m_arrTracks[t]->m_strName, 50);
        }
    }
    if (version == 0x60)
        for (int c = 0; c < song.GetClipCount(); ++c)
            cut(ClipPlace(c, song.GetClip(c)->m_strName), "the name", song.GetClip(c)->m_strName, 50);
}

void CheckStructure(const CSong& song, CFindings& f)
{
    std::vector<bool> listed(static_cast<size_t>(song.GetSectionCount()), false);
    const auto& arrangements = song.GetArrangements();
    if (arrangements.empty())
        f.Error("song", "it has no arrangements: nothing can be played");
    for (size_t a = 0; a < arrangements.size(); ++a) {
        const CArrangement& arr = *arrangements[a];
        const std::string place = ArrangementPlace(static_cast<int>(a), arr.m_strName);
        std::vector<const CSection*> playable;
        for (const CSection* s : arr.m_arrSections) {
            const int i = vantrel::SectionIndex(song, s);
            if (i >= 0)
                listed[static_cast<size_t>(i)] = true;
            if (vantrel::IsPlayable(*s))
                playable.push_back(s);
        }
        if (arr.m_arrSections.empty())
            f.Error(place, "it lists no sections: it can never be built");
        else if (!vantrel::CanBeBuilt(arr))
            f.Error(place, "none of its sections has a variation of positive length: it can never be built");
        // Five entry ends in one block need four entries between them that together
        // last less than a block.
        for (size_t i = 1; i + 4 <= playable.size(); ++i) {
            double sum = 0;
            for (size_t k = i; k < i + 4; ++k)
                sum += ShortestLength(*playable[k]);
            if (sum < kBlockMs) {
                f.Warn(place, "entries " + std::to_string(i - 1) + " to " + std::to_string(i + 3) +
                                  " can all end within one block of 26 ms: the player begins at most four "
                                  "entries in one block, so the rest of the song then plays out of step");
                break;
            }
        }
    }
    for (int s = 0; s < song.GetSectionCount(); ++s) {
        const CSection& section = *song.GetSection(s);
        if (!vantrel::IsPlayable(section))
            f.Error(SectionPlace(s, section),
                    section.m_arrVariations.empty()
                        ? "it has no variations: it is never played"
                        : "none of its variations has a positive length: it is never played");
        if (!listed[static_cast<size_t>(s)])
            f.Warn(SectionPlace(s, section), "no arrangement lists it: it is never played");
    }
}

void CheckClipsAndEvents(const std::string& path, const CSong& song, CFindings& f)
{
    std::ifstream file(path, std::ios::binary);
    std::vector<std::string> data(static_cast<size_t>(song.GetClipCount()));
    std::vector<bool> audio(data.size(), false);
    std::vector<bool> used(data.size(), false);
    std::map<const CClip*, size_t> index;
    for (int c = 0; c < song.GetClipCount(); ++c) {
        const CClip& clip = *song.GetClip(c);
        index[&clip] = static_cast<size_t>(c);
        if (clip.m_nKind == 0 || clip.m_nDataSize <= 0) {
            if (clip.m_nKind != 0)
                f.Error(ClipPlace(c, clip.m_strName), "its data is empty: it is not MPEG audio");
            continue;
        }
        std::string& bytes = data[static_cast<size_t>(c)];
        bytes.resize(static_cast<size_t>(clip.m_nDataSize));
        file.clear();
        file.seekg(clip.m_nDataOffset);
        file.read(bytes.data(), clip.m_nDataSize);
        try {
            const Mp3Facts mp3 = InspectMp3(bytes);
            audio[static_cast<size_t>(c)] = true;
            if (mp3.nRate != kSongRate || mp3.nChannels != kSongChannels)
                f.Warn(ClipPlace(c, clip.m_strName),
                       "it is " + std::to_string(mp3.nRate) + " Hz " + (mp3.nChannels == 1 ? "mono" : "stereo") +
                           "; the player mixes every clip as 44100 Hz stereo, so it plays at the wrong speed "
                           "or pitch");
        } catch (const ClipAudioError& e) {
            f.Error(ClipPlace(c, clip.m_strName), std::string("its data is not MPEG audio (") + e.what() + ")");
        }
    }

    for (int s = 0; s < song.GetSectionCount(); ++s) {
        const CSection& section = *song.GetSection(s);
        for (size_t v = 0; v < section.m_arrVariations.size(); ++v) {
            const CVariation& var = *section.m_arrVariations[v];
            const int vi = static_cast<int>(v);
            if (var.m_arrTracks.size() > static_cast<size_t>(kTrackVoices))
                f.Warn(VariationPlace(s, section, vi),
                       "it has " + std::to_string(var.m_arrTracks.size()) +
                           " tracks: only the first 4 are heard, but all of them count when the mix is "
                           "scaled down, so the others play quieter");
            for (size_t t = 0; t < var.m_arrTracks.size(); ++t) {
                const CTrack& track = *var.m_arrTracks[t];
                for (size_t e = 0; e < track.m_arrEvents.size(); ++e) {
                    const CClipEvent& ev = *track.m_arrEvents[e];
                    const std::string place = EventPlace(s, section, vi, static_cast<int>(t), static_cast<int>(e));
                    const size_t c = index.at(ev.m_pClip);
                    used[c] = true;
                    if (ev.m_nStartMs >= var.m_nLengthMs)
                        f.Warn(place, "it starts at " + std::to_string(ev.m_nStartMs) +
                                          " ms, when its variation (" + std::to_string(var.m_nLengthMs) +
                                          " ms) has ended: it is never heard");
                    else if (ev.m_nStartMs + ev.m_nLengthMs > var.m_nLengthMs)
                        f.Warn(place, "it runs to " + std::to_string(ev.m_nStartMs + ev.m_nLengthMs) +
                                          " ms, past the end of its variation (" + std::to_string(var.m_nLengthMs) +
                                          " ms): it sounds on into what follows");
                    if (ev.m_pClip->m_nKind == 0) {
                        f.Warn(place, "it plays " + ClipPlace(static_cast<int>(c), ev.m_pClip->m_strName) +
                                          ", which has no data: it is silent");
                        continue;
                    }
                    if (ev.m_nPos1 != 0 && audio[c]) {
                        const int64_t at = vantrel::ClipStartInData(ev.m_nPos1);
                        if (ev.m_nPos1 < 0 || !IsFrameHeaderAt(data[c], static_cast<size_t>(at)))
                            f.Error(place, "pos[0] " + std::to_string(ev.m_nPos1) + ": playing starts at byte " +
                                               std::to_string(at) + " of the clip's " +
                                               std::to_string(data[c].size()) +
                                               " bytes, where no MPEG frame header is");
                    }
                }
            }
        }
    }
    for (size_t c = 0; c < used.size(); ++c)
        if (!used[c])
            f.Warn(ClipPlace(static_cast<int>(c), song.GetClip(static_cast<int>(c))->m_strName),
                   "no event plays it");
}

void Report(const CheckOptions& opt, const CFindings& f)
{
    const size_t errors = f.Errors();
    const size_t warnings = f.List().size() - errors;
    if (opt.bJson) {
        nlohmann::ordered_json j;
        j["path"] = BytesToUtf8(opt.strPath);
        j["errors"] = errors;
        j["warnings"] = warnings;
        j["findings"] = nlohmann::ordered_json::array();
        for (const Finding& x : f.List())
            j["findings"].push_back({{"level", x.bError ? "error" : "warning"}, {"place", x.strPlace},
                                     {"message", x.strMessage}});
        std::printf("%s\n", j.dump(2).c_str());
    } else {
        for (const Finding& x : f.List())
            std::printf("%s: %s: %s%s%s\n", x.bError ? "error" : "warning", opt.strPath.c_str(), x.strPlace.c_str(),
                        x.strPlace.empty() ? "" : ": ", x.strMessage.c_str());
        std::printf("%s: %zu error%s, %zu warning%s\n", opt.strPath.c_str(), errors, errors == 1 ? "" : "s", warnings,
                    warnings == 1 ? "" : "s");
    }
    std::fflush(stdout);
    if (errors)
        throw CommandError("", 1);
}

void RunCheck(const CheckOptions& opt)
{
    CFindings f;
    CSongLoader loader;
    CSongLoadTrace trace;
    loader.SetTrace(&trace);
    std::unique_ptr<CSong> song;
    try {
        song = loader.Load(opt.strPath);
    } catch (const std::exception& e) {
        f.Error("file", std::string("cannot open it (") + e.what() + ")");
        Report(opt, f);
        return;
    }
    if (!song) {
        std::string where = TracePlace(trace.where, nullptr);
        std::string message = "it does not load (\"File is not a VNF or is corrupted.\"): " + trace.strFailure;
        if (*trace.pszField)
            message += ", reading " + std::string(trace.pszField) + " at offset " + std::to_string(trace.nOffset);
        f.Error(where.empty() ? "file" : where, message);
        Report(opt, f);
        return;
    }
    for (const auto& note : trace.arrDropped) {
        const std::string place = TracePlace(note.where, song.get());
        f.Warn(place.empty() ? "file" : place,
               "offset " + std::to_string(note.nOffset) + ": " + note.strWhat + " leaves nothing in the song");
    }
    CheckStructure(*song, f);
    CheckClipsAndEvents(opt.strPath, *song, f);
    CheckTexts(*song, loader.m_nFormatVersion, f);
    Report(opt, f);
}

} // namespace

void AddCheckCommand(CLI::App& app)
{
    auto opt = std::make_shared<CheckOptions>();
    CLI::App* cmd = app.add_subcommand("check", "Find what keeps a song from playing as its author meant");
    cmd->add_option("SONG", opt->strPath, "The song file (.vn)")->required();
    cmd->add_flag("--json", opt->bJson, "Print the findings as one JSON object");
    cmd->callback([opt] { RunCheck(*opt); });
}

} // namespace vantrel::tool
