// `vantrel play --out` as a whole: the tool loads the built plug-in, and what the
// plug-in writes through the tool's output must be byte for byte what `vantrel render`
// renders for the same performance.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
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

// --performance and --arrangement pick what each song plays, through the plug-in's own
// draws: the result is the render of that number, for every song of the run.
TEST(PlayCommand, PerformanceAndArrangementChooseWhatEachSongPlays)
{
    const std::string song = WriteVaryingSong("varying-choice.vn");
    const std::string demo = VANTREL_SOURCE_DIR "/examples/demo.vn";
    const std::string third = testutil::TempPath("choice-render-3.wav");
    const std::string demoLong = testutil::TempPath("choice-demo-3.wav");
    ASSERT_EQ(RunQuiet(kTool + " render '" + song + "' --performance 3 -o '" + third + "'"), 0);
    ASSERT_EQ(RunQuiet(kTool + " render '" + demo + "' --performance 3 -o '" + demoLong + "'"), 0);
    const std::string p3 = WavData(third);
    ASSERT_FALSE(p3.empty());

    const std::string both = testutil::TempPath("choice-play-3.wav");
    ASSERT_EQ(RunQuiet(kTool + " play '" + song + "' '" + song + "' --performance 3 --out '" + both + "' --plugin '" +
                       kPlugin + "'"),
              0);
    EXPECT_TRUE(WavData(both) == p3 + p3) << "each song plays performance 3";

    // The demo's first Long performance is number 3; the tool says so.
    const std::string byName = testutil::TempPath("choice-play-long.wav");
    const std::string said = testutil::TempPath("choice-play-long.txt");
    ASSERT_EQ(std::system((kTool + " play '" + demo + "' --arrangement Long --out '" + byName + "' --plugin '" +
                           kPlugin + "' >/dev/null 2>'" + said + "'")
                              .c_str()),
              0);
    EXPECT_NE(testutil::ReadBytes(said).find("performance 3 plays the arrangement \"Long\""), std::string::npos)
        << testutil::ReadBytes(said);
    EXPECT_TRUE(WavData(byName) == WavData(demoLong));

    // A random number is printed, and playing it gives its render.
    const std::string drawn = testutil::TempPath("choice-play-random.wav");
    const std::string drawnSaid = testutil::TempPath("choice-play-random.txt");
    ASSERT_EQ(std::system((kTool + " play '" + song + "' --performance random --out '" + drawn + "' --plugin '" +
                           kPlugin + "' >/dev/null 2>'" + drawnSaid + "'")
                              .c_str()),
              0);
    const std::string text = testutil::ReadBytes(drawnSaid);
    const size_t at = text.find("performance ");
    ASSERT_NE(at, std::string::npos) << text;
    const int number = std::atoi(text.c_str() + at + 12);
    ASSERT_GE(number, 1) << text;
    const std::string again = testutil::TempPath("choice-render-random.wav");
    ASSERT_EQ(RunQuiet(kTool + " render '" + song + "' --performance " + std::to_string(number) + " -o '" + again + "'"),
              0);
    EXPECT_TRUE(WavData(drawn) == WavData(again)) << "performance " << number;

    // An unknown arrangement is refused before anything plays.
    EXPECT_NE(RunQuiet(kTool + " play '" + demo + "' --arrangement Nowhere --out '" + byName + "' --plugin '" +
                       kPlugin + "'"),
              0);
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

// play --out follows the rules of the tool's output files: a link's target is
// replaced and keeps its mode; a full disk is an error that names the file and the
// reason, with the earlier file kept and no "wrote" line.
TEST(PlayCommand, OutputFileKeepsModeThroughLinksAndReportsAFullDisk)
{
    const std::string song = WriteVaryingSong("varying-out.vn");
    const std::string rendered = testutil::TempPath("play-out-render.wav");
    ASSERT_EQ(RunQuiet(kTool + " render '" + song + "' --performance 1 -o '" + rendered + "'"), 0);

    const std::string target = testutil::TempPath("play-out-private.wav");
    const std::string link = testutil::TempPath("play-out-link.wav");
    testutil::WriteBytes(target, "earlier");
    ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    ASSERT_EQ(RunQuiet(kTool + " play '" + song + "' --out '" + link + "' --plugin '" + kPlugin + "'"), 0);
    struct stat st{};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_TRUE(WavData(target) == WavData(rendered));

    if (::geteuid() != 0)
        GTEST_SKIP() << "full-disk case skipped: needs root to mount a small tmpfs";
    const std::string dir = testutil::TempPath("play-out-full");
    ::mkdir(dir.c_str(), 0755);
    if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "full-disk case skipped: cannot mount a tmpfs: " << std::strerror(errno);
    const std::string out = dir + "/song.wav";
    testutil::WriteBytes(out, "earlier");
    const std::string errors = dir + "-stderr.txt";
    const int rc = std::system((kTool + " play '" + song + "' --out '" + out + "' --plugin '" + kPlugin +
                                "' >/dev/null 2>'" + errors + "'").c_str());
    const std::string said = testutil::ReadBytes(errors);
    const std::string left = testutil::ReadBytes(out);
    DIR* d = ::opendir(dir.c_str());
    int entries = 0;
    while (dirent* e = d ? ::readdir(d) : nullptr)
        entries += e->d_name[0] != '.' || (e->d_name[1] != '\0' && e->d_name[1] != '.');
    if (d)
        ::closedir(d);
    ::umount2(dir.c_str(), MNT_DETACH);
    EXPECT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 1) << said;
    EXPECT_NE(said.find("cannot write " + out + ": No space left on device"), std::string::npos) << said;
    EXPECT_EQ(said.find("wrote"), std::string::npos) << said;
    EXPECT_EQ(left, "earlier");
    EXPECT_EQ(entries, 1) << "a temporary file was left behind";
}
