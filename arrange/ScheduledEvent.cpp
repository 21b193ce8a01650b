#include "arrange/ScheduledEvent.h"


namespace {

// Released records of this thread, ready for reuse. The list is bounded: a caller that
// holds many records at once gets them back on the heap when it lets them go. After the
// thread's list is gone (at thread exit) records go back to the heap directly.
class CReleasedEvents
{
public:
    static constexpr int kKeep = 32;

    ~CReleasedEvents()
    {
        m_bAlive = false;
        while (m_nCount > 0)
            delete m_arrEvents[--m_nCount];
    }
    CScheduledEvent* Take() noexcept
    {
        return m_bAlive && m_nCount > 0 ? m_arrEvents[--m_nCount] : nullptr;
    }
    bool Put(CScheduledEvent* p) noexcept
    {
        if (!m_bAlive || m_nCount >= kKeep)
            return false;
        m_arrEvents[m_nCount++] = p;
        return true;
    }

private:
    CScheduledEvent* m_arrEvents[kKeep] = {};
    int m_nCount = 0;
    bool m_bAlive = true;
};

thread_local CReleasedEvents t_released;

} // namespace

void CScheduledEventRelease::operator()(CScheduledEvent* pEvent) const noexcept
{
    if (pEvent && !t_released.Put(pEvent))
        delete pEvent;
}

CScheduledEventPtr AcquireScheduledEvent()
{
    if (CScheduledEvent* p = t_released.Take())
        return CScheduledEventPtr(p);
    return CScheduledEventPtr(new CScheduledEvent());
}
