// CClipSource: the interface through which the player drives clip decoding per voice.
#pragma once

class CFile;

class CClipSource
{
public:
    virtual ~CClipSource() = default;
    // Writes up to `bytes` bytes of the voice's PCM to `out`; returns how many it wrote.
    // A result below `bytes` means the voice's clip has ended.
    virtual int Decode(char* out, int bytes, int voice)
    {
        (void)out;
        (void)bytes;
        (void)voice;
        return 0;
    }
    // Binds `voice` to a clip of the song file: its data begins at nDataOffset and
    // decoding starts nPos1 bytes into it; the clip sounds for nLengthMs.
    virtual bool StartClip(CFile* pFile, int nPos1, int nPos3, int nDataOffset, int nPos2,
                           int nPos4, int voice, int nLengthMs)
    {
        (void)pFile;
        (void)nPos1;
        (void)nPos3;
        (void)nDataOffset;
        (void)nPos2;
        (void)nPos4;
        (void)voice;
        (void)nLengthMs;
        return true;
    }
};
