// win_file_check: checks the Windows branch of CFile (platform/File.cpp) on a real
// (or wine's) file system: opening, sharing, reading, seeking and failures.
// Prints one line per failed check and a closing "N passed, N failed" line;
// the exit code is 0 only when every check passed.
#include "platform/File.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "Checks.h"

namespace {

bool Throws(const std::function<void()>& f)
{
    try {
        f();
    } catch (const CFileException&) {
        return true;
    } catch (...) {
        return false; // wrong exception type
    }
    return false;
}

std::string TempDir()
{
    char buf[MAX_PATH + 1];
    DWORD n = ::GetTempPathA(sizeof buf, buf);
    if (n == 0 || n > MAX_PATH)
        return ".\\";
    return std::string(buf, n);
}

// Creates PATH holding BYTES; returns false on failure.
bool WriteFileBytes(const std::string& path, const std::vector<unsigned char>& bytes)
{
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(h);
    return ok && written == bytes.size();
}

// Creates a fresh directory in the temporary folder. Wine reuses small process
// ids, and an earlier failed run may have left its directory behind.
std::string MakeWorkDir()
{
    const std::string stem = TempDir() + "vantrel_file_check_" + std::to_string(::GetCurrentProcessId()) +
                             "_" + std::to_string(::GetTickCount());
    for (int i = 0; i < 100; ++i) {
        std::string dir = stem + "_" + std::to_string(i);
        if (::CreateDirectoryA(dir.c_str(), nullptr))
            return dir;
    }
    return std::string();
}

int RunChecks();

} // namespace

int main()
{
    try {
        return RunChecks();
    } catch (const std::exception& e) {
        std::printf("FAILED: unexpected exception: %s\n", e.what());
        return wincheck::Summary("win_file_check", 1);
    }
}

namespace {

int RunChecks()
{
    const std::string dir = MakeWorkDir();
    if (dir.empty()) {
        std::printf("cannot create a work directory in %s\n", TempDir().c_str());
        return 1;
    }
    const std::string path = dir + "\\data.bin";
    const std::string other = dir + "\\other.bin";
    std::vector<unsigned char> bytes(1000);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>((i * 7 + 3) & 0xFF);
    if (!WriteFileBytes(path, bytes) || !WriteFileBytes(other, {1, 2, 3})) {
        std::printf("cannot write the test files in %s\n", dir.c_str());
        return 1;
    }

    {   // Missing files: Open reports, OpenOrThrow throws and names the path.
        CFile f;
        EXPECT(!f.Open(dir + "\\missing.bin"));
        EXPECT(!f.IsOpen());
        bool namedPath = false;
        try {
            f.OpenOrThrow(dir + "\\missing.bin");
        } catch (const CFileException& e) {
            namedPath = std::strstr(e.what(), "missing.bin") != nullptr;
        }
        EXPECT(namedPath);
        EXPECT(!f.IsOpen());
    }
    {   // A directory is not a file.
        CFile f;
        EXPECT(!f.Open(dir));
        EXPECT(!f.IsOpen());
    }
    {   // Operations on a closed file throw.
        CFile f;
        unsigned char b[4];
        EXPECT(Throws([&] { f.Read(b, 4); }));
        EXPECT(Throws([&] { f.Seek(0, CFile::begin); }));
        EXPECT(Throws([&] { f.GetPosition(); }));
        EXPECT(Throws([&] { f.GetLength(); }));
    }
    {   // Reading and seeking.
        CFile f;
        EXPECT(f.Open(path));
        EXPECT(f.IsOpen());
        EXPECT(f.GetFilePath() == path);
        EXPECT(f.GetLength() == 1000);
        EXPECT(f.GetPosition() == 0);
        std::vector<unsigned char> buf(4096, 0xEE);
        EXPECT(f.Read(buf.data(), 100) == 100);
        EXPECT(std::memcmp(buf.data(), bytes.data(), 100) == 0);
        EXPECT(f.GetPosition() == 100);
        EXPECT(f.Read(buf.data(), 0) == 0);
        EXPECT(f.GetPosition() == 100);
        EXPECT(f.Seek(50, CFile::current) == 150);
        EXPECT(f.Read(buf.data(), 10) == 10);
        EXPECT(std::memcmp(buf.data(), bytes.data() + 150, 10) == 0);
        EXPECT(f.Seek(-10, CFile::end) == 990);
        EXPECT(f.Read(buf.data(), 100) == 10);
        EXPECT(std::memcmp(buf.data(), bytes.data() + 990, 10) == 0);
        EXPECT(f.Read(buf.data(), 100) == 0);
        f.SeekToBegin();
        EXPECT(f.Read(buf.data(), 4096) == 1000);
        EXPECT(std::memcmp(buf.data(), bytes.data(), 1000) == 0);
        // Past the end is allowed and reads nothing; before the start throws.
        EXPECT(f.Seek(5000, CFile::begin) == 5000);
        EXPECT(f.Read(buf.data(), 10) == 0);
        EXPECT(Throws([&] { f.Seek(-1, CFile::begin); }));
        EXPECT(Throws([&] { f.Seek(-2000, CFile::end); }));
        // Beyond 4 GiB the 64-bit offsets must survive the round trip.
        const int64_t beyond4G = (int64_t(1) << 32) + 17;
        EXPECT(f.Seek(beyond4G, CFile::begin) == beyond4G);
        EXPECT(f.GetPosition() == beyond4G);
        // Opening another file replaces the first.
        EXPECT(f.Open(other));
        EXPECT(f.GetFilePath() == other);
        EXPECT(f.GetLength() == 3);
        f.Close();
        EXPECT(!f.IsOpen());
        EXPECT(f.GetFilePath().empty());
        f.Close(); // closing twice is harmless
        EXPECT(!f.IsOpen());
    }
    {   // Sharing: never refuse other readers or writers, nor deletion.
        CFile a, b;
        EXPECT(a.Open(path));
        EXPECT(b.Open(path));
        HANDLE w = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT(w != INVALID_HANDLE_VALUE);
        if (w != INVALID_HANDLE_VALUE)
            ::CloseHandle(w);
        // A file held open by a writer that shares reading can still be opened.
        HANDLE w2 = ::CreateFileA(other.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        CFile c;
        EXPECT(w2 != INVALID_HANDLE_VALUE && c.Open(other));
        if (w2 != INVALID_HANDLE_VALUE)
            ::CloseHandle(w2);
        // Deleting a file that we hold open succeeds, and our handle still reads.
        EXPECT(::DeleteFileA(other.c_str()) != 0);
        unsigned char three[3] = {0, 0, 0};
        EXPECT(c.Read(three, 3) == 3 && three[0] == 1 && three[2] == 3);
        b.Close();
        unsigned char x = 0;
        EXPECT(a.Read(&x, 1) == 1 && x == bytes[0]);
    }
    ::DeleteFileA(path.c_str());
    ::DeleteFileA(other.c_str());
    ::RemoveDirectoryA(dir.c_str());

    return wincheck::Summary("win_file_check");
}

} // namespace
