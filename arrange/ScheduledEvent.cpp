#include "arrange/ScheduledEvent.h"

#include <atomic>
#include <mutex>

namespace {

// Released records, ready for reuse by any thread. The list is bounded: a caller that
// holds many records at once gets them back on the heap when it lets them go.
//
// One list for the process, not one per thread: a per-thread object with a destructor
// makes the runtime keep a thread-exit key that it deletes when the module unloads, and
// with the Windows threads library that deletion can block forever once other threads
// have come and gone, which hangs the host as it quits. A lock per record costs nothing
// next to decoding a clip.
class CReleasedEvents
{
public:
    static constexpr int kKeep = 32;

    ~CReleasedEvents()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        s_bGone = true;
        while (m_nCount > 0)
            delete m_arrEvents[--m_nCount];
    }
    CScheduledEvent* Take() noexcept
    {
        if (s_bGone)
            return nullptr;
        std::lock_guard<std::mutex> guard(m_lock);
        return m_nCount > 0 ? m_arrEvents[--m_nCount] : nullptr;
    }
    bool Put(CScheduledEvent* p) noexcept
    {
        if (s_bGone)
            return false;
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_nCount >= kKeep)
            return false;
        m_arrEvents[m_nCount++] = p;
        return true;
    }

private:
    // Outlives the list (it has no destructor): a record released during the static
    // destruction that follows goes back to the heap directly.
    static std::atomic<bool> s_bGone;
    std::mutex m_lock;
    CScheduledEvent* m_arrEvents[kKeep] = {};
    int m_nCount = 0;
};

std::atomic<bool> CReleasedEvents::s_bGone{false};
CReleasedEvents g_released;

} // namespace

void CScheduledEventRelease::operator()(CScheduledEvent* pEvent) const noexcept
{
    if (pEvent && !g_released.Put(pEvent))
        delete pEvent;
}

CScheduledEventPtr AcquireScheduledEvent()
{
    if (CScheduledEvent* p = g_released.Take())
        return CScheduledEventPtr(p);
    return CScheduledEventPtr(new CScheduledEvent());
}
