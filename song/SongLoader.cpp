#include "song/SongLoader.h"

#include <cstring>
#include <vector>

#include "song/Song.h"
#include "song/SongFileReader.h"

namespace {

constexpr int64_t kChunksStart = 10;

// "MP3" and every text that sorts after it (upper-cased) is kind 2, anything before
// it kind 1.
uint8_t KindFromFormatText(const std::string& text)
{
    std::string upper = text;
    for (char& c : upper)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    static const char kMp3[] = "MP3";
    const unsigned char* a = reinterpret_cast<const unsigned char*>(upper.c_str());
    const unsigned char* b = reinterpret_cast<const unsigned char*>(kMp3);
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return *a < *b ? 1 : 2;
}

} // namespace

std::unique_ptr<CSong> CSongLoader::Load(const CFileSource& source)
{
    {
        CFile file;
        file.OpenOrThrow(source); // leaves Load; the document handles it
        char text[7] = {0};
        unsigned char flags = 0xFF, version = 0;
        bool haveText = false, haveFlags = false, haveVersion = false;
        try {
            file.Seek(0, CFile::begin);
            uint32_t got = file.Read(text, 6);
            haveText = true;
            if (got < 6)
                std::memset(text + got, 0, 6 - got);
            haveFlags = file.Read(&flags, 1) == 1;
            haveVersion = haveFlags && file.Read(&version, 1) == 1;
        } catch (const std::exception&) {
        }
        // Bytes that were not read count as not matching.
        std::string header(text, std::strlen(text));
        m_strHeaderText = header.size() > 3 ? header.substr(3, 3) : std::string();
        m_nFormatFlags = haveFlags ? flags : 0;
        m_nFormatVersion = haveVersion ? version : 0;
        file.Close();
        if (!haveText || header.compare(0, 3, "VNF") != 0 || !haveFlags || flags != 0 ||
            !haveVersion || (version != 0x60 && version != 0x61)) {
            if (m_pTrace)
                m_pTrace->strFailure = !haveText || header.compare(0, 3, "VNF") != 0
                    ? "the file does not begin with \"VNF\""
                    : !haveFlags  ? "the file ends inside its header"
                    : flags != 0  ? "format flags " + std::to_string(flags) + ", only 0 is readable"
                    : !haveVersion ? "the file ends inside its header"
                                   : "format version " + std::to_string(version) +
                                         ", only 0x60 and 0x61 are readable";
            return nullptr;
        }
    }
    if (m_pTrace)
        *m_pTrace = CSongLoadTrace();
    try {
        return Parse(source);
    } catch (const std::exception& e) {
        if (m_pTrace)
            m_pTrace->strFailure = e.what();
        return nullptr;
    }
}

std::unique_ptr<CSong> CSongLoader::Parse(const CFileSource& source)
{
    CSongFileReader file;
    file.Open(source); // a failed open surfaces at the first seek

    auto song = std::make_unique<CSong>("New Song");

    // Locate the four chunks by their lengths.
    Field(file, "info chunk length");
    const int64_t p1 = file.Seek(kChunksStart, CFile::begin);
    int32_t length = file.ReadInt32BE();
    FieldAt(p1 + 4 + length, "structure chunk length");
    const int64_t p2 = file.Seek(p1 + 4 + length, CFile::begin);
    length = file.ReadInt32BE();
    FieldAt(p2 + 4 + length, "third chunk length");
    const int64_t p3 = file.Seek(p2 + 4 + length, CFile::begin);
    length = file.ReadInt32BE();
    FieldAt(p3 + 4 + length, "clip chunk length");
    const int64_t p4 = file.Seek(p3 + 4 + length, CFile::begin);
    file.ReadInt32BE();
    if (m_pTrace && length > 0)
        m_pTrace->arrSkipped.push_back({p3 + 4, length, {}, "third chunk"});

    file.Seek(0, CFile::begin);
    char header[6];
    file.ReadExact(header, 6);
    file.ReadUInt8();
    const uint8_t version = file.ReadUInt8();
    Skip(file, 2, "header bytes 8-9");
    file.Seek(p1, CFile::begin);

    // Info chunk: texts (when the chunk has a body), then the settings.
    if (file.ReadInt32BE() > 0) {
        Field(file, "title");
        song->SetTitle(file.ReadFixedText(50));
        Field(file, "author");
        song->SetAuthor(file.ReadFixedText(50));
        Field(file, "publisher");
        song->SetPublisher(file.ReadFixedText(50));
        Field(file, "genre");
        song->SetGenre(file.ReadFixedText(20));
        Field(file, "copyright");
        song->SetCopyright(file.ReadFixedText(100));
        Skip(file, 3, "info bytes after the copyright");
    }
    Skip(file, 4, "info bytes before the factor");
    Field(file, "song settings");
    song->SetFactor(file.ReadFloat32LE());
    const int8_t beatsPerBar = file.ReadInt8();
    const int8_t beatUnit = file.ReadInt8();
    song->SetMeter(beatsPerBar, beatUnit);
    song->SetVolume(file.ReadUInt8());
    song->SetPan(file.ReadInt8());
    song->SetMode(file.ReadUInt8());
    song->SetOption(file.ReadUInt8());
    for (int i = 0; i < 3; ++i) {
        Field(file, "counted block of the info chunk");
        Skip(file, file.ReadInt32BE(), "counted block of the info chunk");
    }

    // Clip chunk: read before the structure, which refers to clips by number.
    file.Seek(p4, CFile::begin);
    Field(file, "clip chunk length");
    if (file.ReadInt32BE() > 0) {
        Skip(file, 100, "clip chunk text");
        Field(file, "clip count");
        const int16_t count = file.ReadInt16BE();
        if (count > 0) {
            std::vector<std::unique_ptr<CClip>> entries(static_cast<size_t>(count));
            for (auto& entry : entries)
                entry = std::make_unique<CClip>();
            for (auto& entry : entries) {
                if (m_pTrace)
                    m_pTrace->where.nClip = static_cast<int>(&entry - entries.data());
                Field(file, "data size");
                const int32_t dataSize = file.ReadInt32BE();
                Field(file, "format text");
                const std::string format = file.ReadFixedText(10);
                Skip(file, 4, "clip bytes after the format text");
                Field(file, "name");
                std::string name =
                    version == 0x60 ? file.ReadFixedText(50) : file.ReadCountedText();
                int32_t pathLength = 0;
                Field(file, "path");
                std::string clipPath = file.ReadCountedText(&pathLength);
                if (pathLength <= 0)
                    clipPath = source.GetPath();
                Field(file, "embedded");
                if (file.ReadUInt8() != 0) {
                    Field(file, "data");
                    const int64_t dataOffset = file.GetPosition();
                    // Offsets are 32-bit in the model; the data itself must be there.
                    if (dataOffset > INT32_MAX)
                        throw CFileException("clip data beyond the format's reach");
                    entry = std::make_unique<CClip>(KindFromFormatText(format), clipPath,
                                                    static_cast<int32_t>(dataOffset), dataSize);
                    const int64_t next = dataOffset + dataSize;
                    if (next > file.GetLength())
                        throw CFileException("clip data cut short");
                    file.Seek(next, CFile::begin);
                }
                entry->m_strName = std::move(name);
                song->AddClip(std::move(entry));
            }
            if (m_pTrace)
                m_pTrace->where.nClip = -1;
        }
    }

    // Structure chunk, first pass: the section table, found through its offset.
    Field(file, "structure chunk length");
    file.Seek(p2, CFile::begin);
    if (file.ReadInt32BE() > 0) {
        Field(file, "section table offset");
        const int32_t table = file.ReadInt32BE();
        FieldAt(table, "section count");
        file.Seek(table, CFile::begin);
        const int8_t sectionCount = file.ReadInt8();
        for (int s = 0; s < sectionCount; ++s) {
            if (m_pTrace)
                m_pTrace->where = CSongLoadTrace::Where{-1, s, -1, -1, -1, -1};
            Skip(file, 4, "section bytes before the name");
            Field(file, "name");
            auto section = std::make_unique<CSection>(file.ReadFixedText(50));
            Field(file, "settings");
            const int32_t a = file.ReadInt32BE();
            const int32_t b = file.ReadInt32BE();
            section->SetSettings(a, b);
            Skip(file, 6, "section bytes after the settings");
            Field(file, "variation count");
            const int8_t variationCount = file.ReadInt8();
            for (int v = 0; v < variationCount; ++v) {
                if (m_pTrace)
                    m_pTrace->where = CSongLoadTrace::Where{-1, s, v, -1, -1, -1};
                Skip(file, 4, "variation bytes before the name");
                Field(file, "name");
                auto variation = std::make_unique<CVariation>(file.ReadFixedText(50));
                Field(file, "lengthMs");
                variation->SetLengthMs(file.ReadInt32BE());
                Skip(file, 7, "variation bytes after the length");
                Field(file, "factor and meter");
                variation->SetFactor(file.ReadFloat32LE());
                const int8_t vBeats = file.ReadInt8();
                const int8_t vUnit = file.ReadInt8();
                variation->SetMeter(vBeats, vUnit);
                Field(file, "track count");
                const int8_t trackCount = file.ReadInt8();
                for (int t = 0; t < trackCount; ++t) {
                    // Tracks and events are counted as the model counts them: a record
                    // that leaves nothing is placed before the next one that is kept.
                    if (m_pTrace)
                        m_pTrace->where = CSongLoadTrace::Where{
                            -1, s, v, static_cast<int>(variation->GetTracks().size()), -1, -1};
                    const int64_t recordAt = file.GetPosition();
                    Field(file, "tag and size");
                    const uint8_t tag = file.ReadUInt8();
                    const int32_t size = file.ReadInt32BE();
                    if (tag != 'A') {
                        Drop(file, recordAt,
                             std::string("a track record of tag ") +
                                 (tag >= 0x20 && tag < 0x7F
                                      ? "\"" + std::string(1, static_cast<char>(tag)) + "\""
                                      : std::to_string(tag)) +
                                 " (" + std::to_string(size < 0 ? 0 : size) + " bytes)");
                        Field(file, "track record of another tag");
                        file.Skip(size);
                        continue;
                    }
                    Field(file, "name");
                    auto track = std::make_unique<CTrack>(file.ReadFixedText(50));
                    Field(file, "settingA");
                    track->SetSettingA(file.ReadInt32BE());
                    Skip(file, 4, "track bytes after settingA");
                    Field(file, "volume, pan and mode");
                    track->SetVolume(file.ReadUInt8());
                    track->SetPan(file.ReadUInt8());
                    track->SetMode(file.ReadUInt8());
                    Skip(file, 6, "track bytes after the mode");
                    ReadTrackEvents(file, *song, *track);
                    variation->AddTrack(std::move(track));
                }
                section->AddVariation(std::move(variation));
            }
            song->AddSection(std::move(section));
        }
    }
    if (m_pTrace)
        m_pTrace->where = CSongLoadTrace::Where();

    // Structure chunk, second pass: the arrangements, which refer to sections.
    file.Seek(p2, CFile::begin);
    if (file.ReadInt32BE() > 0) {
        file.Skip(4);
        Field(file, "arrangement count");
        const int8_t arrangementCount = file.ReadInt8();
        for (int i = 0; i < arrangementCount; ++i) {
            if (m_pTrace)
                m_pTrace->where = CSongLoadTrace::Where{-1, -1, -1, -1, -1, i};
            const int64_t recordAt = file.GetPosition();
            Field(file, "section reference count");
            const int8_t refCount = file.ReadInt8();
            Field(file, "name");
            auto arrangement = std::make_unique<CArrangement>(file.ReadFixedText(50));
            Field(file, "settings");
            arrangement->SetSettingA(file.ReadInt32BE());
            arrangement->SetSettingB(file.ReadInt32BE());
            for (int r = 0; r < refCount; ++r) {
                const int64_t refAt = file.GetPosition();
                Field(file, "section reference");
                const int32_t ref = file.ReadInt32BE();
                // A reference outside the section table is dropped.
                if (ref >= 0 && ref < song->GetSectionCount())
                    arrangement->AddSection(song->GetSection(ref));
                else
                    Drop(file, refAt, "section reference " + std::to_string(ref) +
                                          ", outside the section table");
            }
            const std::string name = arrangement->m_strName;
            if (!song->AddArrangement(arrangement)) // a refused arrangement is discarded
                Drop(file, recordAt, "the arrangement \"" + name +
                                         "\", whose name is taken (names are compared "
                                         "without regard to case)");
        }
    }

    file.Close();
    return song;
}

void CSongLoader::ReadTrackEvents(CSongFileReader& file, CSong& song, CTrack& track)
{
    Field(file, "event count");
    const int8_t eventCount = file.ReadInt8();
    for (int e = 0; e < eventCount; ++e) {
        if (m_pTrace)
            m_pTrace->where.nEvent = track.GetEventCount();
        const int64_t recordAt = file.GetPosition();
        Skip(file, 4, "event bytes before the start");
        Field(file, "startMs");
        const int32_t startMs = file.ReadInt32BE();
        Field(file, "lengthMs");
        const int32_t lengthMs = file.ReadInt32BE();
        Field(file, "muted");
        const uint8_t muted = file.ReadUInt8();
        Field(file, "clip number");
        const int32_t clipNumber = file.ReadInt32BE();
        if (clipNumber == 0) {
            Drop(file, recordAt, "an event record with clip number 0 (no clip)");
            continue;
        }
        CClip* clip = clipNumber > 0 ? song.GetClip(clipNumber - 1) : nullptr;
        Field(file, "volume, pan and mode");
        const uint8_t volume = file.ReadUInt8();
        const int8_t pan = file.ReadInt8();
        const uint8_t mode = file.ReadUInt8();
        Field(file, "first guard");
        if (file.ReadInt32BE() <= 0) {
            Drop(file, recordAt, "an event record ended by its first guard");
            continue;
        }
        Field(file, "second guard");
        if (file.ReadInt32BE() == 0) {
            Drop(file, recordAt, "an event record ended by its second guard");
            continue;
        }
        Field(file, "counted block of the event");
        Skip(file, file.ReadInt32BE(), "counted block of the event");
        Field(file, "event value before the positions");
        const int64_t unusedAt = file.GetPosition();
        if (file.ReadInt32BE() != 0 && m_pTrace)
            m_pTrace->arrSkipped.push_back({unusedAt, 4, m_pTrace->where, "event value before the positions"});
        Field(file, "pos");
        int64_t pos[6];
        for (auto& p : pos)
            p = file.ReadInt64BE();
        // An event must refer to a clip of the table; one that does not is left out.
        if (!clip) {
            Drop(file, recordAt, "an event record whose clip number " + std::to_string(clipNumber) +
                                     " is outside the clip table");
            continue;
        }
        auto event = std::make_unique<CClipEvent>();
        event->m_nStartMs = startMs;
        event->m_nLengthMs = lengthMs;
        event->m_nPos1 = pos[0];
        event->m_nPos2 = pos[1];
        event->m_nPos3 = pos[2];
        event->m_nPos4 = pos[3];
        event->m_nPos5 = pos[4];
        event->m_nPos6 = pos[5];
        event->m_pClip = clip;
        event->m_nVolume = volume;
        event->m_nPan = pan;
        event->m_nMode = mode;
        event->m_bActive = muted == 0 ? 1 : 0;
        track.AddEvent(std::move(event));
    }
    if (m_pTrace)
        m_pTrace->where.nEvent = -1;
}

void CSongLoader::Field(const CSongFileReader& file, const char* name)
{
    if (m_pTrace)
        FieldAt(file.GetPosition(), name);
}

void CSongLoader::FieldAt(int64_t offset, const char* name)
{
    if (m_pTrace) {
        m_pTrace->nOffset = offset;
        m_pTrace->pszField = name;
    }
}

void CSongLoader::Skip(CSongFileReader& file, int64_t n, const char* what)
{
    if (m_pTrace) {
        Field(file, what);
        if (n > 0)
            m_pTrace->arrSkipped.push_back({file.GetPosition(), n, m_pTrace->where, what});
    }
    file.Skip(n);
}

void CSongLoader::Drop(const CSongFileReader& file, int64_t offset, const std::string& what)
{
    (void)file;
    if (m_pTrace)
        m_pTrace->arrDropped.push_back({offset, 0, m_pTrace->where, what});
}
