#include "analysis/RecentSamples.h"

#include <algorithm>

void CRecentSamples::SetSize(int nSamples) {
    std::lock_guard lock(m_mutex);
    m_anRing.assign(static_cast<std::size_t>(std::max(nSamples, 0)), 0);
    m_nNext = 0;
    m_nFed = 0;
}

int CRecentSamples::Size() const {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_anRing.size());
}

void CRecentSamples::Feed(const std::int32_t* pSamples, int nCount) {
    std::lock_guard lock(m_mutex);
    const std::size_t nSize = m_anRing.size();
    if (nSize == 0 || nCount <= 0) {
        return;
    }
    // Only the last nSize of a long feed stay.
    const int nSkip = std::max<long long>(0, nCount - static_cast<long long>(nSize));
    for (int i = nSkip; i < nCount; ++i) {
        m_anRing[m_nNext] = pSamples[i];
        m_nNext = m_nNext + 1 == nSize ? 0 : m_nNext + 1;
    }
    m_nFed += nCount;
}

bool CRecentSamples::Newest(std::vector<double>& ad) const {
    std::lock_guard lock(m_mutex);
    const std::size_t nSize = m_anRing.size();
    if (nSize == 0 || m_nFed < static_cast<long long>(nSize)) {
        return false;
    }
    ad.resize(nSize);
    for (std::size_t i = 0; i < nSize; ++i) {
        ad[i] = m_anRing[(m_nNext + i) % nSize];
    }
    return true;
}
