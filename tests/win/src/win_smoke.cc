// win_smoke: decodes an MP3 with the engine's file class and libmpg123, and prints
// what came out, so that a Windows build can be compared with the Linux one.
//
//   win_smoke [--decoder NAME] [--pcm OUT.raw] FILE.mp3
//
// Output is forced to signed 16-bit native-endian samples. Prints:
//   decoder NAME / format RATE CHANNELS / bytes N / crc32 XXXXXXXX
// Exit code 0 on success, 1 on a decoding or file error, 2 on bad usage.
//
// The source has the .cc extension on purpose: the Linux unit-test binary takes
// every *.cpp below tests/, and this is a program with its own main().
#include "platform/File.h"

#include <mpg123.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

uint32_t g_crcTable[256];

void InitCrc()
{
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        g_crcTable[i] = c;
    }
}

// CRC-32 as in zlib / PNG, updated incrementally (start and end with ~crc).
uint32_t UpdateCrc(uint32_t crc, const unsigned char* p, size_t n)
{
    crc = ~crc;
    for (size_t i = 0; i < n; ++i)
        crc = g_crcTable[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

int Usage()
{
    std::fprintf(stderr, "usage: win_smoke [--decoder NAME] [--pcm OUT.raw] FILE.mp3\n");
    return 2;
}

struct Decoded {
    uint64_t bytes = 0;
    uint32_t crc = 0;
    long rate = 0;
    int channels = 0;
};

class Decoder
{
public:
    explicit Decoder(const char* name)
    {
        int err = MPG123_OK;
        m_h = mpg123_new(name, &err);
        if (!m_h)
            throw std::runtime_error(std::string("mpg123_new: ") + mpg123_plain_strerror(err));
    }
    ~Decoder() { mpg123_delete(m_h); }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;
    mpg123_handle* Get() const { return m_h; }
    void Check(int rc, const char* what) const
    {
        if (rc != MPG123_OK)
            throw std::runtime_error(std::string(what) + ": " + mpg123_strerror(m_h));
    }

private:
    mpg123_handle* m_h;
};

// Feeds the file chunk by chunk and drains the decoder after each chunk.
Decoded Decode(Decoder& dec, CFile& file, std::FILE* pcmOut)
{
    mpg123_handle* h = dec.Get();
    // Same output format everywhere: 16-bit signed, at whatever rate and
    // channel count the stream has.
    dec.Check(mpg123_format_none(h), "mpg123_format_none");
    const long* rates = nullptr;
    size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (size_t i = 0; i < rateCount; ++i)
        dec.Check(mpg123_format(h, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16),
                  "mpg123_format");
    dec.Check(mpg123_open_feed(h), "mpg123_open_feed");

    Decoded result;
    std::vector<unsigned char> in(16384), out(65536);
    bool eof = false;
    while (true) {
        size_t done = 0;
        int rc = mpg123_read(h, out.data(), out.size(), &done);
        if (done > 0) {
            result.bytes += done;
            result.crc = UpdateCrc(result.crc, out.data(), done);
            if (pcmOut && std::fwrite(out.data(), 1, done, pcmOut) != done)
                throw std::runtime_error("cannot write the PCM file");
        }
        if (rc == MPG123_NEW_FORMAT) {
            int encoding = 0;
            dec.Check(mpg123_getformat(h, &result.rate, &result.channels, &encoding), "mpg123_getformat");
            if (encoding != MPG123_ENC_SIGNED_16)
                throw std::runtime_error("decoder chose an encoding other than s16");
            continue;
        }
        if (rc == MPG123_OK)
            continue;
        if (rc == MPG123_DONE)
            break;
        if (rc != MPG123_NEED_MORE)
            dec.Check(rc, "mpg123_read");
        if (eof)
            break;
        uint32_t got = file.Read(in.data(), static_cast<uint32_t>(in.size()));
        if (got == 0) {
            eof = true;
            continue; // one more read drains what the decoder still holds
        }
        dec.Check(mpg123_feed(h, in.data(), got), "mpg123_feed");
    }
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    const char* decoderName = nullptr;
    const char* pcmPath = nullptr;
    const char* mp3Path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--decoder") == 0 && i + 1 < argc)
            decoderName = argv[++i];
        else if (std::strcmp(argv[i], "--pcm") == 0 && i + 1 < argc)
            pcmPath = argv[++i];
        else if (argv[i][0] == '-' || mp3Path)
            return Usage();
        else
            mp3Path = argv[i];
    }
    if (!mp3Path)
        return Usage();

    InitCrc();
    std::FILE* pcmOut = nullptr;
    try {
        Decoder dec(decoderName);
        const char* active = mpg123_current_decoder(dec.Get());
        if (!active || (decoderName && std::strcmp(active, decoderName) != 0)) {
            std::fprintf(stderr, "win_smoke: asked for decoder %s, got %s\n", decoderName,
                         active ? active : "(none)");
            return 1;
        }
        CFile file;
        file.OpenOrThrow(mp3Path);
        if (pcmPath && !(pcmOut = std::fopen(pcmPath, "wb")))
            throw std::runtime_error(std::string("cannot create ") + pcmPath);
        Decoded d = Decode(dec, file, pcmOut);
        if (pcmOut && std::fclose(pcmOut) != 0) {
            pcmOut = nullptr;
            throw std::runtime_error("cannot finish the PCM file");
        }
        pcmOut = nullptr;
        if (d.channels == 0)
            throw std::runtime_error("no MPEG audio found");
        std::printf("decoder %s\nformat %ld %d\nbytes %llu\ncrc32 %08x\n", active, d.rate, d.channels,
                    static_cast<unsigned long long>(d.bytes), static_cast<unsigned>(d.crc));
        return 0;
    } catch (const std::exception& e) {
        if (pcmOut)
            std::fclose(pcmOut);
        std::fprintf(stderr, "win_smoke: %s\n", e.what());
        return 1;
    }
}
