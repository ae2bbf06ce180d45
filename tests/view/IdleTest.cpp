#include "ViewTestSupport.h"

#include <QTest>

#include "view/BuildInfo.h"

namespace {

constexpr COLORREF kIdleText = RGB(133, 133, 133);

class IdleTest : public ViewTest {};

TEST_F(IdleTest, WithoutChannelsEveryRepaintShowsTheWelcomePage) {
    for (int nFlags : {-1, 0, 2, 3}) {
        SCOPED_TRACE(nFlags);
        m_pView->m_dcMemory.FillSolidRect(0, 0, 600, 300, RGB(1, 2, 3));
        m_pView->RenderFrame(nFlags);
        EXPECT_TRUE(ShowsText(Back(), 40, 30, "Welcome to Vemra-2.5", kIdleText, kBlack));
        EXPECT_TRUE(ShowsText(Back(), 40, 100, "How to use Vemra-2", kIdleText, kBlack));
        EXPECT_TRUE(ShowsText(Back(), 40, 292,
                              "Therefore it's not recommended to use it in any critical live "
                              "situation.",
                              kIdleText, kBlack));
        EXPECT_TRUE(ShowsText(Back(), 40, 278, g_szCredits, kIdleText, kBlack));
        for (int y = 0; y < 300; ++y) {
            ASSERT_EQ(Back(0, y), kBlack) << y;
            ASSERT_EQ(Back(39, y), kBlack) << y;
        }
        EXPECT_EQ(PixelAt(m_pView->FrontImage(), 300, 5), kBlack);
    }
}

TEST_F(IdleTest, ContactAndWebLinesCarryTheConfiguredAddresses) {
    m_pView->resize(1200, 400);
    m_pView->UpdateBackBuffer();
    m_pView->RenderFrame(-1);
    EXPECT_TRUE(ShowsText(Back(), 40, 322,
                          std::string("If you have any comments or questions, send them to ") +
                              g_szContactEmail + ".",
                          kIdleText, kBlack));
    EXPECT_TRUE(ShowsText(Back(), 40, 339,
                          std::string("For more information, press F1 to get to ") + g_szWebAddress,
                          kIdleText, kBlack));
}

// The dialog tells the view the address F1 opens; the welcome page on show
// names it at once, under a folder name that is not ASCII too.
TEST_F(IdleTest, TheWebLineNamesTheAddressItIsGiven) {
    m_pView->resize(1200, 400);
    m_pView->UpdateBackBuffer();
    m_pView->SetWebAddress("file:///home/J\xC3\xB6rg/vemra2/build/app/index.html");
    EXPECT_TRUE(ShowsText(Back(), 40, 339,
                          "For more information, press F1 to get to "
                          "file:///home/J\xC3\xB6rg/vemra2/build/app/index.html",
                          kIdleText, kBlack));
}

// A notice stands over the welcome page and over the spectrum while it lasts,
// a quarter down the plot, and is gone from the frames after it.
TEST_F(IdleTest, ANoticeShowsForItsTimeOverThePageAndTheSpectrum) {
    const std::string strNotice = "Compact mode cannot stay on top here.";
    const int nY = (m_pView->m_nPlotBottom / 4) - 7;
    auto shown = [&] {
        const int x = 28 + (m_pView->m_nWidth - 28 - TextWidth(strNotice)) / 2;
        for (int dy = -3; dy <= 3; ++dy)
            if (ShowsText(Back(), x, nY + dy, strNotice, RGB(230, 200, 90), RGB(32, 32, 32)))
                return true;
        return false;
    };
    m_pView->ShowNotice(strNotice, 300);
    m_pView->RenderFrame(-1);
    EXPECT_TRUE(shown());
    EXPECT_EQ(m_pView->Notice(), strNotice);
    StartRun(44100, 4096, 40, 16000, 1e9);
    m_pView->RenderFrame(2);
    EXPECT_TRUE(shown());
    QTest::qWait(350);
    EXPECT_EQ(m_pView->Notice(), "");
    m_pView->RenderFrame(2);
    EXPECT_FALSE(shown());
}

// At the smallest size the page takes, every line is whole, with room to
// its right, and the credits stand a paragraph below the last line. A web
// address too long for the page gets a line of its own.
TEST_F(IdleTest, AtTheSmallestSizeEveryLineIsWholeAndTheCreditsApart) {
    const std::string strMore = "For more information, press F1 to get to";
    const std::string strLong =
        "file:///home/J\xC3\xB6rg/Projects/audio/analysers/vemra2-build-2026/share/doc/vemra2/"
        "vemra2-help.html";
    for (const std::string& strAddress : {std::string(g_szWebAddress), strLong}) {
        SCOPED_TRACE(strAddress);
        m_pView->SetWebAddress(strAddress);
        const QSize smallest = m_pView->MinimumPictureSize(true);
        Resize(smallest.width(), smallest.height());
        m_pView->RenderFrame(-1);
        const bool bBroken = strAddress == strLong;
        int nLastY = 339;
        if (bBroken) {
            EXPECT_TRUE(ShowsText(Back(), 40, 339, strMore, kIdleText, kBlack));
            EXPECT_TRUE(ShowsText(Back(), 40, 356, strAddress, kIdleText, kBlack));
            nLastY = 356;
        } else {
            EXPECT_TRUE(ShowsText(Back(), 40, 339, strMore + " " + strAddress, kIdleText, kBlack));
        }
        const int nCreditsY = smallest.height() - 22;
        EXPECT_TRUE(ShowsText(Back(), 40, nCreditsY, g_szCredits, kIdleText, kBlack));
        EXPECT_GE(nCreditsY, nLastY + 30);
        // Nothing reaches the page's last few columns: no line was cut.
        for (int y = 0; y < smallest.height(); ++y)
            for (int x = smallest.width() - 8; x < smallest.width(); ++x)
                ASSERT_EQ(Back(x, y), kBlack) << x << "," << y;
    }
}

TEST_F(IdleTest, TheCreditsFollowTheBottomEdgeAndTheRestStays) {
    m_pView->resize(600, 420);
    m_pView->OnSize(0, 600, 420);
    EXPECT_TRUE(ShowsText(Back(), 40, 398, g_szCredits, kIdleText, kBlack));
    EXPECT_TRUE(ShowsText(Back(), 40, 30, "Welcome to Vemra-2.5", kIdleText, kBlack));
    // No scale is drawn while idle.
    EXPECT_EQ(Back(27, 100), kBlack);
}

TEST_F(IdleTest, StopReturnsToTheWelcomePage) {
    StartRun(44100, 4096, 40, 16000, 1e9);
    m_pView->RenderFrame(2);
    m_pView->BindChannels(nullptr, nullptr, 0, 0);
    m_pView->RenderFrame(-1);
    EXPECT_TRUE(ShowsText(Back(), 40, 30, "Welcome to Vemra-2.5", kIdleText, kBlack));
    EXPECT_EQ(Back(20, 200), kBlack);
    EXPECT_EQ(Back(590, 200), kBlack);
}

} // namespace
