#include "decode/ClipProfile.h"

#include "decode/ClipDecoder.h"
#include "platform/File.h"

namespace {

// Frame decoders kept for profiles that may be asked for more; twelve voices learn at
// most twelve profiles at once.
constexpr size_t kMaxProducers = 16;

// A map node of the profile table, as the memory count charges it.
constexpr size_t kNodeBytes = 4 * sizeof(void*) + sizeof(std::pair<CFile*, int64_t>) + sizeof(void*);

} // namespace

CClipProfiles::CClipProfiles(std::string strEngine)
    : m_strEngine(std::move(strEngine)), m_pScratch(new unsigned char[CMpegFrameStream::kMaxFrameBytes])
{
    CMpegFrameStream probe;
    m_bCanDecode = probe.Open(m_strEngine, nullptr, 0);
}

CClipProfiles::~CClipProfiles() = default;

CClipProfiles::CProfile* CClipProfiles::Find(CFile* pFile, int64_t nStart)
{
    std::unique_ptr<CProfile>& pSlot = m_mapProfiles[std::make_pair(pFile, nStart)];
    if (!pSlot) {
        pSlot = std::make_unique<CProfile>();
        pSlot->pFile = pFile;
        pSlot->nStart = nStart;
    }
    return pSlot.get();
}

void CClipProfiles::Record(CProfile& profile, int nBytes)
{
    if (profile.arrRuns.empty() || profile.arrRuns.back().nBytes != nBytes)
        profile.arrRuns.push_back(CRun{nBytes, 0});
    ++profile.arrRuns.back().nCount;
    ++profile.nFrames;
    m_nDecodedBytes += nBytes;
}

void CClipProfiles::Learn(CProfile& profile)
{
    if (profile.end != End::None)
        return;
    if (!profile.pProducer) {
        if (m_lruProducers.size() >= kMaxProducers) {
            CProfile* pOldest = m_lruProducers.back();
            m_lruProducers.pop_back();
            pOldest->pProducer.reset();
        }
        auto pProducer = std::make_unique<CMpegFrameStream>();
        if (!pProducer->Open(m_strEngine, profile.pFile, profile.nStart)) {
            // No decoder although one could be made before: the counts from here on
            // would not be a real voice's.
            m_bFailed = true;
            profile.end = End::Error;
            return;
        }
        // The frames already learned, again: a fresh decoder reaches the same state.
        for (int64_t i = 0; i < profile.nFrames; ++i) {
            int nBytes = 0;
            pProducer->Next(m_pScratch.get(), nBytes);
        }
        profile.pProducer = std::move(pProducer);
        m_lruProducers.push_front(&profile);
        profile.itProducer = m_lruProducers.begin();
    } else if (profile.itProducer != m_lruProducers.begin()) {
        m_lruProducers.splice(m_lruProducers.begin(), m_lruProducers, profile.itProducer);
    }

    int nBytes = 0;
    CMpegFrameStream::Step step;
    try {
        step = profile.pProducer->Next(m_pScratch.get(), nBytes);
    } catch (...) {
        step = CMpegFrameStream::Step::Error;
        profile.end = End::Thrown;
    }
    if (step == CMpegFrameStream::Step::Frame) {
        Record(profile, nBytes);
        return;
    }
    if (profile.end == End::None)
        profile.end = step == CMpegFrameStream::Step::Exhausted ? End::Exhausted : End::Error;
    m_lruProducers.erase(profile.itProducer);
    profile.pProducer.reset();
}

void CClipProfiles::DropProducers()
{
    for (CProfile* pProfile : m_lruProducers)
        pProfile->pProducer.reset();
    m_lruProducers.clear();
}

size_t CClipProfiles::MemoryBytes() const
{
    size_t nBytes = sizeof(*this);
    for (const auto& entry : m_mapProfiles)
        nBytes += kNodeBytes + sizeof(CProfile) + entry.second->arrRuns.capacity() * sizeof(CRun);
    return nBytes;
}

void CCountingClipSource::CProfileStream::Rewind(int64_t nPos)
{
    (void)nPos; // the frames are the profile's whatever the position: see Cut
    if (!pFile->IsOpen())
        throw CFileException("the song file is closed");
}

CMpegFrameStream::Step CCountingClipSource::CProfileStream::Next(unsigned char* pFrame, int& nBytes)
{
    (void)pFrame;
    for (;;) {
        const std::vector<CClipProfiles::CRun>& arrRuns = pProfile->arrRuns;
        // The last run stays the current one while the frames run out: learning may
        // make it longer.
        while (nRun + 1 < arrRuns.size() && nStep >= nBefore + arrRuns[nRun].nCount) {
            nBefore += arrRuns[nRun].nCount;
            ++nRun;
        }
        if (nRun < arrRuns.size() && nStep < nBefore + arrRuns[nRun].nCount) {
            nBytes = arrRuns[nRun].nBytes;
            ++nStep;
            return CMpegFrameStream::Step::Frame;
        }
        if (pProfile->end == CClipProfiles::End::None) {
            pProfiles->Learn(*pProfile);
            continue;
        }
        nBytes = 0;
        switch (pProfile->end) {
        case CClipProfiles::End::Exhausted:
            return CMpegFrameStream::Step::Exhausted;
        case CClipProfiles::End::Thrown:
            throw CFileException("the song file could not be read");
        default:
            bDead = true; // as a frame decoder that met an undecodable frame
            return CMpegFrameStream::Step::Error;
        }
    }
}

CCountingClipSource::CCountingClipSource(CClipProfiles& profiles) : m_profiles(profiles) {}

bool CCountingClipSource::StartClip(CFile* pFile, int nPos1, int nPos3, int nDataOffset, int nPos2,
                                    int nPos4, int voice, int nLengthMs)
{
    (void)nPos2;
    (void)nPos3;
    (void)nPos4;
    if (voice < 0 || voice >= kVoiceCount)
        return false;
    CVoice& v = m_arrVoices[voice];
    const bool bPlayable = v.cut.Start(pFile, nDataOffset, nPos1, CClipDecoder::LengthToBytes(nLengthMs));
    CProfileStream& s = v.stream;
    s.pProfiles = &m_profiles;
    s.pFile = pFile;
    s.nStep = 0;
    s.nRun = 0;
    s.nBefore = 0;
    s.bDead = !bPlayable || !m_profiles.CanDecode();
    s.pProfile = s.bDead ? nullptr : m_profiles.Find(pFile, v.cut.readPos);
    return true;
}

int CCountingClipSource::Decode(char* out, int bytes, int voice)
{
    if (voice < 0 || voice >= kVoiceCount)
        return 0;
    CVoice& v = m_arrVoices[voice];
    return DecodeClip(v.cut, v.stream, out, bytes);
}
