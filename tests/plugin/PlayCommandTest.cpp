// `vantrel play --out` as a whole: the tool loads the built plug-in, and what the
// plug-in writes through the tool's output must be byte for byte what `vantrel render`
// renders for the same performance.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "PluginSongs.h"
#include "common/TestSongs.h"

using namespace plugintest;

namespace {

// The data chunk of a RIFF WAV file.
std::string WavData(const std::string& path)
{
    const std::string wav = testutil::ReadBytes(path);
    EXPECT_GE(wav.size(), 12u);
    EXPECT_EQ(wav.substr(0, 4), "RIFF");
    EXPECT_EQ(wav.substr(8, 4), "WAVE");
    size_t at = 12;
    while (at + 8 <= wav.size()) {
        uint32_t size;
        std::memcpy(&size, wav.data() + at + 4, 4);
        if (wav.compare(at, 4, "data") == 0)
            return wav.substr(at + 8, std::min<size_t>(size, wav.size() - at - 8));
        at += 8 + size + (size & 1);
    }
    ADD_FAILURE() << "no data chunk in " << path;
    return {};
}

int RunQuiet(const std::string& command)
{
    const int rc = std::system((command + " >/dev/null 2>&1").c_str());
    return rc;
}

const std::string kTool = VANTREL_TOOL_PATH;
const std::string kPlugin = VANTREL_PLUGIN_PATH;

} // namespace

TEST(PlayCommand, PlayingThroughThePluginWritesWhatRenderRenders)
{
    const std::string song = WriteVaryingSong("varying.vn");
    const std::string played = testutil::TempPath("played.wav");
    const std::string twice = testutil::TempPath("twice.wav");
    const std::string first = testutil::TempPath("first.wav");
    const std::string second = testutil::TempPath("second.wav");
    ASSERT_EQ(RunQuiet(kTool + " play '" + song + "' --out '" + played + "' --plugin '" + kPlugin + "'"), 0);
    ASSERT_EQ(RunQuiet(kTool + " play '" + song + "' '" + song + "' --out '" + twice + "' --plugin '" + kPlugin + "'"), 0);
    ASSERT_EQ(RunQuiet(kTool + " render '" + song + "' --performance 1 -o '" + first + "'"), 0);
    ASSERT_EQ(RunQuiet(kTool + " render '" + song + "' --performance 2 -o '" + second + "'"), 0);

    const std::string p1 = WavData(first), p2 = WavData(second);
    ASSERT_FALSE(p1.empty());
    ASSERT_NE(p1, p2) << "the song should give different performances on different draws";
    EXPECT_TRUE(WavData(played) == p1) << "the first play after start is performance 1";
    EXPECT_TRUE(WavData(twice) == p1 + p2) << "two songs in a row: two draws, one after the other";
}

TEST(PlayCommand, NoAudioDeviceOrAnInfoBoxAreReportedPlainly)
{
    const std::string song = WriteClipSong("cli-info.vn");
    const std::string out = testutil::TempPath("info.txt");
    ASSERT_EQ(std::system((kTool + " play --info '" + song + "' --plugin '" + kPlugin + "' >'" + out + "'").c_str()), 0);
    const std::string info = testutil::ReadBytes(out);
    EXPECT_NE(info.find("Song info"), std::string::npos) << info;
    EXPECT_NE(info.find("Title:            Plug-in Test Song"), std::string::npos) << info;
    EXPECT_NE(info.find("Author:           Test Author"), std::string::npos) << info;
    EXPECT_NE(info.find("Second line"), std::string::npos) << info;
    EXPECT_NE(info.find(" Bytes"), std::string::npos) << info;

    // Without --out the tool plays on the audio device; where there is none (as on a
    // build machine) it says so and points at --out. Either way it must not hang.
    const std::string err = testutil::TempPath("device.txt");
    const int rc = std::system(("timeout 120 " + kTool + " play '" + song + "' --plugin '" + kPlugin + "' </dev/null >/dev/null 2>'" +
                                err + "'").c_str());
    const std::string message = testutil::ReadBytes(err);
    if (rc != 0) {
        EXPECT_NE(message.find("no audio device"), std::string::npos) << message;
        EXPECT_NE(message.find("--out"), std::string::npos) << message;
    }
}
