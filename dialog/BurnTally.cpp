#include "BurnTally.h"

#include "PanelText.h"

void CBurnTally::Count(bool verified, const SYSTEMTIME& at)
{
    ++(verified ? m_nVerified : m_nFailed);
    m_bLastVerified = verified;
    m_lastAt = at;
}

std::string CBurnTally::Line() const
{
    const bool any = m_nVerified + m_nFailed != 0;
    return PanelText::TallyLine(m_nVerified, m_nFailed, m_bLastVerified, any ? &m_lastAt : nullptr);
}
