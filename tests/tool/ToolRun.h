// Helpers for the tool's tests: running the built vantrel binary, and small sound
// fixtures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace tooltest {

struct RunResult
{
    int nStatus = -1; // exit status, or -1 when the tool did not exit normally
    std::string strOut;
    std::string strErr;
};

// Runs VANTREL_BINARY_DIR/vantrel with the arguments (each quoted for the shell).
RunResult RunTool(const std::vector<std::string>& args);

// `vantrel info SONG --json`, expected to succeed.
nlohmann::json Info(const std::string& song);
// The data of a clip of `info --json`, read from the song file.
std::string ClipData(const std::string& songPath, const nlohmann::json& clip);

// A 16-bit PCM WAV file of `frames` frames: a sine tone of `hz` on every channel.
void WriteWav(const std::string& path, int rate, int channels, int64_t frames, double hz);

struct Decoded
{
    long nRate = 0;
    int nChannels = 0;
    int64_t nFrames = 0;
    bool bError = false;
};

// Decodes MPEG audio data with libmpg123 (encoder delay and padding removed, as the
// data's info frame says).
Decoded DecodeMp3(const std::string& data);

} // namespace tooltest
