// Tests of CClipDecoder on real MP3 data: the clips in tests/data/clips were encoded
// from sine tones by tests/data/clips/make_clips.py. Each test lays clips out in a
// small song file of its own and checks both the counts Decode returns and the PCM
// against a plain libmpg123 decode of the same bytes with the same settings.
#include <gtest/gtest.h>

#include <mpg123.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "common/TestClips.h"
#include "decode/ClipDecoder.h"
#include "decode/PcmFormat.h"
#include "platform/File.h"

namespace {

using Bytes = std::vector<unsigned char>;
constexpr int kBlock = vantrel::pcm::kBlockBytes;
constexpr int kGuard = 64;
constexpr unsigned char kGuardByte = 0xA5;

Bytes ReadClip(const std::string& name)
{
    std::ifstream in(std::string(VANTREL_SOURCE_DIR) + "/tests/data/clips/" + name,
                     std::ios::binary);
    Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_FALSE(data.empty()) << name;
    return data;
}

Bytes Repeat(const Bytes& data, int times)
{
    Bytes out;
    for (int i = 0; i < times; ++i)
        out.insert(out.end(), data.begin(), data.end());
    return out;
}

Bytes Tail(const Bytes& data, size_t from) { return Bytes(data.begin() + from, data.end()); }

Bytes Head(const Bytes& data, size_t n)
{
    EXPECT_LE(n, data.size());
    return Bytes(data.begin(), data.begin() + std::min(n, data.size()));
}

// Byte offsets of the frames of a clip that consists of whole frames.
std::vector<size_t> FrameOffsets(const Bytes& data)
{
    size_t end = 0;
    std::vector<size_t> offsets = testutil::FrameOffsets(data, &end);
    EXPECT_EQ(end, data.size()) << "the clip should consist of whole frames";
    return offsets;
}

// What libmpg123 itself makes of `data`, set up as the decoder sets up each voice.
Bytes ReferencePcm(const Bytes& data, const char* pszEngine = nullptr)
{
    int nError = 0;
    mpg123_handle* h = mpg123_new(pszEngine, &nError);
    EXPECT_NE(h, nullptr);
    if (h == nullptr)
        return {};
    mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_IGNORE_INFOFRAME | MPG123_NO_RESYNC, 0.0);
    mpg123_param(h, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0.0);
    mpg123_format_none(h);
    const long* pRates = nullptr;
    size_t nRates = 0;
    mpg123_rates(&pRates, &nRates);
    for (size_t i = 0; i < nRates; ++i)
        mpg123_format(h, pRates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    EXPECT_EQ(mpg123_open_feed(h), MPG123_OK);
    EXPECT_EQ(mpg123_feed(h, data.data(), data.size()), MPG123_OK);
    Bytes pcm;
    for (;;) {
        off_t nFrame = 0;
        unsigned char* pAudio = nullptr;
        size_t nBytes = 0;
        const int rc = mpg123_decode_frame(h, &nFrame, &pAudio, &nBytes);
        if (rc != MPG123_OK && rc != MPG123_NEW_FORMAT)
            break;
        if (pAudio != nullptr)
            pcm.insert(pcm.end(), pAudio, pAudio + nBytes);
    }
    mpg123_delete(h);
    return pcm;
}

// A song file for one test: pieces laid out one after another in a temporary file.
class CSongImage
{
public:
    ~CSongImage()
    {
        m_file.Close();
        if (!m_strPath.empty())
            std::remove(m_strPath.c_str());
    }
    // Appends the bytes and returns the offset at which they start.
    int Add(const Bytes& data)
    {
        const int nOffset = static_cast<int>(m_data.size());
        m_data.insert(m_data.end(), data.begin(), data.end());
        return nOffset;
    }
    int AddFiller(size_t n) { return Add(Bytes(n, 0x5A)); }
    int Size() const { return static_cast<int>(m_data.size()); }
    // Writes the file and opens it for reading.
    CFile& Open()
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_strPath = ::testing::TempDir() + "vantrel_" + info->test_suite_name() + "_" + info->name() + ".vn";
        std::ofstream(m_strPath, std::ios::binary)
            .write(reinterpret_cast<const char*>(m_data.data()), static_cast<std::streamsize>(m_data.size()));
        m_file.OpenOrThrow(m_strPath);
        return m_file;
    }
    const std::string& Path() const { return m_strPath; }

private:
    Bytes m_data;
    std::string m_strPath;
    CFile m_file;
};

// One voice's side of a playback: every Decode gets its own buffer with guard bytes
// behind the requested room, which must come back untouched.
struct CVoiceRun
{
    CVoiceRun(CClipDecoder& dec, int nVoice, int nFirstWant) : decoder(dec), voice(nVoice), want(nFirstWant) {}

    CClipDecoder& decoder;
    int voice;
    int want;
    std::vector<int> counts;
    Bytes pcm;
    bool done = false;

    // One Decode call; the first asks for the room given at construction, later ones
    // for a whole block. Returns false once the clip has ended.
    bool Step()
    {
        std::vector<char> out(static_cast<size_t>(want) + kGuard, static_cast<char>(kGuardByte));
        const int n = decoder.Decode(out.data(), want, voice);
        counts.push_back(n);
        EXPECT_GE(n, 0);
        EXPECT_LE(n, want);
        for (int i = 0; i < kGuard; ++i)
            EXPECT_EQ(static_cast<unsigned char>(out[static_cast<size_t>(want + i)]), kGuardByte)
                << "byte written behind the requested room";
        if (n > 0)
            pcm.insert(pcm.end(), out.begin(), out.begin() + n);
        if (n < want)
            done = true;
        want = kBlock;
        return !done;
    }
    CVoiceRun& Run(int nMaxCalls = 2000)
    {
        while (!done && static_cast<int>(counts.size()) < nMaxCalls)
            Step();
        EXPECT_TRUE(done) << "the clip did not end";
        return *this;
    }
};

std::vector<int> Counts(std::initializer_list<std::pair<int, int>> runs)
{
    std::vector<int> counts;
    for (const auto& run : runs)
        counts.insert(counts.end(), static_cast<size_t>(run.first), run.second);
    return counts;
}

// Decode on `voice` returns 0 and leaves the whole buffer as it was.
void ExpectSilentVoice(CClipDecoder& decoder, int voice)
{
    for (int call = 0; call < 3; ++call) {
        std::vector<char> out(kBlock, static_cast<char>(kGuardByte));
        EXPECT_EQ(decoder.Decode(out.data(), kBlock, voice), 0);
        EXPECT_TRUE(std::all_of(out.begin(), out.end(),
                                [](char b) { return static_cast<unsigned char>(b) == kGuardByte; }));
    }
}

class ClipDecoderTest : public ::testing::Test
{
protected:
    std::unique_ptr<CClipDecoder> m_pDecoder = std::make_unique<CClipDecoder>();
    Bytes m_stereo = ReadClip("stereo44k.mp3");
    Bytes m_stereoPcm = ReferencePcm(m_stereo);

    bool Start(CFile& file, int nDataOffset, int voice, int nLengthMs, int nPos1 = 0)
    {
        return m_pDecoder->StartClip(&file, nPos1, 0, nDataOffset, 0, 0, voice, nLengthMs);
    }
    CVoiceRun Play(int voice, int nFirstWant)
    {
        CVoiceRun run{*m_pDecoder, voice, nFirstWant};
        run.Run();
        return run;
    }
};

TEST_F(ClipDecoderTest, FixtureIsWhatTheTestsAssume)
{
    EXPECT_EQ(FrameOffsets(m_stereo).size(), 59u);
    EXPECT_EQ(m_stereoPcm.size(), 59u * kBlock);
}

TEST_F(ClipDecoderTest, SecondClipFromBlockBoundaryDeliversExactlyItsLength)
{
    CSongImage song;
    song.AddFiller(100);
    const int nOffset = song.Add(m_stereo);
    ASSERT_TRUE(Start(song.Open(), nOffset, 3, 1000));
    const CVoiceRun run = Play(3, kBlock);
    EXPECT_EQ(run.counts, Counts({{38, kBlock}, {1, 1296}}));
    EXPECT_EQ(run.pcm.size(), 176400u);
    EXPECT_EQ(run.pcm, Head(m_stereoPcm, 176400));
}

TEST_F(ClipDecoderTest, SecondClipInsideBlockOvershootsByTheMissingCarry)
{
    CSongImage song;
    song.AddFiller(100);
    const int nOffset = song.Add(m_stereo);
    ASSERT_TRUE(Start(song.Open(), nOffset, 0, 1000));
    const CVoiceRun run = Play(0, kBlock - 1000);
    EXPECT_EQ(run.counts, Counts({{1, 3608}, {38, kBlock}, {1, 0}}));
    EXPECT_EQ(run.pcm.size(), 178712u);
    EXPECT_EQ(run.pcm, Head(m_stereoPcm, 178712));
}

TEST_F(ClipDecoderTest, PinnedEngineGivesThatEnginesPcm)
{
    CSongImage song;
    const int nOffset = song.AddFiller(10) + 10;
    song.Add(m_stereo);
    CFile& file = song.Open();

    CClipDecoder generic("generic");
    ASSERT_TRUE(generic.StartClip(&file, 0, 0, nOffset, 0, 0, 5, -1));
    CVoiceRun run{generic, 5, kBlock};
    run.Run();
    Bytes expected = ReferencePcm(m_stereo, "generic");
    expected.resize(expected.size() - 2); // the data runs out: two bytes short
    EXPECT_EQ(run.pcm, expected);

    // An engine the library does not have: no voice can decode, none fails loudly.
    CClipDecoder unknown("no-such-engine");
    EXPECT_TRUE(unknown.StartClip(&file, 0, 0, nOffset, 0, 0, 5, 1000));
    ExpectSilentVoice(unknown, 5);
}

TEST_F(ClipDecoderTest, BadFrameEndsClipAtStartOfItsBlockAndVoiceRecovers)
{
    // A clip of several read chunks, so that the voice has a saved read position in
    // the middle of good frames when it meets the bad one.
    const Bytes longClip = Repeat(m_stereo, 6);
    const std::vector<size_t> frames = FrameOffsets(longClip);
    Bytes corrupt = longClip;
    corrupt[frames[20]] = 0x00; // no frame header where frame 20 should start

    CSongImage song;
    song.AddFiller(33);
    const int nCorrupt = song.Add(corrupt);
    const int nGood = song.Add(m_stereo);
    CFile& file = song.Open();

    // Call n decodes frame n and carries it, so the 20th call meets the bad header
    // and gives up its carried bytes too.
    ASSERT_TRUE(Start(file, nCorrupt, 2, 1000));
    const CVoiceRun broken = Play(2, kBlock);
    EXPECT_EQ(broken.counts, Counts({{19, kBlock}, {1, 0}}));
    EXPECT_EQ(broken.pcm, Head(m_stereoPcm, 19 * kBlock));
    // The clip stays ended; it does not pick up again further on in the data.
    ExpectSilentVoice(*m_pDecoder, 2);

    ASSERT_TRUE(Start(file, nGood, 2, 1000));
    const CVoiceRun again = Play(2, kBlock);
    EXPECT_EQ(again.counts, Counts({{38, kBlock}, {1, 1296}}));
    EXPECT_EQ(again.pcm, Head(m_stereoPcm, 176400));

    // Only mid-clip is a bad header fatal: at the start of a clip libmpg123 looks for
    // the first frame header (one byte in here: the next frame's).
    const size_t nFrame1 = FrameOffsets(m_stereo)[1];
    ASSERT_TRUE(Start(file, nGood + 1, 2, 1000));
    EXPECT_EQ(Play(2, kBlock).pcm, Head(ReferencePcm(Tail(m_stereo, nFrame1)), 176400));
}

TEST_F(ClipDecoderTest, VoicesReadingDifferentPlacesOfOneFileDoNotDisturbEachOther)
{
    // Six copies back to back make a clip of several read chunks, so that the voices'
    // reads interleave.
    const Bytes longClip = Repeat(m_stereo, 6);
    ASSERT_GT(longClip.size(), 2u * CClipDecoder::kReadChunk);
    const size_t nFrame100 = FrameOffsets(longClip)[100];

    CSongImage song;
    song.AddFiller(37);
    const int nFirst = song.Add(longClip);
    song.AddFiller(11);
    const int nSecond = song.Add(longClip);
    CFile& file = song.Open();

    const auto startBoth = [&](CClipDecoder& decoder) {
        ASSERT_TRUE(decoder.StartClip(&file, 0, 0, nSecond, 0, 0, 0, -1));
        ASSERT_TRUE(decoder.StartClip(&file, static_cast<int>(nFrame100) - 4, 0, nFirst, 0, 0, 7, 5000));
    };

    startBoth(*m_pDecoder);
    CVoiceRun a{*m_pDecoder, 0, kBlock};
    CVoiceRun b{*m_pDecoder, 7, 1000};
    while (!a.done || !b.done) {
        if (!a.done)
            a.Step();
        if (!b.done)
            b.Step();
        ASSERT_LT(a.counts.size(), 1000u);
    }

    CClipDecoder alone;
    startBoth(alone);
    CVoiceRun aAlone{alone, 0, kBlock};
    aAlone.Run();
    CVoiceRun bAlone{alone, 7, 1000};
    bAlone.Run();

    EXPECT_EQ(a.counts, aAlone.counts);
    EXPECT_EQ(a.pcm, aAlone.pcm);
    EXPECT_EQ(b.counts, bAlone.counts);
    EXPECT_EQ(b.pcm, bAlone.pcm);

    Bytes all = ReferencePcm(longClip);
    all.resize(all.size() - 2);
    EXPECT_EQ(a.pcm, all);
    // The carry (3608) is longer than the overshoot, so the length comes out exact.
    EXPECT_EQ(b.pcm.size(), CClipDecoder::LengthToBytes(5000));
    EXPECT_EQ(b.pcm, Head(ReferencePcm(Tail(longClip, nFrame100)), b.pcm.size()));
}

TEST_F(ClipDecoderTest, NonZeroStartOffsetReadsFourBytesFurther)
{
    const size_t nFrame10 = FrameOffsets(m_stereo)[10];
    CSongImage song;
    song.AddFiller(2);
    const int nOffset = song.Add(m_stereo);
    CFile& file = song.Open();

    ASSERT_TRUE(Start(file, nOffset, 1, 200, static_cast<int>(nFrame10) - 4));
    const CVoiceRun run = Play(1, kBlock);
    EXPECT_EQ(run.counts, Counts({{7, kBlock}, {1, 3024}}));
    EXPECT_EQ(run.pcm, Head(ReferencePcm(Tail(m_stereo, nFrame10)), 35280));

    // -4 lands on the data offset itself; without the 4 the position would lie
    // before the start of the file.
    ASSERT_TRUE(Start(file, nOffset, 1, 200, -4));
    EXPECT_EQ(Play(1, kBlock).pcm, Head(m_stereoPcm, 35280));
}

TEST_F(ClipDecoderTest, ExhaustedDataEndsTwoBytesShort)
{
    CSongImage song;
    song.AddFiller(20);
    const int nOffset = song.Add(m_stereo); // the clip ends the file
    CFile& file = song.Open();
    Bytes expected = m_stereoPcm;
    expected.resize(expected.size() - 2);

    // A negative length (taken as unsigned, far beyond the data) plays to the end of
    // the data; so does a positive one beyond it.
    for (int nLengthMs : {-1, INT_MIN, 60000}) {
        SCOPED_TRACE(nLengthMs);
        ASSERT_TRUE(Start(file, nOffset, 4, nLengthMs));
        const CVoiceRun run = Play(4, kBlock);
        EXPECT_EQ(run.counts, Counts({{58, kBlock}, {1, kBlock - 2}}));
        EXPECT_EQ(run.pcm, expected);
    }

    // Data that runs out while nothing is placed yet gives 0, not less.
    ASSERT_TRUE(Start(file, song.Size(), 4, 1000));
    ExpectSilentVoice(*m_pDecoder, 4);
}

TEST_F(ClipDecoderTest, ReadingGoesOnPastTheClipIntoWhateverFollows)
{
    CSongImage song;
    song.AddFiller(20);
    const int nOffset = song.Add(m_stereo);
    song.AddFiller(3000); // not MP3 data: the decoder stops there with an error
    ASSERT_TRUE(Start(song.Open(), nOffset, 4, -1));
    const CVoiceRun run = Play(4, kBlock);
    EXPECT_EQ(run.counts, Counts({{58, kBlock}, {1, 0}}));
    EXPECT_EQ(run.pcm, Head(m_stereoPcm, 58 * kBlock));
}

TEST(ClipDecoderLength, MillisecondsTruncateAndNegativeMeansUnbounded)
{
    EXPECT_EQ(CClipDecoder::LengthToBytes(1000), 176400);
    EXPECT_EQ(CClipDecoder::LengthToBytes(0), 0);
    EXPECT_EQ(CClipDecoder::LengthToBytes(2), 352); // 352.8, truncated not rounded
    EXPECT_EQ(CClipDecoder::LengthToBytes(12173950), INT_MAX); // 2147484780 does not fit
    EXPECT_EQ(CClipDecoder::LengthToBytes(12173000), 2147317200);
    EXPECT_EQ(CClipDecoder::LengthToBytes(INT_MAX), INT_MAX);
    EXPECT_EQ(CClipDecoder::LengthToBytes(-1), INT_MAX);
    EXPECT_EQ(CClipDecoder::LengthToBytes(INT_MIN), INT_MAX);
}

TEST_F(ClipDecoderTest, ClipWithoutDataOffsetPlaysNothing)
{
    CSongImage song;
    song.AddFiller(96);
    const int nOffset = song.Add(m_stereo);
    CFile& file = song.Open();

    // Even where the start offset alone would point at good frames.
    ASSERT_TRUE(Start(file, 0, 6, 1000, nOffset - 4));
    ExpectSilentVoice(*m_pDecoder, 6);
    ASSERT_TRUE(Start(file, -8, 6, 1000, nOffset + 4));
    ExpectSilentVoice(*m_pDecoder, 6);
    EXPECT_TRUE(m_pDecoder->StartClip(nullptr, 0, 0, nOffset, 0, 0, 6, 1000));
    ExpectSilentVoice(*m_pDecoder, 6);

    // The voice is not spoilt for the next clip.
    ASSERT_TRUE(Start(file, nOffset, 6, 1000));
    EXPECT_EQ(Play(6, kBlock).pcm, Head(m_stereoPcm, 176400));
}

TEST_F(ClipDecoderTest, FileFailuresEndTheClipWithoutThrowing)
{
    CSongImage song;
    song.AddFiller(64);
    const int nOffset = song.Add(m_stereo);
    CFile& file = song.Open();

    // Past the end of the file.
    ASSERT_TRUE(Start(file, song.Size() + 1000, 8, 1000));
    ExpectSilentVoice(*m_pDecoder, 8);

    // A start position before the beginning of the file: the seek fails.
    ASSERT_TRUE(Start(file, 8, 8, 1000, -100));
    ExpectSilentVoice(*m_pDecoder, 8);

    // The file goes away in the middle of the clip.
    ASSERT_TRUE(Start(file, nOffset, 8, 1000));
    CVoiceRun run{*m_pDecoder, 8, kBlock};
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(run.Step());
    file.Close();
    EXPECT_NO_THROW(run.Step());
    EXPECT_EQ(run.counts.back(), 0);
    ExpectSilentVoice(*m_pDecoder, 8);

    // Reopened, the same voice plays the clip again.
    file.OpenOrThrow(song.Path());
    ASSERT_TRUE(Start(file, nOffset, 8, 1000));
    EXPECT_EQ(Play(8, kBlock).pcm, Head(m_stereoPcm, 176400));

#ifdef __linux__
    // A read the system refuses: this process's memory file at an address that is
    // not mapped.
    CFile unreadable;
    if (unreadable.Open("/proc/self/mem")) {
        ASSERT_TRUE(Start(unreadable, 4096, 8, 1000));
        ExpectSilentVoice(*m_pDecoder, 8);
    }
#endif
}

TEST_F(ClipDecoderTest, FramesShorterThanABlockPlaceTheFinalFramesPartWithinTheLength)
{
    const Bytes mono = ReadClip("mono44k.mp3");
    const Bytes stereo22 = ReadClip("stereo22k.mp3");
    CSongImage song;
    song.AddFiller(16);
    const int nMono = song.Add(mono);
    const int nStereo22 = song.Add(stereo22);
    const int nStereo44 = song.Add(m_stereo);
    CFile& file = song.Open();
    const Bytes monoPcm = ReferencePcm(mono);
    const Bytes stereo22Pcm = ReferencePcm(stereo22);
    ASSERT_EQ(monoPcm.size() % 2304, 0u);
    ASSERT_EQ(stereo22Pcm.size() % 2304, 0u);

    // 2304-byte frames, 20 ms (3528 bytes) from a block boundary: the second call
    // holds a carried frame and the final frame fits behind it, of which 1224 bytes
    // lie within the length.
    for (const auto& clip : {std::make_pair(nMono, &monoPcm), std::make_pair(nStereo22, &stereo22Pcm)}) {
        ASSERT_TRUE(Start(file, clip.first, 9, 20));
        const CVoiceRun run = Play(9, kBlock);
        EXPECT_EQ(run.counts, Counts({{1, kBlock}, {1, 3528}}));
        EXPECT_EQ(run.pcm, Head(*clip.second, 8136));
    }

    // From inside a block: a carry of 1000, one frame that fits, and the final frame
    // (10 ms, 540 bytes beyond the length) fits behind them too.
    ASSERT_TRUE(Start(file, nMono, 9, 10));
    const CVoiceRun inside = Play(9, 3608);
    EXPECT_EQ(inside.counts, Counts({{1, 3608}, {1, 2764}}));
    EXPECT_EQ(inside.pcm, Head(monoPcm, 6372));

    // A length of 0 ends exactly at a frame's end: the call comes back full, and the
    // voice has ended all the same.
    ASSERT_TRUE(Start(file, nMono, 9, 0));
    const CVoiceRun zeroMono = Play(9, kBlock);
    EXPECT_EQ(zeroMono.counts, Counts({{1, kBlock}, {1, 0}}));
    EXPECT_EQ(zeroMono.pcm, Head(monoPcm, kBlock));

    ASSERT_TRUE(Start(file, nStereo44, 9, 0));
    const CVoiceRun zeroStereo = Play(9, kBlock);
    EXPECT_EQ(zeroStereo.counts, Counts({{1, kBlock}, {1, 0}}));
    EXPECT_EQ(zeroStereo.pcm, Head(m_stereoPcm, kBlock));

    // From inside a block the first frame does not fit, and nothing lies within 0 ms.
    ASSERT_TRUE(Start(file, nStereo44, 9, 0));
    EXPECT_EQ(Play(9, 3608).counts, Counts({{1, 0}}));
}

TEST_F(ClipDecoderTest, InfoFrameDecodesAsAnOrdinaryFrame)
{
    const Bytes clip = ReadClip("infoframe44k.mp3");
    const std::vector<size_t> frames = FrameOffsets(clip);
    ASSERT_GE(frames.size(), 2u);
    const std::string first(clip.begin(), clip.begin() + static_cast<long>(frames[1]));
    ASSERT_NE(first.find("Info"), std::string::npos) << "the clip should start with an info frame";

    CSongImage song;
    song.AddFiller(8);
    const int nOffset = song.Add(clip);
    ASSERT_TRUE(Start(song.Open(), nOffset, 10, -1));
    const CVoiceRun run = Play(10, kBlock);
    // Every frame, the info frame included, gives a whole block: nothing is trimmed.
    EXPECT_EQ(run.pcm.size(), frames.size() * kBlock - 2);
}

TEST_F(ClipDecoderTest, OddRequestsNeitherWriteOutsideTheRoomNorLoseData)
{
    CSongImage song;
    song.AddFiller(12);
    const int nOffset = song.Add(m_stereo);
    CFile& file = song.Open();
    std::vector<char> buffer(kBlock, static_cast<char>(kGuardByte));

    // Voices that do not exist.
    EXPECT_FALSE(Start(file, nOffset, -1, 1000));
    EXPECT_FALSE(Start(file, nOffset, CClipDecoder::kVoiceCount, 1000));
    EXPECT_EQ(m_pDecoder->Decode(buffer.data(), kBlock, -1), 0);
    EXPECT_EQ(m_pDecoder->Decode(buffer.data(), kBlock, CClipDecoder::kVoiceCount), 0);
    // A voice that was never started.
    ExpectSilentVoice(*m_pDecoder, 11);

    ASSERT_TRUE(Start(file, nOffset, 11, 1000));
    CVoiceRun run{*m_pDecoder, 11, kBlock};
    ASSERT_TRUE(run.Step()); // one frame delivered, the next carried whole

    // No room, negative room, no buffer: nothing happens, and the clip goes on.
    EXPECT_EQ(m_pDecoder->Decode(buffer.data(), 0, 11), 0);
    EXPECT_EQ(m_pDecoder->Decode(buffer.data(), -4608, 11), 0);
    EXPECT_EQ(m_pDecoder->Decode(nullptr, kBlock, 11), 0);
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(),
                            [](char b) { return static_cast<unsigned char>(b) == kGuardByte; }));

    // Requests smaller than the carry take its head and keep the rest for later.
    run.want = 1000;
    ASSERT_TRUE(run.Step());
    run.want = 8;
    ASSERT_TRUE(run.Step());
    run.Run();
    EXPECT_EQ(run.counts[1], 1000);
    EXPECT_EQ(run.counts[2], 8);
    // The carry stays longer than the overshoot at the end, so the length is exact.
    EXPECT_EQ(run.pcm.size(), 176400u);
    EXPECT_EQ(run.pcm, Head(m_stereoPcm, 176400));
}

} // namespace

// 2304-byte frames (mono at 44.1 kHz, stereo at 22.05 kHz) and a length of 640 ms:
// 112 896 bytes, so that the count reaches the length exactly with frame 51, the
// frame at which a block is just full. The call that meets it returns a full block,
// so the voice plays on: the next call hands over the carry once more (its length
// set by the last cut frame, its bytes now those of the final frame) and the frame
// after it ends the clip with nothing of it placed. Worked by hand from the rules:
// - from a block boundary, frames 2k and 2k+1 follow the carried frame 2k-1 in call
//   k; frame 51 arrives in call 25 with the block full (o = 0, nothing placed,
//   result 4608); call 26 carries frame 51's first 2304 bytes and ends with 2304.
// - from 2304 bytes into a block, call k (k >= 2) holds the carried frame 2k-2 and
//   frame 2k-1; frame 51 fills call 26 exactly (placed whole, result 4608); call 27
//   carries frame 51 again and ends with 2304.
TEST_F(ClipDecoderTest, FinalFrameThatFillsTheBlockKeepsTheVoicePlaying)
{
    constexpr int kFrame = 2304;
    for (const char* name : {"mono44k-long.mp3", "stereo22k-long.mp3"}) {
        SCOPED_TRACE(name);
        const Bytes clip = ReadClip(name);
        const Bytes ref = ReferencePcm(clip);
        ASSERT_GE(ref.size(), 60u * kFrame);
        ASSERT_EQ(ref.size() % kFrame, 0u);
        ASSERT_EQ(CClipDecoder::LengthToBytes(640), 49 * kFrame);
        CSongImage song;
        song.AddFiller(16);
        const int nClip = song.Add(clip);
        CFile& file = song.Open();
        const Bytes frame51(ref.begin() + 50 * kFrame, ref.begin() + 51 * kFrame);

        ASSERT_TRUE(Start(file, nClip, 3, 640));
        const CVoiceRun boundary = Play(3, kBlock);
        EXPECT_EQ(boundary.counts, Counts({{25, kBlock}, {1, kFrame}}));
        EXPECT_EQ(boundary.pcm, Head(ref, 51 * kFrame));

        ASSERT_TRUE(Start(file, nClip, 3, 640));
        const CVoiceRun inside = Play(3, kFrame);
        EXPECT_EQ(inside.counts, Counts({{1, kFrame}, {25, kBlock}, {1, kFrame}}));
        Bytes expected = Head(ref, 51 * kFrame);
        expected.insert(expected.end(), frame51.begin(), frame51.end());
        EXPECT_EQ(inside.pcm, expected);
    }
}
