#include "tool/ToolRun.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <sys/wait.h>

#include <mpg123.h>

#include "common/TestSongs.h"

namespace tooltest {

namespace {

std::string ShellQuote(const std::string& s)
{
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

void PutLE(std::string& out, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

} // namespace

RunResult RunTool(const std::vector<std::string>& args)
{
    static int counter = 0;
    const std::string errPath = testutil::TempPath("stderr-" + std::to_string(++counter) + ".txt");
    std::string cmd = ShellQuote(VANTREL_BINARY_DIR "/vantrel");
    for (const std::string& a : args)
        cmd += " " + ShellQuote(a);
    cmd += " 2>" + ShellQuote(errPath) + " </dev/null";

    RunResult r;
    std::FILE* p = ::popen(cmd.c_str(), "r");
    if (!p)
        throw std::runtime_error("cannot run " + cmd);
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        r.strOut.append(buf, n);
    const int status = ::pclose(p);
    r.nStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.strErr = testutil::ReadBytes(errPath);
    std::remove(errPath.c_str());
    return r;
}

void WriteWav(const std::string& path, int rate, int channels, int64_t frames, double hz)
{
    // A test fixture of known content; the tool itself reads sound files through
    // libsndfile.
    const auto dataBytes = static_cast<uint32_t>(frames * channels * 2);
    std::string out = "RIFF";
    PutLE(out, 36 + dataBytes, 4);
    out += "WAVEfmt ";
    PutLE(out, 16, 4);
    PutLE(out, 1, 2); // PCM
    PutLE(out, static_cast<uint32_t>(channels), 2);
    PutLE(out, static_cast<uint32_t>(rate), 4);
    PutLE(out, static_cast<uint32_t>(rate * channels * 2), 4);
    PutLE(out, static_cast<uint32_t>(channels * 2), 2);
    PutLE(out, 16, 2);
    out += "data";
    PutLE(out, dataBytes, 4);
    for (int64_t i = 0; i < frames; ++i) {
        const auto v = static_cast<int16_t>(std::lround(12000.0 * std::sin(2 * M_PI * hz * i / rate)));
        for (int c = 0; c < channels; ++c)
            PutLE(out, static_cast<uint16_t>(v), 2);
    }
    testutil::WriteBytes(path, out);
}

Decoded DecodeMp3(const std::string& data)
{
    Decoded d;
    mpg123_handle* h = mpg123_new(nullptr, nullptr);
    if (!h) {
        d.bError = true;
        return d;
    }
    mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    mpg123_open_feed(h);
    mpg123_feed(h, reinterpret_cast<const unsigned char*>(data.data()), data.size());
    int64_t bytes = 0;
    int encoding = 0;
    for (;;) {
        off_t num;
        unsigned char* audio;
        size_t size;
        const int rc = mpg123_decode_frame(h, &num, &audio, &size);
        if (rc == MPG123_NEW_FORMAT) {
            mpg123_getformat(h, &d.nRate, &d.nChannels, &encoding);
        } else if (rc == MPG123_OK) {
            bytes += static_cast<int64_t>(size);
        } else {
            d.bError = rc != MPG123_NEED_MORE && rc != MPG123_DONE;
            break;
        }
    }
    if (d.nChannels > 0)
        d.nFrames = bytes / (d.nChannels * mpg123_encsize(encoding));
    mpg123_delete(h);
    return d;
}

nlohmann::json Info(const std::string& song)
{
    const auto r = RunTool({"info", song, "--json"});
    EXPECT_EQ(r.nStatus, 0) << r.strErr;
    return nlohmann::json::parse(r.strOut);
}

std::string ClipData(const std::string& songPath, const nlohmann::json& clip)
{
    return testutil::ReadBytes(songPath).substr(clip["dataOffset"].get<size_t>(), clip["dataSize"].get<size_t>());
}

} // namespace tooltest
