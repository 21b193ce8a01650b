// What the web player's picture needs beyond the C interface: the events of a
// performance with the voice each sounds on (player/EventVoices.h), as JSON.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

#include "arrange/Performances.h"
#include "player/EventVoices.h"
#include "player/SongPlayer.h"
#include "song/Song.h"

#define VANTREL_WEB_EXPORT extern "C" __attribute__((visibility("default"), used))

namespace {

// Song texts are 8-bit: each byte is the character of the same code.
void AppendText(std::string& out, const std::string& bytes)
{
    out += '"';
    for (const unsigned char c : bytes) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        }
    }
    out += '"';
}

} // namespace

// Performance `performance` of the song in `data` (with `arrangement` >= 0, the first
// from that number on that chose it, as vantrel_song_prepare_index), drawn afresh:
// [[entry, track, startMs, lengthMs, voice, "clip"], ...], startMs from the entry's
// start, voice -1 for an event that is not played. Returns a string to be freed with
// free(), or NULL when the song does not load or has nothing to play.
VANTREL_WEB_EXPORT char* vantrel_web_performance_events(const void* data, size_t size, int performance,
                                                        int arrangement)
{
    try {
        if (!data || size == 0 || performance < 1)
            return nullptr;
        CSongPlayer player;
        const char* bytes = static_cast<const char*>(data);
        if (!player.Open(CFileSource(std::make_shared<const std::string>(bytes, size), "(memory)")))
            return nullptr;
        if (player.PreparePerformance(performance, arrangement) < 0)
            return nullptr;
        std::string out = "[";
        for (const EventVoice& ev : RecordEventVoices(player, "generic")) {
            const CClipEvent& e = *ev.pEvent;
            if (out.size() > 1)
                out += ',';
            out += '[' + std::to_string(ev.nEntry) + ',' + std::to_string(ev.nTrack) + ',' +
                   std::to_string(e.m_nStartMs) + ',' + std::to_string(e.m_nLengthMs) + ',' +
                   std::to_string(ev.nVoice) + ',';
            AppendText(out, e.m_pClip ? e.m_pClip->m_strName : std::string());
            out += ']';
        }
        out += ']';
        char* result = static_cast<char*>(std::malloc(out.size() + 1));
        if (result)
            std::memcpy(result, out.c_str(), out.size() + 1);
        return result;
    } catch (const std::exception&) {
        return nullptr;
    }
}
