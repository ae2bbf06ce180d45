#include "view/IdlePage.h"

#include "view/BuildInfo.h"
#include "view/RunningFrame.h"

#include <algorithm>

namespace {

struct SIdleLine {
    int y;
    const char* pszText;
};

// The welcome page, one entry per line at x = 40; lines 14 and 15 continue
// with the contact and web addresses, and the credits follow the bottom edge.
const SIdleLine kIdleLines[] = {
    {30, "Welcome to Vemra-2.5"},
    {50, "Vemra-2 is a program that analyzes the frequency spectrum of audio in real time."},
    {67, "This is performed by using the FFT (Fast Fourier Transform)."},
    {100, "How to use Vemra-2"},
    {117, "First of all you have to set up the audio source to analyze, this is done in the sound "
          "settings"},
    {134,
     "of your desktop or in a mixer such as pavucontrol (Input Devices / Recording), where you "
     "choose"},
    {151, "the input to record, for example Line-In. A \"Monitor of ...\" source analyzes what the "
          "computer plays."},
    {181,
     "The second thing to do is to set up Vemra properly, this is done by selecting the device"},
    {198, "to which the source is connected, choosing the desired sample frequency (8000-96000)"},
    {215, "and the number of samples to analyze each time (1024-16384)."},
    {245, "After all these settings are done you simply click the Start button to begin FFT:ing!"},
    {275, "Vemra-2 is a \"measure for fun\" program: it is not calibrated and comes with no "
          "warranty."},
    {292, "Therefore it's not recommended to use it in any critical live situation."},
};

// The contact and web lines, and the credits' distance from the bottom edge.
constexpr int kContactY = 322;
constexpr int kMoreY = 339;
constexpr int kCreditsFromBottom = 22;
constexpr const char* kMoreText = "For more information, press F1 to get to ";
// Where the web line is too long for the page, its address goes on a line of
// its own, the paragraph's line pitch below.
constexpr int kLinePitch = 17;
// Room right of the longest line, and between the last line and the credits:
// a paragraph's gap.
constexpr int kRightMargin = 8;
constexpr int kParagraphGap = 30;

std::string ContactLine() {
    return std::string("If you have any comments or questions, send them to ") + g_szContactEmail +
           ".";
}

// Whether the web line, with this address, is too long for a page nWidth
// wide, measured on dc.
bool BreaksWebLine(CDC& dc, int nWidth, const std::string& strAddress) {
    return 40 + dc.GetTextExtent(kMoreText + strAddress).cx > nWidth - kRightMargin;
}

} // namespace

// The whole client area black, grey text.
void CIdlePage::Draw(CDC& dc, int nWidth, int nHeight, const std::string& strWebAddress,
                     const std::string& strNotice) {
    dc.FillSolidRect(0, 0, nWidth, nHeight, RGB(0, 0, 0));
    dc.SetBkColor(RGB(0, 0, 0));
    dc.SetTextColor(RGB(133, 133, 133));
    for (const SIdleLine& line : kIdleLines) {
        dc.TextOut(40, line.y, line.pszText);
    }
    dc.TextOut(40, kContactY, ContactLine());
    if (BreaksWebLine(dc, nWidth, strWebAddress)) {
        std::string strMore = kMoreText;
        strMore.pop_back();
        dc.TextOut(40, kMoreY, strMore);
        dc.TextOut(40, kMoreY + kLinePitch, strWebAddress);
    } else {
        dc.TextOut(40, kMoreY, kMoreText + strWebAddress);
    }
    dc.TextOut(40, nHeight - kCreditsFromBottom, g_szCredits);
    CRunningFrame::DrawNotice(dc, strNotice, nWidth, nHeight - 22);
}

// As wide as the longest line, the web address on a line of its own if need
// be, and as high as keeps the credits a paragraph's gap below the last line.
QSize CIdlePage::MinimumSize(const std::string& strAddress) {
    CDC dc; // measures as the frames' DC does
    const auto width = [&dc](const std::string& str) { return dc.GetTextExtent(str).cx; };
    int nLongest =
        std::max({width(ContactLine()), width(kMoreText), width(strAddress), width(g_szCredits)});
    for (const SIdleLine& line : kIdleLines)
        nLongest = std::max(nLongest, width(line.pszText));
    const int nWidth = 40 + nLongest + kRightMargin;
    const int nLastY = BreaksWebLine(dc, nWidth, strAddress) ? kMoreY + kLinePitch : kMoreY;
    return QSize(nWidth, nLastY + kParagraphGap + kCreditsFromBottom);
}
