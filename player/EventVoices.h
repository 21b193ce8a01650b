// The events of a prepared performance, each with the voice the player sounds it on.
// The voices are the player's own choice (a track's voice, or an overflow voice while
// that one is busy), so they are found by rendering the performance through a clip
// source that records every clip start. The tool's picture and the web player's
// picture both draw from this.
#pragma once

#include <string>
#include <vector>

class CClipEvent;
class CSongPlayer;

struct EventVoice
{
    int nEntry = 0;                    // the entry of the performance (index into its sequence)
    int nTrack = 0;                    // the track within the entry's variation
    const CClipEvent* pEvent = nullptr;
    int nVoice = -1;                   // 0-3 the track's voice, 4-11 an overflow voice, -1 not played
};

// Renders the performance that `player` has prepared to its end (decoding the clips
// with `decoderEngine`, "" for the library's choice) and returns every event of every
// entry, in entry, track and event order, with the voice it started on. The player is
// left at the end of the performance.
std::vector<EventVoice> RecordEventVoices(CSongPlayer& player, const std::string& decoderEngine);
