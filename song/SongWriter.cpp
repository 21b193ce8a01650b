#include "song/SongWriter.h"

#include <cstdio>
#include <cstring>
#include <ostream>
#include <map>

#include "song/Song.h"

void CByteWriter::Int32BE(int32_t v)
{
    const uint32_t u = static_cast<uint32_t>(v);
    for (int shift = 24; shift >= 0; shift -= 8)
        m_strBytes.push_back(static_cast<char>((u >> shift) & 0xFF));
}

void CByteWriter::Int16BE(int16_t v)
{
    const uint16_t u = static_cast<uint16_t>(v);
    m_strBytes.push_back(static_cast<char>(u >> 8));
    m_strBytes.push_back(static_cast<char>(u & 0xFF));
}

void CByteWriter::Int64BE(int64_t v)
{
    const int32_t low = static_cast<int32_t>(v);
    Int32BE(low < 0 ? -1 : 0);
    Int32BE(low);
}

void CByteWriter::Float32LE(float f)
{
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    for (int shift = 0; shift <= 24; shift += 8)
        m_strBytes.push_back(static_cast<char>((bits >> shift) & 0xFF));
}

void CByteWriter::FixedText(const std::string& text, size_t width, const char* what)
{
    if (text.size() > width)
        throw CSongWriteError(std::string(what) + " \"" + text + "\" is longer than " +
                              std::to_string(width) + " bytes");
    if (text.find('\0') != std::string::npos)
        throw CSongWriteError(std::string(what) + " holds a NUL byte");
    m_strBytes += text;
    Zeros(width - text.size());
}

void CByteWriter::CountedText(const std::string& text, const char* what)
{
    if (text.find('\0') != std::string::npos)
        throw CSongWriteError(std::string(what) + " holds a NUL byte");
    if (text.size() > INT32_MAX)
        throw CSongWriteError(std::string(what) + " is too long");
    Int32BE(static_cast<int32_t>(text.size()));
    m_strBytes += text;
}

void CByteWriter::PatchInt32BE(size_t at, int32_t v)
{
    const uint32_t u = static_cast<uint32_t>(v);
    for (int i = 0; i < 4; ++i)
        m_strBytes[at + static_cast<size_t>(i)] = static_cast<char>((u >> (24 - 8 * i)) & 0xFF);
}

namespace {

int8_t Count8(size_t n, const char* what)
{
    if (n > 127)
        throw CSongWriteError(std::string("too many ") + what + " (" + std::to_string(n) +
                              "; at most 127)");
    return static_cast<int8_t>(n);
}

const char* FormatTextOf(uint8_t kind) { return kind == 2 ? "MP3" : ""; }

} // namespace

std::string CSongWriter::Serialize(const CSong& song, const std::vector<std::string>& clipData,
                                   uint8_t version)
{
    if (version != 0x60 && version != 0x61)
        throw CSongWriteError("only versions 0x60 and 0x61 can be written");
    if (song.m_arrClips.size() > 32767)
        throw CSongWriteError("too many clips (at most 32767)");

    std::map<const CClip*, int32_t> clipNumbers;
    for (size_t i = 0; i < song.m_arrClips.size(); ++i)
        clipNumbers[song.m_arrClips[i].get()] = static_cast<int32_t>(i + 1);
    std::map<const CSection*, int32_t> sectionIndex;
    for (size_t i = 0; i < song.m_arrSections.size(); ++i)
        sectionIndex[song.m_arrSections[i].get()] = static_cast<int32_t>(i);

    CByteWriter out;
    // Header.
    out.Bytes("VNF");
    out.Bytes("VN1");
    out.UInt8(0);
    out.UInt8(version);
    out.Zeros(2);

    // Info chunk.
    const size_t infoAt = out.Size();
    out.Int32BE(0);
    out.FixedText(song.m_strTitle, 50, "title");
    out.FixedText(song.m_strAuthor, 50, "author");
    out.FixedText(song.m_strPublisher, 50, "publisher");
    out.FixedText(song.m_strGenre, 20, "genre");
    out.FixedText(song.m_strCopyright, 100, "copyright notice");
    out.Zeros(3);
    out.Zeros(4);
    out.Float32LE(song.m_fFactor);
    out.Int8(static_cast<int8_t>(song.m_nBeatsPerBar));
    out.Int8(static_cast<int8_t>(song.m_nBeatUnit));
    out.UInt8(static_cast<uint8_t>(song.m_nVolume));
    out.Int8(static_cast<int8_t>(song.m_nPan));
    out.UInt8(static_cast<uint8_t>(song.m_nMode));
    out.UInt8(song.m_nOption);
    for (int i = 0; i < 3; ++i)
        out.Int32BE(0);
    out.PatchInt32BE(infoAt, static_cast<int32_t>(out.Size() - infoAt - 4));

    // Structure chunk: section table offset, arrangements, then the section table.
    const size_t structAt = out.Size();
    out.Int32BE(0);
    const size_t offsetAt = out.Size();
    out.Int32BE(0);
    out.Int8(Count8(song.m_arrArrangements.size(), "arrangements"));
    for (const auto& a : song.m_arrArrangements) {
        out.Int8(Count8(a->m_arrSections.size(), "sections in an arrangement"));
        out.FixedText(a->m_strName, 50, "arrangement name");
        out.Int32BE(a->m_nSettingA);
        out.Int32BE(a->m_nSettingB);
        for (const CSection* s : a->m_arrSections) {
            auto it = sectionIndex.find(s);
            if (it == sectionIndex.end())
                throw CSongWriteError("arrangement \"" + a->m_strName +
                                      "\" refers to a section outside the song");
            out.Int32BE(it->second);
        }
    }
    out.PatchInt32BE(offsetAt, static_cast<int32_t>(out.Size()));
    out.Int8(Count8(song.m_arrSections.size(), "sections"));
    for (const auto& s : song.m_arrSections) {
        out.Zeros(4);
        out.FixedText(s->m_strName, 50, "section name");
        out.Int32BE(s->m_nSettingA);
        out.Int32BE(s->m_nSettingB);
        out.Zeros(6);
        out.Int8(Count8(s->m_arrVariations.size(), "variations"));
        for (const auto& v : s->m_arrVariations) {
            out.Zeros(4);
            out.FixedText(v->m_strName, 50, "variation name");
            out.Int32BE(v->m_nLengthMs);
            out.Zeros(7);
            out.Float32LE(v->m_fFactor);
            out.Int8(static_cast<int8_t>(v->m_nBeatsPerBar));
            out.Int8(static_cast<int8_t>(v->m_nBeatUnit));
            out.Int8(Count8(v->m_arrTracks.size(), "tracks"));
            for (const auto& t : v->m_arrTracks) {
                out.UInt8('A');
                const size_t sizeAt = out.Size();
                out.Int32BE(0);
                out.FixedText(t->m_strName, 50, "track name");
                out.Int32BE(t->m_nSettingA);
                out.Zeros(4);
                out.UInt8(static_cast<uint8_t>(t->m_nVolume));
                out.UInt8(static_cast<uint8_t>(t->m_nPan));
                out.UInt8(t->m_nMode);
                out.Zeros(6);
                out.Int8(Count8(t->m_arrEvents.size(), "events"));
                for (const auto& e : t->m_arrEvents) {
                    auto it = clipNumbers.find(e->m_pClip);
                    if (it == clipNumbers.end())
                        throw CSongWriteError("an event of track \"" + t->m_strName +
                                              "\" plays a clip outside the clip table");
                    out.Zeros(4);
                    out.Int32BE(static_cast<int32_t>(e->m_nStartMs));
                    out.Int32BE(static_cast<int32_t>(e->m_nLengthMs));
                    out.UInt8(e->m_bActive ? 0 : 1);
                    out.Int32BE(it->second);
                    out.UInt8(static_cast<uint8_t>(e->m_nVolume));
                    out.Int8(static_cast<int8_t>(e->m_nPan));
                    out.UInt8(e->m_nMode);
                    out.Int32BE(1); // guards: an event that is there
                    out.Int32BE(1);
                    out.Int32BE(0); // empty counted block
                    out.Int32BE(0);
                    out.Int64BE(e->m_nPos1);
                    out.Int64BE(e->m_nPos2);
                    out.Int64BE(e->m_nPos3);
                    out.Int64BE(e->m_nPos4);
                    out.Int64BE(e->m_nPos5);
                    out.Int64BE(e->m_nPos6);
                }
                out.PatchInt32BE(sizeAt, static_cast<int32_t>(out.Size() - sizeAt - 4));
            }
        }
    }
    out.PatchInt32BE(structAt, static_cast<int32_t>(out.Size() - structAt - 4));

    // Third chunk: empty.
    out.Int32BE(0);

    // Clip chunk.
    const size_t clipAt = out.Size();
    out.Int32BE(0);
    out.Zeros(100);
    out.Int16BE(static_cast<int16_t>(song.m_arrClips.size()));
    for (size_t i = 0; i < song.m_arrClips.size(); ++i) {
        const CClip& clip = *song.m_arrClips[i];
        const bool embedded = clip.m_nKind == 1 || clip.m_nKind == 2;
        const std::string empty;
        const std::string& data = i < clipData.size() ? clipData[i] : empty;
        if (embedded && data.size() > INT32_MAX)
            throw CSongWriteError("clip \"" + clip.m_strName + "\" is too large");
        out.Int32BE(embedded ? static_cast<int32_t>(data.size()) : 0);
        out.FixedText(embedded ? FormatTextOf(clip.m_nKind) : "", 10, "clip format");
        out.Zeros(4);
        if (version == 0x60)
            out.FixedText(clip.m_strName, 50, "clip name");
        else
            out.CountedText(clip.m_strName, "clip name");
        out.CountedText(clip.m_strPath, "clip path");
        out.UInt8(embedded ? 1 : 0);
        if (embedded)
            out.Bytes(data);
    }
    out.PatchInt32BE(clipAt, static_cast<int32_t>(out.Size() - clipAt - 4));
    if (out.Size() > INT32_MAX)
        throw CSongWriteError("the song would be larger than 2 GiB");
    return out.Data();
}

void CSongWriter::Write(const CSong& song, const std::vector<std::string>& clipData, std::ostream& out,
                        uint8_t version)
{
    const std::string bytes = Serialize(song, clipData, version);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out)
        throw CSongWriteError("the song could not be written out");
}
