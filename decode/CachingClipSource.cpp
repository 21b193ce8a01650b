#include "decode/CachingClipSource.h"

#include <cstring>
#include <stdexcept>

#include "decode/ClipDecoder.h"
#include "platform/File.h"

namespace {

// Frame decoders kept at the ends of stretches that may grow further; the least
// recently used stretch gives its up first (it is rebuilt should it grow again).
constexpr int kMaxProducers = 24;

} // namespace

CClipCache::CClipCache(size_t nCapBytes, std::string strEngine)
    : m_nCapBytes(nCapBytes), m_strEngine(std::move(strEngine))
{
    CMpegFrameStream probe;
    m_bCanDecode = probe.Open(m_strEngine, nullptr, 0);
}

std::shared_ptr<CClipCache::CStretch> CClipCache::Find(CFile* pFile, int64_t nStart)
{
    const auto it = m_mapStretches.find(Key(pFile, nStart));
    if (it != m_mapStretches.end()) {
        Touch(*it->second);
        return it->second;
    }
    auto pStretch = std::make_shared<CStretch>();
    pStretch->pFile = pFile;
    pStretch->nStart = nStart;
    m_lru.push_front(pStretch.get());
    pStretch->itLru = m_lru.begin();
    m_mapStretches.emplace(Key(pFile, nStart), pStretch);
    ++m_stats.nStretches;
    Account(*pStretch);
    return pStretch;
}

void CClipCache::Touch(CStretch& s)
{
    if (!s.bDropped && s.itLru != m_lru.begin())
        m_lru.splice(m_lru.begin(), m_lru, s.itLru);
}

void CClipCache::Account(CStretch& s)
{
    const size_t nNow = s.bDropped ? 0
                                   : sizeof(CStretch) + s.arrPcm.capacity() +
                                         s.arrSteps.capacity() * sizeof(CFrameRecord);
    m_stats.nBytes = m_stats.nBytes - s.nAccounted + nNow;
    s.nAccounted = nNow;
    if (m_stats.nBytes > m_stats.nPeakBytes)
        m_stats.nPeakBytes = m_stats.nBytes;
}

void CClipCache::Drop(CStretch& s)
{
    if (s.bDropped)
        return;
    if (s.pProducer) {
        s.pProducer.reset();
        --m_nProducers;
    }
    std::vector<unsigned char>().swap(s.arrPcm);
    std::vector<CFrameRecord>().swap(s.arrSteps);
    m_lru.erase(s.itLru);
    s.bDropped = true;
    Account(s);
    ++m_stats.nDropped;
    // Last: the map may hold the only reference.
    m_mapStretches.erase(Key(s.pFile, s.nStart));
}

void CClipCache::KeepWithinCap(const CStretch* pKeep)
{
    while (m_stats.nBytes > m_nCapBytes && !m_lru.empty()) {
        CStretch* pOldest = m_lru.back();
        if (pOldest == pKeep) {
            if (m_lru.size() == 1) {
                // Alone beyond the cap: it goes too, and its voices decode themselves.
                Drop(*pOldest);
                return;
            }
            m_lru.splice(m_lru.begin(), m_lru, pOldest->itLru);
            continue;
        }
        Drop(*pOldest);
    }
}

void CClipCache::Extend(CStretch& s)
{
    if (!s.pProducer) {
        if (m_nProducers >= kMaxProducers) {
            for (auto it = m_lru.rbegin(); it != m_lru.rend(); ++it) {
                if ((*it)->pProducer) {
                    (*it)->pProducer.reset();
                    --m_nProducers;
                    break;
                }
            }
        }
        auto pProducer = std::make_unique<CMpegFrameStream>();
        if (!pProducer->Open(m_strEngine, s.pFile, s.nStart))
            throw std::runtime_error("no frame decoder");
        // Decoding the cached steps again brings a new decoder to the same state.
        for (size_t i = 0; i < s.arrSteps.size(); ++i) {
            int nBytes = 0;
            pProducer->Next(m_scratch, nBytes);
            m_stats.nReplayedBytes += nBytes;
        }
        s.pProducer = std::move(pProducer);
        ++m_nProducers;
    }
    CFrameRecord rec;
    rec.nPosBefore = s.pProducer->Position();
    int nBytes = 0;
    try {
        rec.step = s.pProducer->Next(m_scratch, nBytes);
    } catch (...) {
        s.pProducer.reset();
        --m_nProducers;
        throw;
    }
    rec.nPosAfter = s.pProducer->Position();
    rec.nBytes = nBytes;
    rec.nOffset = s.arrPcm.size();
    if (rec.step == CMpegFrameStream::Step::Frame) {
        if (nBytes > 0)
            s.arrPcm.insert(s.arrPcm.end(), m_scratch, m_scratch + nBytes);
        m_stats.nDecodedBytes += nBytes;
    } else {
        s.bComplete = true;
        s.pProducer.reset();
        --m_nProducers;
    }
    s.arrSteps.push_back(rec);
    Touch(s);
    Account(s);
    KeepWithinCap(&s);
}

CCachingClipSource::CCachingClipSource(std::shared_ptr<CClipCache> pCache)
    : m_pCache(std::move(pCache))
{
    for (VoiceState& v : m_arrVoices)
        v.stream.pCache = m_pCache.get();
}

CCachingClipSource::~CCachingClipSource()
{
    for (VoiceState& v : m_arrVoices)
        v.stream.Fail();
}

bool CCachingClipSource::StartClip(CFile* pFile, int nPos1, int nPos3, int nDataOffset, int nPos2,
                                   int nPos4, int voice, int nLengthMs)
{
    (void)nPos2;
    (void)nPos3;
    (void)nPos4;
    if (voice < 0 || voice >= kVoiceCount)
        return false;
    VoiceState& v = m_arrVoices[voice];
    const bool bPlayable = v.cut.Start(pFile, nDataOffset, nPos1, CClipDecoder::LengthToBytes(nLengthMs));
    CVoiceStream& s = v.stream;
    s.Fail();
    s.pFile = pFile;
    s.nStep = 0;
    s.nPos = v.cut.readPos;
    s.bDead = !bPlayable || !m_pCache->CanDecode();
    if (!s.bDead)
        s.pStretch = m_pCache->Find(pFile, v.cut.readPos);
    return true;
}

int CCachingClipSource::Decode(char* out, int bytes, int voice)
{
    if (voice < 0 || voice >= kVoiceCount)
        return 0;
    VoiceState& v = m_arrVoices[voice];
    return DecodeClip(v.cut, v.stream, out, bytes);
}

void CCachingClipSource::CVoiceStream::Rewind(int64_t nPosNew)
{
    if (!pFile->IsOpen())
        throw CFileException("the song file is closed");
    nPos = nPosNew;
    if (bLive)
        live.SetPosition(nPosNew);
}

void CCachingClipSource::CVoiceStream::Fail()
{
    if (bLive) {
        pCache->m_stats.nReplayedBytes += live.TakeDecodedBytes();
        live.Close();
        bLive = false;
    }
    pStretch.reset();
    bDead = true;
}

void CCachingClipSource::CVoiceStream::GoLive()
{
    const std::shared_ptr<CClipCache::CStretch> pFrom = std::move(pStretch);
    bLive = true;
    if (!live.Open(pCache->Engine(), pFile, pFrom->nStart))
        throw std::runtime_error("no frame decoder");
    // The same steps from the start, with the same reads, bring it to where the voice
    // stands; its reads go on from the voice's own position.
    for (size_t i = 0; i < nStep; ++i) {
        int nBytes = 0;
        live.Next(pCache->m_scratch, nBytes);
    }
    live.SetPosition(nPos);
}

CMpegFrameStream::Step CCachingClipSource::CVoiceStream::Next(unsigned char* pFrame, int& nBytes)
{
    if (!bLive) {
        CClipCache::CStretch& s = *pStretch;
        if (!s.bDropped && nStep == s.arrSteps.size() && !s.bComplete)
            pCache->Extend(s);
        if (!s.bDropped) {
            const CClipCache::CFrameRecord& r = s.arrSteps[nStep];
            // A step that read stands for this voice only if the voice reads from the
            // same place.
            if (nPos == r.nPosBefore || r.nPosAfter == r.nPosBefore) {
                if (nPos == r.nPosBefore)
                    nPos = r.nPosAfter;
                ++nStep;
                nBytes = r.nBytes;
                if (r.step == CMpegFrameStream::Step::Frame && nBytes > 0) {
                    std::memcpy(pFrame, s.arrPcm.data() + r.nOffset, static_cast<size_t>(nBytes));
                    pCache->m_stats.nServedBytes += nBytes;
                    pCache->Touch(s);
                }
                if (r.step == CMpegFrameStream::Step::Error) {
                    bDead = true; // as a decoder that met an undecodable frame
                }
                return r.step;
            }
        }
        GoLive();
    }
    const CMpegFrameStream::Step step = live.Next(pFrame, nBytes);
    if (step == CMpegFrameStream::Step::Error)
        bDead = true;
    return step;
}
