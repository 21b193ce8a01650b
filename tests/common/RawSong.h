// Song files assembled from raw records, for tests of records that the writer never
// makes (other track tags, events without a clip, guards, refused arrangements).
#pragma once

#include <cstdint>
#include <string>

#include "song/SongWriter.h"

namespace testutil {

// A song file assembled from raw chunk bodies.
struct RawSong
{
    uint8_t version = 0x61;
    bool bInfoLengthGiven = false;
    int32_t infoLength = 0; // used when bInfoLengthGiven; else the body's size
    CByteWriter info;
    CByteWriter arrangements; // count8 and records
    CByteWriter sections;     // count8 and records
    CByteWriter clips;        // int16 count and records
    std::string third = "xyz"; // the third chunk's body

    std::string Bytes() const
    {
        CByteWriter out;
        out.Bytes("VNFabc");
        out.UInt8(0);
        out.UInt8(version);
        out.Zeros(2);
        out.Int32BE(bInfoLengthGiven ? infoLength : static_cast<int32_t>(info.Size()));
        out.Bytes(info.Data());
        const size_t structStart = out.Size();
        const int32_t body = static_cast<int32_t>(4 + arrangements.Size() + sections.Size());
        out.Int32BE(body);
        out.Int32BE(static_cast<int32_t>(structStart + 4 + 4 + arrangements.Size()));
        out.Bytes(arrangements.Data());
        out.Bytes(sections.Data());
        out.Int32BE(static_cast<int32_t>(third.size()));
        out.Bytes(third);
        out.Int32BE(static_cast<int32_t>(102 + clips.Size()));
        out.Zeros(100);
        out.Bytes(clips.Data());
        return out.Data();
    }
};

// The settings and the three counted blocks; the blocks' bytes are written only when
// `withBlocks` (a hostile file claims more than it holds).
inline void Settings(CByteWriter& w, int32_t blockA, int32_t blockB, int32_t blockC, bool withBlocks = true)
{
    w.Zeros(4);
    w.Float32LE(2.5f);
    w.Int8(-3);
    w.Int8(8);
    w.UInt8(250);
    w.Int8(-100);
    w.UInt8(201);
    w.UInt8(7);
    for (int32_t n : {blockA, blockB, blockC}) {
        w.Int32BE(n);
        if (n > 0 && withBlocks)
            w.Zeros(static_cast<size_t>(n));
    }
}

inline void Texts(CByteWriter& w)
{
    w.FixedText(std::string(50, 'T'), 50, "title"); // full width, no NUL
    w.FixedText("Author", 50, "author");
    w.FixedText("Pub", 50, "publisher");
    w.FixedText("Genre", 20, "genre");
    w.FixedText("Line 1\r\nLine 2", 100, "copyright");
    w.Zeros(3);
}

inline void Clip(CByteWriter& w, const std::string& format, const std::string& name, int32_t pathLength,
          const std::string& data, bool embedded = true)
{
    w.Int32BE(static_cast<int32_t>(data.size()));
    w.FixedText(format, 10, "format");
    w.Zeros(4);
    w.Int32BE(static_cast<int32_t>(name.size()));
    w.Bytes(name);
    w.Int32BE(pathLength);
    if (pathLength > 0)
        w.Bytes(std::string("\0rest", 5).substr(0, static_cast<size_t>(pathLength)));
    w.UInt8(embedded ? 1 : 0);
    if (embedded)
        w.Bytes(data);
}

// An event record that runs to its end.
inline void Event(CByteWriter& w, int32_t startMs, int32_t clipNumber, int32_t guard1 = 1, int32_t guard2 = 1,
           int32_t block = 0)
{
    w.Zeros(4);
    w.Int32BE(startMs);
    w.Int32BE(500);
    w.UInt8(0);
    w.Int32BE(clipNumber);
    if (clipNumber == 0)
        return;
    w.UInt8(90);
    w.Int8(-20);
    w.UInt8(3);
    w.Int32BE(guard1);
    if (guard1 <= 0)
        return;
    w.Int32BE(guard2);
    if (guard2 == 0)
        return;
    w.Int32BE(block);
    if (block > 0)
        w.Zeros(static_cast<size_t>(block));
    w.Int32BE(0);
    for (int i = 1; i <= 6; ++i)
        w.Int64BE(i * 10);
}

} // namespace testutil
