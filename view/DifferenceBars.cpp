#include "view/DifferenceBars.h"

#include "view/FormatText.h"

#include <algorithm>
#include <cmath>

double CDifferenceBars::DifferenceDb(double dLive, double dReference) {
    if (!(dLive > 0.0) || !(dReference > 0.0)) {
        return std::nan("");
    }
    return 10.0 * std::log10(dLive / dReference);
}

void CDifferenceBars::Reshape(const SFrame& f, double dYScale, const std::vector<double>& adLive,
                              const std::vector<double>& adReference,
                              std::vector<SRectangle>& aBars,
                              std::vector<std::pair<int, int>>& aBins, std::vector<int>& anBand,
                              std::vector<bool>& abHollow) {
    const int nZero = ZeroY(f);
    const int nBottom = f.nPlotBottom - 16 * f.nMode;
    const double dPixels = PixelsPerDb(dYScale);
    m_aBars.clear();
    m_adDb.clear();
    std::size_t nKept = 0;
    for (std::size_t i = 0; i < aBars.size(); ++i) {
        const double dDb = i < adLive.size() && i < adReference.size()
                               ? DifferenceDb(adLive[i], adReference[i])
                               : std::nan("");
        if (std::isnan(dDb)) {
            continue;
        }
        const int y = static_cast<int>(std::clamp(nZero - dDb * dPixels, 0.0, double(nBottom)));
        SRectangle rc = aBars[i];
        rc.t = std::min(y, nZero);
        rc.b = std::max(y, nZero) + 1;
        aBars[nKept] = rc;
        if (i < aBins.size()) {
            aBins[nKept] = aBins[i];
        }
        if (i < anBand.size()) {
            anBand[nKept] = anBand[i];
        }
        if (i < abHollow.size()) {
            abHollow[nKept] = abHollow[i];
        }
        m_aBars.push_back(rc);
        m_adDb.push_back(dDb);
        ++nKept;
    }
    aBars.resize(nKept);
    aBins.resize(std::min(aBins.size(), nKept));
    anBand.resize(std::min(anBand.size(), nKept));
    abHollow.resize(std::min(abHollow.size(), nKept));
}

bool CDifferenceBars::At(int x, double* pDb) const {
    for (std::size_t i = 0; i < m_aBars.size(); ++i) {
        if (x >= m_aBars[i].l && x < m_aBars[i].r) {
            *pDb = m_adDb[i];
            return true;
        }
    }
    return false;
}

// Labels stand in the margin beside their lines; where the lines crowd, only
// every second or fourth one is labelled, so that no label covers another.
void CDifferenceBars::DrawGrid(CDC& dc, const SFrame& f, double dYScale, const CPen& penZero) {
    const int nZero = ZeroY(f);
    const int nBottom = f.nPlotBottom - 16 * f.nMode;
    const double dStep = PixelsPerDb(dYScale) * kGridStepDb;
    if (!(dStep > 0.0)) {
        return;
    }
    int nLabelEvery = 1;
    while (dStep * nLabelEvery < 14 && nLabelEvery < 64) {
        nLabelEvery *= 2;
    }
    const CPen* pGrid = dc.SelectObject(&penZero);
    dc.MoveTo(28, nZero);
    dc.LineTo(f.nWidth, nZero);
    dc.SelectObject(pGrid);
    const int nLines = static_cast<int>(std::max(nZero, nBottom - nZero) / dStep);
    for (int k = -nLines; k <= nLines; ++k) {
        const int y = static_cast<int>(std::lround(nZero - k * dStep));
        if (y <= 0 || y >= nBottom) {
            continue;
        }
        if (k != 0) {
            dc.MoveTo(28, y);
            dc.LineTo(f.nWidth, y);
        }
        if (k % nLabelEvery != 0) {
            continue;
        }
        const std::string strLabel = FormatText("%+d", k * kGridStepDb);
        const CSize size = dc.GetTextExtent(k == 0 ? "0" : strLabel);
        const int yText = std::clamp(y - size.cy / 2, 0, nBottom - size.cy);
        dc.TextOut(26 - size.cx, yText, k == 0 ? "0" : strLabel);
    }
}
