#include "robustness/HostileSongs.h"

#include <algorithm>
#include <climits>
#include <fstream>
#include <iterator>

#include "song/SongWriter.h"

namespace hostile {

namespace {

void SomeBytes(CByteWriter& out, int32_t n, int cap)
{
    out.Bytes(std::string(static_cast<size_t>(std::clamp<int32_t>(n, 0, cap)), 'x'));
}

int32_t Or(int32_t value, size_t exact)
{
    return value == SongFields::kExact ? static_cast<int32_t>(exact) : value;
}

void Texts(CByteWriter& out, const char* name, size_t width)
{
    out.FixedText(name, width, "text");
}

void Event(CByteWriter& out, const EventFields& e)
{
    out.Zeros(4);
    out.Int32BE(e.nStartMs);
    out.Int32BE(e.nLengthMs);
    out.UInt8(e.nMuted);
    out.Int32BE(e.nClipNumber);
    if (e.nClipNumber == 0)
        return;
    out.UInt8(100);
    out.Int8(0);
    out.UInt8(2);
    out.Int32BE(e.nGuard1);
    if (e.nGuard1 <= 0)
        return;
    out.Int32BE(e.nGuard2);
    if (e.nGuard2 == 0)
        return;
    out.Int32BE(e.nBlockLength);
    SomeBytes(out, e.nBlockLength, 16);
    out.Int32BE(0);
    out.Int64BE(e.nPos1);
    for (int i = 0; i < 5; ++i)
        out.Int64BE(0);
}

} // namespace

std::string Build(const SongFields& f)
{
    CByteWriter out;
    std::string magic = f.strMagic;
    magic.resize(6, '\0');
    out.Bytes(magic);
    out.UInt8(f.nFlags);
    out.UInt8(f.nVersion);
    out.Zeros(2);

    // Info chunk.
    const size_t infoAt = out.Size();
    out.Int32BE(0);
    if (f.bWithTexts) {
        Texts(out, "Hostile", 50);
        Texts(out, "Nobody", 50);
        Texts(out, "", 50);
        Texts(out, "Noise", 20);
        Texts(out, "", 100);
        out.Zeros(3);
    }
    out.Zeros(4);
    out.Float32LE(1.0f);
    out.Int8(4);
    out.Int8(4);
    out.UInt8(200);
    out.Int8(0);
    out.UInt8(0);
    out.UInt8(0);
    for (int32_t n : f.arrInfoBlocks) {
        out.Int32BE(n);
        SomeBytes(out, n, 16);
    }
    const size_t infoBody = out.Size() - infoAt - 4;
    out.PatchInt32BE(infoAt, f.bWithTexts ? Or(f.nInfoLength, infoBody) : Or(f.nInfoLength, 0));

    // Structure chunk.
    const size_t structAt = out.Size();
    out.Int32BE(0);
    const size_t offsetAt = out.Size();
    out.Int32BE(0);
    out.Int8(f.nArrangementCount);
    for (int a = 0; a < f.nArrangementRecords; ++a) {
        out.Int8(f.nRefCount);
        out.FixedText("Main" + std::to_string(a), 50, "name");
        out.Int32BE(0);
        out.Int32BE(0);
        for (int32_t r : f.arrRefs)
            out.Int32BE(r);
    }
    out.PatchInt32BE(offsetAt, Or(f.nSectionOffset, out.Size()));
    out.Int8(f.nSectionCount);
    for (int s = 0; s < f.nSectionRecords; ++s) {
        out.Zeros(4);
        out.FixedText("Section", 50, "name");
        out.Int32BE(0);
        out.Int32BE(0);
        out.Zeros(6);
        out.Int8(f.nVariationCount);
        for (int v = 0; v < f.nVariationRecords; ++v) {
            out.Zeros(4);
            out.FixedText("Variation", 50, "name");
            out.Int32BE(f.nVariationLengthMs);
            out.Zeros(7);
            out.Float32LE(1.0f);
            out.Int8(4);
            out.Int8(4);
            out.Int8(f.nTrackCount);
            for (int t = 0; t < f.nTrackRecords; ++t) {
                out.UInt8(f.nTrackTag);
                const size_t sizeAt = out.Size();
                out.Int32BE(0);
                if (f.nTrackTag != 'A') {
                    out.PatchInt32BE(sizeAt, Or(f.nTrackSize, 0));
                    SomeBytes(out, Or(f.nTrackSize, 0), 64);
                    continue;
                }
                out.FixedText("Track", 50, "name");
                out.Int32BE(0);
                out.Zeros(4);
                out.UInt8(128);
                out.UInt8(0);
                out.UInt8(2);
                out.Zeros(6);
                out.Int8(f.nEventCount == SongFields::kExactCount
                             ? static_cast<int8_t>(f.arrEvents.size())
                             : f.nEventCount);
                for (const EventFields& e : f.arrEvents)
                    Event(out, e);
                out.PatchInt32BE(sizeAt, Or(f.nTrackSize, out.Size() - sizeAt - 4));
            }
        }
    }
    out.PatchInt32BE(structAt, Or(f.nStructLength, out.Size() - structAt - 4));

    // Third chunk: never read.
    const size_t thirdAt = out.Size();
    out.Int32BE(0);
    out.Zeros(8);
    out.PatchInt32BE(thirdAt, Or(f.nThirdLength, 8));

    // Clip chunk.
    const size_t clipAt = out.Size();
    out.Int32BE(0);
    out.Zeros(100);
    out.Int16BE(f.nClipCount);
    for (int c = 0; c < f.nClipRecords; ++c) {
        out.Int32BE(Or(f.nDataSize, f.strClipData.size()));
        out.FixedText(f.strFormat, 10, "format");
        out.Zeros(4);
        if (f.nVersion == 0x60) {
            out.FixedText("clip", 50, "name");
        } else {
            out.Int32BE(f.nNameLength);
            SomeBytes(out, f.nNameLength, 8);
        }
        out.Int32BE(f.nPathLength);
        SomeBytes(out, f.nPathLength, 8);
        out.UInt8(f.nEmbedded);
        if (f.nEmbedded != 0)
            out.Bytes(f.strClipData);
    }
    out.PatchInt32BE(clipAt, Or(f.nClipChunkLength, out.Size() - clipAt - 4));
    return out.Data();
}

std::string ReadClip(const std::string& sourceDir, const std::string& name)
{
    std::ifstream in(sourceDir + "/tests/data/clips/" + name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<std::pair<std::string, std::string>> HostileSet(const std::string& clip)
{
    std::vector<std::pair<std::string, std::string>> set;
    auto add = [&](const std::string& name, SongFields f) {
        if (f.strClipData.empty() && f.nEmbedded != 0)
            f.strClipData = clip;
        set.emplace_back(name, Build(f));
    };
    auto withEvent = [](const EventFields& e) {
        SongFields f;
        f.arrEvents = {e, EventFields()};
        return f;
    };
    const int32_t kAbsurd[] = {INT32_MIN, -1, 0x7FFFFFFF, 0x40000000};

    add("valid", SongFields());
    {
        SongFields f;
        f.nVersion = 0x60;
        add("valid-v60", f);
    }
    // Headers.
    {
        SongFields f;
        f.strMagic = "VNG";
        add("header-magic", f);
        f = SongFields();
        f.nFlags = 1;
        add("header-flags", f);
        f = SongFields();
        f.nVersion = 0x62;
        add("header-version", f);
        f = SongFields();
        f.strMagic = std::string("VN\0VN1", 6);
        add("header-nul", f);
    }
    set.emplace_back("empty", std::string());
    set.emplace_back("header-only", std::string("VNFVN1\0\x61\0\0", 10));

    for (int32_t v : kAbsurd) {
        const std::string s = std::to_string(v);
        SongFields f;
        f.nInfoLength = v;
        add("info-length-" + s, f);
        f = SongFields();
        f.arrInfoBlocks[1] = v;
        add("info-block-" + s, f);
        f = SongFields();
        f.nStructLength = v;
        add("struct-length-" + s, f);
        f = SongFields();
        f.nThirdLength = v;
        add("third-length-" + s, f);
        f = SongFields();
        f.nDataSize = v;
        add("data-size-" + s, f);
        f = SongFields();
        f.nNameLength = v;
        add("name-length-" + s, f);
        f = SongFields();
        f.nPathLength = v;
        add("path-length-" + s, f);
        f = SongFields();
        f.nSectionOffset = v;
        add("section-offset-" + s, f);
        f = SongFields();
        f.arrRefs = {v, 0};
        f.nRefCount = 2;
        add("section-ref-" + s, f);
        f = SongFields();
        f.nVariationLengthMs = v;
        add("variation-length-" + s, f);
        f = SongFields();
        f.nTrackTag = 'B';
        f.nTrackSize = v;
        add("track-size-" + s, f);
        EventFields e;
        e.nStartMs = v;
        add("event-start-" + s, withEvent(e));
        e = EventFields();
        e.nLengthMs = v;
        add("event-length-" + s, withEvent(e));
        e = EventFields();
        e.nClipNumber = v;
        add("event-clip-" + s, withEvent(e));
        e = EventFields();
        e.nBlockLength = v;
        add("event-block-" + s, withEvent(e));
        e = EventFields();
        e.nPos1 = v;
        add("event-pos1-" + s, withEvent(e));
    }
    {
        SongFields f;
        f.nClipCount = 32767;
        add("clip-count-max", f);
        f.nClipCount = -1;
        add("clip-count-negative", f);
        f = SongFields();
        f.nClipChunkLength = 0;
        add("clip-chunk-empty", f);
        f = SongFields();
        f.nSectionCount = 127;
        f.nVariationCount = 127;
        f.nTrackCount = 127;
        f.nEventCount = 127;
        f.nArrangementCount = 127;
        f.nRefCount = 127;
        add("counts-max-short", f);
        f = SongFields();
        f.nSectionCount = -128;
        f.nArrangementCount = -1;
        add("counts-negative", f);
        f = SongFields();
        f.nEmbedded = 0;
        add("clip-not-embedded", f);
        f = SongFields();
        f.strFormat = "WAV";
        add("clip-format-wav", f);
        f = SongFields();
        f.strClipData = std::string(3000, '\xFF');
        add("clip-data-ff", f);
        f = SongFields();
        f.strClipData = clip.substr(0, clip.size() / 3);
        f.nDataSize = static_cast<int32_t>(clip.size());
        add("clip-data-cut", f);
        f = SongFields();
        std::string noise;
        uint32_t x = 12345;
        for (int i = 0; i < 4000; ++i) {
            x = x * 1103515245u + 12345u;
            noise.push_back(static_cast<char>(x >> 24));
        }
        f.strClipData = noise;
        add("clip-data-noise", f);
        // Many events at the same time: every overflow voice and then some.
        f = SongFields();
        f.nTrackCount = 4;
        f.nTrackRecords = 4;
        f.arrEvents.assign(40, EventFields());
        add("events-stacked", f);
        f = SongFields();
        f.nVariationCount = 2;
        f.nVariationRecords = 2;
        f.nSectionCount = 3;
        f.nSectionRecords = 3;
        f.arrRefs = {2, 1, 0, 1};
        f.nRefCount = 4;
        f.nVariationLengthMs = 1;
        add("entries-short", f);
        EventFields e;
        e.nGuard1 = 0;
        add("event-guard1", withEvent(e));
        e = EventFields();
        e.nGuard2 = 0;
        add("event-guard2", withEvent(e));
        e = EventFields();
        e.nClipNumber = 0;
        add("event-clip0", withEvent(e));
    }
    return set;
}

} // namespace hostile
