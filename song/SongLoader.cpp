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
            !haveVersion || (version != 0x60 && version != 0x61))
            return nullptr;
    }
    try {
        return Parse(source);
    } catch (const std::exception&) {
        return nullptr;
    }
}

std::unique_ptr<CSong> CSongLoader::Parse(const CFileSource& source)
{
    CSongFileReader file;
    file.Open(source); // a failed open surfaces at the first seek

    auto song = std::make_unique<CSong>("New Song");

    // Locate the four chunks by their lengths.
    const int64_t p1 = file.Seek(kChunksStart, CFile::begin);
    int32_t length = file.ReadInt32BE();
    const int64_t p2 = file.Seek(p1 + 4 + length, CFile::begin);
    length = file.ReadInt32BE();
    const int64_t p3 = file.Seek(p2 + 4 + length, CFile::begin);
    length = file.ReadInt32BE();
    const int64_t p4 = file.Seek(p3 + 4 + length, CFile::begin);
    file.ReadInt32BE();

    file.Seek(0, CFile::begin);
    char header[6];
    file.ReadExact(header, 6);
    file.ReadUInt8();
    const uint8_t version = file.ReadUInt8();
    file.Skip(2);
    file.Seek(p1, CFile::begin);

    // Info chunk: texts (when the chunk has a body), then the settings.
    if (file.ReadInt32BE() > 0) {
        song->SetTitle(file.ReadFixedText(50));
        song->SetAuthor(file.ReadFixedText(50));
        song->SetPublisher(file.ReadFixedText(50));
        song->SetGenre(file.ReadFixedText(20));
        song->SetCopyright(file.ReadFixedText(100));
        file.Skip(3);
    }
    file.Skip(4);
    song->SetFactor(file.ReadFloat32LE());
    const int8_t beatsPerBar = file.ReadInt8();
    const int8_t beatUnit = file.ReadInt8();
    song->SetMeter(beatsPerBar, beatUnit);
    song->SetVolume(file.ReadUInt8());
    song->SetPan(file.ReadInt8());
    song->SetMode(file.ReadUInt8());
    song->SetOption(file.ReadUInt8());
    for (int i = 0; i < 3; ++i)
        file.Skip(file.ReadInt32BE());

    // Clip chunk: read before the structure, which refers to clips by number.
    file.Seek(p4, CFile::begin);
    if (file.ReadInt32BE() > 0) {
        file.Skip(100);
        const int16_t count = file.ReadInt16BE();
        if (count > 0) {
            std::vector<std::unique_ptr<CClip>> entries(static_cast<size_t>(count));
            for (auto& entry : entries)
                entry = std::make_unique<CClip>();
            for (auto& entry : entries) {
                const int32_t dataSize = file.ReadInt32BE();
                const std::string format = file.ReadFixedText(10);
                file.Skip(4);
                std::string name =
                    version == 0x60 ? file.ReadFixedText(50) : file.ReadCountedText();
                int32_t pathLength = 0;
                std::string clipPath = file.ReadCountedText(&pathLength);
                if (pathLength <= 0)
                    clipPath = source.GetPath();
                if (file.ReadUInt8() != 0) {
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
        }
    }

    // Structure chunk, first pass: the section table, found through its offset.
    file.Seek(p2, CFile::begin);
    if (file.ReadInt32BE() > 0) {
        file.Seek(file.ReadInt32BE(), CFile::begin);
        const int8_t sectionCount = file.ReadInt8();
        for (int s = 0; s < sectionCount; ++s) {
            file.Skip(4);
            auto section = std::make_unique<CSection>(file.ReadFixedText(50));
            const int32_t a = file.ReadInt32BE();
            const int32_t b = file.ReadInt32BE();
            section->SetSettings(a, b);
            file.Skip(6);
            const int8_t variationCount = file.ReadInt8();
            for (int v = 0; v < variationCount; ++v) {
                file.Skip(4);
                auto variation = std::make_unique<CVariation>(file.ReadFixedText(50));
                variation->SetLengthMs(file.ReadInt32BE());
                file.Skip(7);
                variation->SetFactor(file.ReadFloat32LE());
                const int8_t vBeats = file.ReadInt8();
                const int8_t vUnit = file.ReadInt8();
                variation->SetMeter(vBeats, vUnit);
                const int8_t trackCount = file.ReadInt8();
                for (int t = 0; t < trackCount; ++t) {
                    const uint8_t tag = file.ReadUInt8();
                    const int32_t size = file.ReadInt32BE();
                    if (tag != 'A') {
                        file.Skip(size);
                        continue;
                    }
                    auto track = std::make_unique<CTrack>(file.ReadFixedText(50));
                    track->SetSettingA(file.ReadInt32BE());
                    file.Skip(4);
                    track->SetVolume(file.ReadUInt8());
                    track->SetPan(file.ReadUInt8());
                    track->SetMode(file.ReadUInt8());
                    file.Skip(6);
                    ReadTrackEvents(file, *song, *track);
                    variation->AddTrack(std::move(track));
                }
                section->AddVariation(std::move(variation));
            }
            song->AddSection(std::move(section));
        }
    }

    // Structure chunk, second pass: the arrangements, which refer to sections.
    file.Seek(p2, CFile::begin);
    if (file.ReadInt32BE() > 0) {
        file.Skip(4);
        const int8_t arrangementCount = file.ReadInt8();
        for (int i = 0; i < arrangementCount; ++i) {
            const int8_t refCount = file.ReadInt8();
            auto arrangement = std::make_unique<CArrangement>(file.ReadFixedText(50));
            arrangement->SetSettingA(file.ReadInt32BE());
            arrangement->SetSettingB(file.ReadInt32BE());
            for (int r = 0; r < refCount; ++r) {
                const int32_t ref = file.ReadInt32BE();
                // A reference outside the section table is dropped.
                if (ref >= 0 && ref < song->GetSectionCount())
                    arrangement->AddSection(song->GetSection(ref));
            }
            song->AddArrangement(arrangement); // a refused arrangement is discarded
        }
    }

    file.Close();
    return song;
}

void CSongLoader::ReadTrackEvents(CSongFileReader& file, CSong& song, CTrack& track)
{
    const int8_t eventCount = file.ReadInt8();
    for (int e = 0; e < eventCount; ++e) {
        file.Skip(4);
        const int32_t startMs = file.ReadInt32BE();
        const int32_t lengthMs = file.ReadInt32BE();
        const uint8_t muted = file.ReadUInt8();
        const int32_t clipNumber = file.ReadInt32BE();
        if (clipNumber == 0)
            continue;
        CClip* clip = clipNumber > 0 ? song.GetClip(clipNumber - 1) : nullptr;
        const uint8_t volume = file.ReadUInt8();
        const int8_t pan = file.ReadInt8();
        const uint8_t mode = file.ReadUInt8();
        if (file.ReadInt32BE() <= 0)
            continue;
        if (file.ReadInt32BE() == 0)
            continue;
        file.Skip(file.ReadInt32BE());
        file.ReadInt32BE();
        int64_t pos[6];
        for (auto& p : pos)
            p = file.ReadInt64BE();
        // An event must refer to a clip of the table; one that does not is left out.
        if (!clip)
            continue;
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
}
