// The song model: one VNF song in memory.
//
// CSong owns its arrangements, sections and clip table; a section owns its
// variations, a variation its tracks, a track its clip events. Arrangements refer to
// sections and events refer to clips without owning them. A model is built once by
// the loader (or by hand, for the writer) and is not changed while it is played.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CSection;
class CVariation;
class CTrack;
class CClipEvent;
class CClip;

template <class T> using COwnedList = std::vector<std::unique_ptr<T>>;

class CArrangement
{
public:
    explicit CArrangement(std::string name);
    virtual ~CArrangement();

    const std::string& GetName() const { return m_strName; }
    void SetSettingA(int32_t value) { m_nSettingA = value < 0 ? 0 : value; }
    void SetSettingB(int32_t value) { m_nSettingB = value < 0 ? 0 : value; }
    int32_t GetSettingA() const { return m_nSettingA; }
    int32_t GetSettingB() const { return m_nSettingB; }
    void AddSection(CSection* pSection) { m_arrSections.push_back(pSection); }
    const std::vector<CSection*>& GetSections() const { return m_arrSections; }

    std::string m_strName;
    int32_t m_nSettingA = 0;
    int32_t m_nSettingB = 0;
    std::vector<CSection*> m_arrSections; // references, not owned
};

class CSection
{
public:
    explicit CSection(std::string name);
    virtual ~CSection();

    const std::string& GetName() const { return m_strName; }
    void SetSettings(int32_t a, int32_t b)
    {
        m_nSettingA = a;
        m_nSettingB = b;
    }
    void AddVariation(std::unique_ptr<CVariation> pVariation);
    const COwnedList<CVariation>& GetVariations() const { return m_arrVariations; }

    std::string m_strName;
    int32_t m_nSettingA = 0;
    int32_t m_nSettingB = 0;
    COwnedList<CVariation> m_arrVariations;
};

class CVariation
{
public:
    explicit CVariation(std::string name);
    virtual ~CVariation();

    const std::string& GetName() const { return m_strName; }
    void SetLengthMs(int32_t ms) { m_nLengthMs = ms; }
    void SetFactor(float factor) { m_fFactor = factor; }
    void SetMeter(int16_t beatsPerBar, int16_t beatUnit)
    {
        m_nBeatsPerBar = beatsPerBar;
        m_nBeatUnit = beatUnit;
    }
    int32_t GetLengthMs() const { return m_nLengthMs; }
    void AddTrack(std::unique_ptr<CTrack> pTrack);
    const COwnedList<CTrack>& GetTracks() const { return m_arrTracks; }
    CTrack* GetTrack(int i) const { return m_arrTracks[static_cast<size_t>(i)].get(); }

    std::string m_strName;
    int32_t m_nLengthMs = 0;
    float m_fFactor = -1.0f;
    int16_t m_nBeatsPerBar = -1;
    int16_t m_nBeatUnit = -1;
    CSection* m_pSection = nullptr; // owning section
    COwnedList<CTrack> m_arrTracks;
};

class CTrack
{
public:
    explicit CTrack(std::string name);
    virtual ~CTrack();

    const std::string& GetName() const { return m_strName; }
    void SetSettingA(int32_t value) { m_nSettingA = value; }
    void SetVolume(uint16_t volume) { m_nVolume = volume; }
    void SetPan(uint16_t pan) { m_nPan = pan; }
    void SetMode(uint8_t mode) { m_nMode = mode; }
    void AddEvent(std::unique_ptr<CClipEvent> pEvent);
    CClipEvent* GetEvent(int i) const { return m_arrEvents[static_cast<size_t>(i)].get(); }
    int GetEventCount() const { return static_cast<int>(m_arrEvents.size()); }

    std::string m_strName;
    uint16_t m_nVolume = 128;
    uint16_t m_nPan = 0;
    uint8_t m_nMode = 2;
    int32_t m_nSettingA = 0;
    CVariation* m_pVariation = nullptr; // owning variation
    COwnedList<CClipEvent> m_arrEvents;
};

// A plain record: one stretch of a clip played from a time within its variation.
class CClipEvent
{
public:
    CClipEvent() = default;
    virtual ~CClipEvent();

    int64_t m_nStartMs = 0;
    uint16_t m_nVolume = 128;
    int16_t m_nPan = 0;
    uint8_t m_bActive = 0;
    uint8_t m_nMode = 2;
    CTrack* m_pTrack = nullptr; // owning track
    int64_t m_nPos1 = 0;
    int64_t m_nPos2 = 0;
    int64_t m_nPos3 = 0;
    int64_t m_nPos4 = 0;
    int64_t m_nLengthMs = 0;
    int64_t m_nPos5 = 0;
    int64_t m_nPos6 = 0;
    CClip* m_pClip = nullptr; // entry of the song's clip table, not owned
};

class CClip
{
public:
    CClip() = default;
    CClip(uint8_t kind, std::string path, int32_t dataOffset, int32_t dataSize);
    virtual ~CClip();

    virtual int32_t GetInfo1() const { return 0; }
    virtual int32_t GetInfo2() const { return 0; }
    virtual int16_t GetInfo3() const { return 0; }

    uint8_t m_nKind = 0;
    std::string m_strName;
    std::string m_strPath;
    int32_t m_nDataOffset = 0;
    int32_t m_nDataSize = 0;
};

class CSong
{
public:
    explicit CSong(std::string title);
    virtual ~CSong();

    void SetTitle(std::string s) { m_strTitle = std::move(s); }
    void SetAuthor(std::string s) { m_strAuthor = std::move(s); }
    void SetPublisher(std::string s) { m_strPublisher = std::move(s); }
    void SetGenre(std::string s) { m_strGenre = std::move(s); }
    void SetCopyright(std::string s) { m_strCopyright = std::move(s); }
    std::string GetTitle() const { return m_strTitle; }
    std::string GetAuthor() const { return m_strAuthor; }
    std::string GetPublisher() const { return m_strPublisher; }
    std::string GetGenre() const { return m_strGenre; }
    std::string GetCopyright() const { return m_strCopyright; }

    void SetFactor(float factor) { m_fFactor = factor; }
    void SetMeter(int16_t beatsPerBar, int16_t beatUnit)
    {
        m_nBeatsPerBar = beatsPerBar;
        m_nBeatUnit = beatUnit;
    }
    void SetVolume(int16_t v) { m_nVolume = v; }
    void SetPan(int16_t v) { m_nPan = v; }
    void SetMode(int16_t v) { m_nMode = v; }
    void SetOption(uint8_t v) { m_nOption = v; }

    // Appends the arrangement unless one of the same name (compared without regard
    // to case) is already there; returns whether it was added. A refused arrangement
    // stays with the caller.
    bool AddArrangement(std::unique_ptr<CArrangement>& pArrangement);
    const COwnedList<CArrangement>& GetArrangements() const { return m_arrArrangements; }

    CSection* AddSection(std::unique_ptr<CSection> pSection);
    CSection* GetSection(int i) const { return m_arrSections[static_cast<size_t>(i)].get(); }
    int GetSectionCount() const { return static_cast<int>(m_arrSections.size()); }

    CClip* AddClip(std::unique_ptr<CClip> pClip);
    // Clip i, or null when i is outside the clip table.
    CClip* GetClip(int i) const;
    int GetClipCount() const { return static_cast<int>(m_arrClips.size()); }

    std::string m_strTitle;
    std::string m_strAuthor;
    std::string m_strPublisher;
    std::string m_strGenre;
    std::string m_strCopyright;
    float m_fFactor = 1.0f;
    int16_t m_nBeatsPerBar = 4;
    int16_t m_nBeatUnit = 4;
    int16_t m_nVolume = 128;
    int16_t m_nPan = 0;
    int16_t m_nMode = 2;
    uint8_t m_nOption = 0;
    COwnedList<CArrangement> m_arrArrangements;
    COwnedList<CSection> m_arrSections;
    COwnedList<CClip> m_arrClips;
};

// Compares two names as the song's arrangement table does: byte by byte, letters
// A-Z matching a-z.
bool EqualNoCase(const std::string& a, const std::string& b);
