// CSongDocument: the holder of the one song a player works on, of the loader that
// read it, and of the performance drawn from it (arrangement, sequence, cursors).
//
// Loading and the text accessors live in song/SongDocument.cpp; arranging, the
// sequence cursor and the event cursors in arrange/.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "arrange/ScheduledEvent.h"
#include "song/Song.h"
#include "song/SongLoader.h"

constexpr int ERR_BAD_FILE = -2101;
constexpr int ERR_NO_SONG = -1111;
constexpr int ERR_NOTHING_TO_ARRANGE = -1201;
constexpr int STATE_ARRANGED = 101;
constexpr int STATE_CLOSED = 102;

class CSongDocument
{
public:
    CSongDocument();
    virtual ~CSongDocument();
    CSongDocument(const CSongDocument&) = delete;
    CSongDocument& operator=(const CSongDocument&) = delete;

    // Loading (song/SongDocument.cpp).
    // A path, or a song image in memory (platform/File.h).
    int Load(const CFileSource& source);
    bool HasSong() const { return m_pSong != nullptr; }
    const CSong* GetSong() const { return m_pSong.get(); }
    std::string GetFormatId() const;
    std::string GetAuthor() const;
    std::string GetPublisher() const;
    std::string GetGenre() const;
    std::string GetCopyright() const;
    const std::string& GetLastError() const { return m_strLastError; }
    const std::string& GetFormatText() const { return m_strFormatText; }
    uint8_t GetFormatFlags() const { return m_nFormatFlags; }
    uint8_t GetFormatVersion() const { return m_nFormatVersion; }

    // Arranging (arrange/).
    int Arrange();
    bool BuildSequence();
    int32_t GetTotalLength() const;
    static bool PickIndex(int n, const std::vector<int>& thresholds, int v, int& index);

    // Sequence cursor (arrange/).
    bool SelectEntry(int32_t index);
    int32_t GetEntryLength() const;
    int32_t GetTrackCount() const;
    void ResetCursor();
    void EndPerformance();
    // Lets go of the song: the arrangement state that points into it is cleared
    // first, then the song is released.
    void DetachSong();

    // Event cursors (arrange/).
    bool SetEventCursor(int32_t track, int32_t event);
    CScheduledEventPtr CurrentEvent(int32_t track);
    CScheduledEventPtr NextEvent(int32_t track);
    CScheduledEventPtr MakeScheduledEvent(int32_t track, int32_t event) const;
    // The event a track's cursor stands on in the current entry, -1 for none.
    int32_t GetEventCursor(int32_t track) const;

    int32_t GetState() const { return m_nState; }
    int32_t GetCurrentIndex() const { return m_nCurrent; }
    int32_t GetSequenceLength() const { return m_nSequenceLength; }
    const CArrangement* GetArrangement() const { return m_pArrangement; }
    const std::vector<CVariation*>* GetSequence() const { return m_pSequence.get(); }

private:
    // Clears everything that refers into the song (arrangement, sequence, cursors).
    void ClearArrangement();

    std::unique_ptr<CSong> m_pSong;
    CSongLoader m_loader;
    const CArrangement* m_pArrangement = nullptr;
    const std::vector<CSection*>* m_pSectionRefs = nullptr;
    CVariation* m_pCurrentVariation = nullptr;
    std::unique_ptr<std::vector<CVariation*>> m_pSequence;
    const COwnedList<CTrack>* m_pCurrentTracks = nullptr;
    int32_t m_nCurrent = -1;
    int32_t m_nSequenceLength = 0;
    std::unique_ptr<int32_t[]> m_pEventCursor;
    std::unique_ptr<int32_t[]> m_pEventCount;
    int32_t m_nState = 0;
    std::string m_strLastError;
    std::string m_strFormatText;
    uint8_t m_nFormatFlags = 0;
    uint8_t m_nFormatVersion = 0;
    size_t m_nCursorCapacity = 0; // elements of m_pEventCursor and m_pEventCount
};
