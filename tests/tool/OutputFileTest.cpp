// Files the user names as outputs: a regular file is replaced only by a complete one
// and keeps its permissions, a link's target is replaced and the link stays, a FIFO
// or a device is written directly, and a full disk is reported with the file's name
// and the reason, leaving the earlier file and no temporary file behind. First the
// output-file class itself, then the commands that write through it.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <future>
#include <string>
#include <vector>

#include "common/TestSongs.h"
#include "tools/vantrel/OutputFile.h"
#include "tool/ToolRun.h"

using namespace testutil;
using tooltest::RunTool;

namespace {

// A fresh, empty folder for one test.
std::string NewFolder(const std::string& name)
{
    const std::string dir = TempPath(name);
    ::mkdir(dir.c_str(), 0755);
    return dir;
}

std::vector<std::string> FolderEntries(const std::string& dir)
{
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            const std::string n = e->d_name;
            if (n != "." && n != "..")
                names.push_back(n);
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

unsigned ModeOf(const std::string& path)
{
    struct stat st{};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

// Reads a FIFO on a thread of its own. The test holds the FIFO open for writing too
// until Collect, so that neither side waits for the other to open it and the reader
// sees the end only once the test has let go: a writer that replaced the FIFO
// instead of writing to it shows as missing data, not as a hang.
class CFifoReader
{
public:
    explicit CFifoReader(const std::string& path) : m_nHold(::open(path.c_str(), O_RDWR))
    {
        EXPECT_GE(m_nHold, 0) << path;
        const int fd = ::open(path.c_str(), O_RDONLY); // does not wait: the test holds a writer
        EXPECT_GE(fd, 0) << path;
        m_result = std::async(std::launch::async, [fd] {
            std::string data;
            if (fd < 0)
                return data;
            char buf[65536];
            ssize_t n;
            while ((n = ::read(fd, buf, sizeof buf)) > 0)
                data.append(buf, static_cast<size_t>(n));
            ::close(fd);
            return data;
        });
    }
    ~CFifoReader()
    {
        if (m_nHold >= 0)
            ::close(m_nHold);
    }
    std::string Collect()
    {
        ::close(m_nHold);
        m_nHold = -1;
        return m_result.get();
    }

private:
    int m_nHold;
    std::future<std::string> m_result;
};

// A small tmpfs mounted for the test (which needs root); a disk that fills up.
class CFullDisk
{
public:
    explicit CFullDisk(const std::string& name, const char* size = "64k") : m_strDir(NewFolder(name))
    {
        if (::geteuid() != 0) {
            m_strWhy = "needs root to mount a small tmpfs";
            return;
        }
        if (::mount("tmpfs", m_strDir.c_str(), "tmpfs", 0, (std::string("size=") + size).c_str()) != 0) {
            m_strWhy = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
            return;
        }
        m_bMounted = true;
    }
    ~CFullDisk()
    {
        if (m_bMounted)
            ::umount2(m_strDir.c_str(), MNT_DETACH);
    }
    bool Mounted() const { return m_bMounted; }
    const std::string& Why() const { return m_strWhy; }
    const std::string& Dir() const { return m_strDir; }

private:
    std::string m_strDir;
    std::string m_strWhy;
    bool m_bMounted = false;
};

std::string Demo() { return std::string(VANTREL_SOURCE_DIR) + "/examples/demo.vn"; }

} // namespace

TEST(OutputFile, RegularFileIsReplacedWholeKeepingItsModeAndNothingElseIsLeft)
{
    const std::string dir = NewFolder("out-regular");
    const std::string path = dir + "/a.bin";

    // A new name gets the usual mode of a new file.
    const mode_t mask = ::umask(022);
    ::umask(mask);
    WriteWholeFile(path, "first");
    EXPECT_EQ(ReadBytes(path), "first");
    EXPECT_EQ(ModeOf(path), 0666u & ~static_cast<unsigned>(mask));

    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    {
        COutputFile out(path);
        out.Write("sec", 3);
        // Until Commit the earlier file is what is there.
        EXPECT_EQ(ReadBytes(path), "first");
        EXPECT_EQ(FolderEntries(dir).size(), 2u);
        out.Write("ond", 3);
        out.Commit();
    }
    EXPECT_EQ(ReadBytes(path), "second");
    EXPECT_EQ(ModeOf(path), 0600u);
    EXPECT_EQ(FolderEntries(dir), std::vector<std::string>{"a.bin"});

    // Given up before Commit (an error on the way): the earlier file stays.
    {
        COutputFile out(path);
        out.Write("third", 5);
    }
    EXPECT_EQ(ReadBytes(path), "second");
    EXPECT_EQ(FolderEntries(dir), std::vector<std::string>{"a.bin"});

    // A folder, or a name in a folder that does not exist, is refused with its name.
    EXPECT_THROW(COutputFile{dir}, COutputFileError);
    try {
        COutputFile out(dir + "/no/such/x.bin");
        ADD_FAILURE() << "a missing folder was accepted";
    } catch (const COutputFileError& e) {
        EXPECT_NE(std::string(e.what()).find(dir + "/no/such/x.bin"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("No such file or directory"), std::string::npos) << e.what();
    }
}

TEST(OutputFile, LinksAreFollowedAndStayLinks)
{
    const std::string dir = NewFolder("out-links");
    ::mkdir((dir + "/real").c_str(), 0755);
    WriteBytes(dir + "/real/target.bin", "old");
    ASSERT_EQ(::symlink("real/target.bin", (dir + "/link.bin").c_str()), 0);
    ASSERT_EQ(::symlink("link.bin", (dir + "/link2.bin").c_str()), 0); // a chain
    ASSERT_EQ(::symlink("real/new.bin", (dir + "/dangling.bin").c_str()), 0);

    WriteWholeFile(dir + "/link2.bin", "new");
    struct stat st{};
    ASSERT_EQ(::lstat((dir + "/link.bin").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::lstat((dir + "/link2.bin").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadBytes(dir + "/real/target.bin"), "new");

    // A link to a name that does not exist yet makes that file.
    WriteWholeFile(dir + "/dangling.bin", "made");
    ASSERT_EQ(::lstat((dir + "/dangling.bin").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadBytes(dir + "/real/new.bin"), "made");
    EXPECT_EQ(FolderEntries(dir + "/real"), (std::vector<std::string>{"new.bin", "target.bin"}));
}

TEST(OutputFile, FifoAndNullDeviceAreWrittenDirectly)
{
    const std::string dir = NewFolder("out-fifo");
    const std::string fifo = dir + "/pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    CFifoReader reader(fifo);
    {
        COutputFile out(fifo);
        EXPECT_FALSE(out.IsSeekable());
        out.Write("through ", 8);
        out.Write("the pipe", 8);
        out.Commit();
    }
    EXPECT_EQ(reader.Collect(), "through the pipe");
    struct stat st{};
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(FolderEntries(dir), std::vector<std::string>{"pipe"});

    WriteWholeFile("/dev/null", std::string(100000, 'x'));
    ASSERT_EQ(::stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

TEST(OutputFile, FullDiskIsReportedAndKeepsTheEarlierFile)
{
    CFullDisk disk("out-full");
    if (!disk.Mounted())
        GTEST_SKIP() << "full-disk case skipped: " << disk.Why();
    const std::string path = disk.Dir() + "/keep.bin";
    WriteWholeFile(path, "earlier");
    try {
        WriteWholeFile(path, std::string(1 << 20, 'x'));
        ADD_FAILURE() << "a write beyond the disk's size succeeded";
    } catch (const COutputFileError& e) {
        EXPECT_EQ(std::string(e.what()), "cannot write " + path + ": No space left on device");
    }
    EXPECT_EQ(ReadBytes(path), "earlier");
    EXPECT_EQ(FolderEntries(disk.Dir()), std::vector<std::string>{"keep.bin"});
}

// The commands: render (WAV and bare PCM), pack.

TEST(OutputFileCommands, RenderOnAFullDiskFailsPlainlyAndKeepsTheEarlierFile)
{
    CFullDisk disk("render-full", "256k");
    if (!disk.Mounted())
        GTEST_SKIP() << "full-disk case skipped: " << disk.Why();
    for (const bool raw : {false, true}) {
        const std::string out = disk.Dir() + (raw ? "/demo.pcm" : "/demo.wav");
        WriteBytes(out, "earlier");
        ASSERT_EQ(::chmod(out.c_str(), 0640), 0);
        std::vector<std::string> args{"render", Demo(), "-o", out};
        if (raw)
            args.push_back("--raw");
        const auto r = RunTool(args);
        EXPECT_EQ(r.nStatus, 1) << r.strErr;
        EXPECT_NE(r.strErr.find("cannot write " + out + ": No space left on device"), std::string::npos)
            << r.strErr;
        EXPECT_EQ(r.strErr.find("wrote"), std::string::npos) << r.strErr;
        EXPECT_EQ(ReadBytes(out), "earlier");
        EXPECT_EQ(ModeOf(out), 0640u);
    }
    EXPECT_EQ(FolderEntries(disk.Dir()), (std::vector<std::string>{"demo.pcm", "demo.wav"}));
}

TEST(OutputFileCommands, RenderFollowsLinksKeepsModesAndFeedsFifos)
{
    const std::string dir = NewFolder("render-targets");
    const auto reference = RunTool({"render", Demo(), "--raw", "-o", dir + "/reference.pcm"});
    ASSERT_EQ(reference.nStatus, 0) << reference.strErr;
    const std::string pcm = ReadBytes(dir + "/reference.pcm");
    ASSERT_EQ(pcm.size(), 919u * 4608u);

    // An existing file of mode 0600 behind a link.
    WriteBytes(dir + "/private.pcm", "old");
    ASSERT_EQ(::chmod((dir + "/private.pcm").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("private.pcm", (dir + "/link.pcm").c_str()), 0);
    auto r = RunTool({"render", Demo(), "--raw", "-o", dir + "/link.pcm"});
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    struct stat st{};
    ASSERT_EQ(::lstat((dir + "/link.pcm").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadBytes(dir + "/private.pcm"), pcm);
    EXPECT_EQ(ModeOf(dir + "/private.pcm"), 0600u);

    // A FIFO gets the data while it is made (bare PCM) or once complete (WAV).
    const std::string fifo = dir + "/pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const bool raw : {true, false}) {
        CFifoReader reader(fifo);
        std::vector<std::string> args{"render", Demo(), "-o", fifo};
        if (raw)
            args.push_back("--raw");
        r = RunTool(args);
        ASSERT_EQ(r.nStatus, 0) << r.strErr;
        const std::string got = reader.Collect();
        if (raw) {
            EXPECT_EQ(got, pcm);
        } else {
            // The header holds the song's texts (a LIST chunk) before the data.
            ASSERT_GT(got.size(), 44 + pcm.size());
            EXPECT_EQ(got.substr(0, 4), "RIFF");
            EXPECT_EQ(got.substr(got.size() - pcm.size() - 8, 4), "data");
            EXPECT_EQ(got.substr(got.size() - pcm.size()), pcm);
        }
        ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
        EXPECT_TRUE(S_ISFIFO(st.st_mode));
    }

    // /dev/null stays the device.
    r = RunTool({"render", Demo(), "-o", "/dev/null"});
    EXPECT_EQ(r.nStatus, 0) << r.strErr;
    ASSERT_EQ(::stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));

    // A refused render leaves neither a file nor a temporary one.
    WriteBytes(dir + "/bad.vn", "not a song");
    r = RunTool({"render", dir + "/bad.vn", "-o", dir + "/bad.wav"});
    EXPECT_EQ(r.nStatus, 1);
    EXPECT_EQ(FolderEntries(dir),
              (std::vector<std::string>{"bad.vn", "link.pcm", "pipe", "private.pcm", "reference.pcm"}));
}

TEST(OutputFileCommands, PackWritesOnlyASongThatLoadsAndKeepsTheEarlierOneOnAFullDisk)
{
    const std::string manifest = std::string(VANTREL_SOURCE_DIR) + "/tests/data/output-file/manifest.json";
    const std::string dir = NewFolder("pack-targets");

    // Through a link to a song of mode 0600, and into a FIFO.
    WriteBytes(dir + "/old.vn", "VNF old song");
    ASSERT_EQ(::chmod((dir + "/old.vn").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("old.vn", (dir + "/song.vn").c_str()), 0);
    auto r = RunTool({"pack", manifest, "-o", dir + "/song.vn", "-q"});
    ASSERT_EQ(r.nStatus, 0) << r.strErr;
    const std::string song = ReadBytes(dir + "/old.vn");
    EXPECT_EQ(song.substr(0, 3), "VNF");
    EXPECT_GT(song.size(), 100u);
    EXPECT_EQ(ModeOf(dir + "/old.vn"), 0600u);
    struct stat st{};
    ASSERT_EQ(::lstat((dir + "/song.vn").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));

    const std::string fifo = dir + "/pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    CFifoReader reader(fifo);
    r = RunTool({"pack", manifest, "-o", fifo, "-q"});
    EXPECT_EQ(r.nStatus, 0) << r.strErr;
    EXPECT_EQ(reader.Collect(), song);
    EXPECT_EQ(FolderEntries(dir), (std::vector<std::string>{"old.vn", "pipe", "song.vn"}));

    CFullDisk disk("pack-full", "8k");
    if (!disk.Mounted())
        GTEST_SKIP() << "full-disk case skipped: " << disk.Why();
    const std::string out = disk.Dir() + "/song.vn";
    WriteBytes(out, "VNF earlier");
    r = RunTool({"pack", manifest, "-o", out, "-q"});
    EXPECT_EQ(r.nStatus, 1);
    EXPECT_NE(r.strErr.find("cannot write " + out + ": No space left on device"), std::string::npos) << r.strErr;
    EXPECT_EQ(r.strOut.find("wrote"), std::string::npos) << r.strOut;
    EXPECT_EQ(ReadBytes(out), "VNF earlier");
    EXPECT_EQ(FolderEntries(disk.Dir()), std::vector<std::string>{"song.vn"});
}
