#include "player/EventVoices.h"

#include <memory>

#include "decode/ClipDecoder.h"
#include "player/SongPlayer.h"
#include "song/Song.h"

namespace {

struct ClipStart
{
    int nEntry, nVoice, nDataOffset, nPos1, nLengthMs;
};

// The player's clip decoder, with a record of every StartClip.
class CRecordingSource : public CClipSource
{
public:
    CRecordingSource(const CSongDocument& doc, std::unique_ptr<CClipSource> inner)
        : m_doc(doc), m_pInner(std::move(inner))
    {
    }
    int Decode(char* out, int bytes, int voice) override { return m_pInner->Decode(out, bytes, voice); }
    bool StartClip(CFile* pFile, int nPos1, int nPos3, int nDataOffset, int nPos2, int nPos4, int voice,
                   int nLengthMs) override
    {
        m_arrStarts.push_back({m_doc.GetCurrentIndex(), voice, nDataOffset, nPos1, nLengthMs});
        return m_pInner->StartClip(pFile, nPos1, nPos3, nDataOffset, nPos2, nPos4, voice, nLengthMs);
    }
    const std::vector<ClipStart>& Starts() const { return m_arrStarts; }

private:
    const CSongDocument& m_doc;
    std::unique_ptr<CClipSource> m_pInner;
    std::vector<ClipStart> m_arrStarts;
};

} // namespace

std::vector<EventVoice> RecordEventVoices(CSongPlayer& player, const std::string& decoderEngine)
{
    const CSongDocument& doc = player.GetDocument();
    auto recorder = std::make_unique<CRecordingSource>(doc, std::make_unique<CClipDecoder>(decoderEngine.c_str()));
    const CRecordingSource& rec = *recorder;
    player.SetClipSourceForTest(std::move(recorder));
    std::vector<char> block(CSongPlayer::kBlockBytes);
    while (player.RenderBlock(block.data(), CSongPlayer::kBlockBytes)) {
    }

    std::vector<EventVoice> events;
    const std::vector<CVariation*>* sequence = doc.GetSequence();
    if (!sequence)
        return events;
    const std::vector<ClipStart>& starts = rec.Starts();
    std::vector<bool> used(starts.size(), false);
    for (size_t i = 0; i < sequence->size(); ++i) {
        const CVariation& v = *(*sequence)[i];
        for (size_t t = 0; t < v.m_arrTracks.size(); ++t) {
            for (const auto& e : v.m_arrTracks[t]->m_arrEvents) {
                EventVoice ev;
                ev.nEntry = static_cast<int>(i);
                ev.nTrack = static_cast<int>(t);
                ev.pEvent = e.get();
                // The first recorded start of this entry that is this event's: on the
                // track's own voice or an overflow voice, with the event's clip data.
                for (size_t k = 0; k < starts.size() && t < CSongPlayer::kTrackVoices; ++k) {
                    const ClipStart& s = starts[k];
                    if (used[k] || s.nEntry != static_cast<int>(i) ||
                        (s.nVoice < CSongPlayer::kTrackVoices && s.nVoice != static_cast<int>(t)) ||
                        s.nDataOffset != e->m_pClip->m_nDataOffset || s.nPos1 != static_cast<int>(e->m_nPos1) ||
                        s.nLengthMs != static_cast<int>(e->m_nLengthMs))
                        continue;
                    used[k] = true;
                    ev.nVoice = s.nVoice;
                    break;
                }
                events.push_back(ev);
            }
        }
    }
    return events;
}
