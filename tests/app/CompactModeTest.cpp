#include <QMetaObject>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

#include "tests/app/AppTestSupport.h"

using D = CAnalyzerDialog;

namespace {

bool AnyStripControlShown(CAnalyzerDialog& dlg) {
    bool bAny = dlg.HelpButton()->isVisible();
    for (int nId : SetupGroup())
        bAny = bAny || dlg.Control(nId)->isVisible();
    for (int nId : AnalysisGroup())
        bAny = bAny || dlg.Control(nId)->isVisible();
    return bAny;
}

} // namespace

class CompactModeTest : public DialogTest {
protected:
    void RightClickAt(QWidget* pWidget, QPoint pt) {
        QTest::mousePress(pWidget, Qt::RightButton, {}, pt);
        QTest::mouseRelease(pWidget, Qt::RightButton, {}, pt);
    }
    // A right click on the dialog's background: between the strip's controls
    // in normal mode, on the margin beside the view in compact mode.
    void RightClickBackground() {
        const QPoint pt =
            !Dlg().IsCompact() ? QPoint(460, Dlg().height() - 4) : QPoint(1, Dlg().height() - 1);
        ASSERT_EQ(Dlg().childAt(pt), nullptr);
        RightClickAt(&Dlg(), pt);
    }
    // The window itself and the dialog's own record agree.
    bool WindowOnTop() {
        const bool bWindow = Dlg().windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint);
        EXPECT_EQ(bWindow, Dlg().IsTopmost());
        return bWindow;
    }
};

TEST_F(CompactModeTest, RightClickOnTheBackgroundTogglesBothWays) {
    RightClickBackground();
    EXPECT_TRUE(Dlg().IsCompact());
    EXPECT_FALSE(AnyStripControlShown(Dlg()));
    EXPECT_EQ(Dlg().View()->geometry(), QRect(2, 2, 788 - 3, 465 - 3));
    EXPECT_TRUE(WindowOnTop());
    EXPECT_TRUE(Dlg().isVisible());
    // A desktop that keeps windows on top needs no word about it.
    EXPECT_EQ(Dlg().View()->Notice(), "");

    RightClickBackground();
    EXPECT_FALSE(Dlg().IsCompact());
    for (int nId : SetupGroup())
        EXPECT_TRUE(Ctl(nId)->isVisible()) << nId;
    EXPECT_TRUE(Dlg().HelpButton()->isVisible());
    EXPECT_EQ(Dlg().View()->geometry(), QRect(2, 2, 788 - 3, 465 - 60));
    EXPECT_FALSE(WindowOnTop());
    EXPECT_TRUE(Dlg().isVisible());
}

TEST_F(CompactModeTest, LeavingCompactModeWhileRunningShowsTheRunningArrangement) {
    ClickStart();
    ASSERT_NE(Dlg().Engine(), nullptr);
    RightClickBackground();
    EXPECT_FALSE(AnyStripControlShown(Dlg()));
    RightClickBackground();
    EXPECT_TRUE(Ctl(D::IDC_STOP)->isVisible());
    EXPECT_FALSE(Ctl(D::IDC_START)->isVisible());
    ClickStop();
}

TEST_F(CompactModeTest, RightClickOnALabelToggles) {
    QWidget* pLabel = Ctl(D::IDC_LABEL_RATE);
    RightClickAt(pLabel, pLabel->rect().center());
    EXPECT_TRUE(Dlg().IsCompact());
}

TEST_F(CompactModeTest, RightClickOnOtherControlsDoesNotToggle) {
    ClickStart();
    for (int nId : {D::IDC_STOP, D::IDC_CHECK_HOLD, D::IDC_CHECK_STEREO, D::IDC_SPIN_YSCALE}) {
        QWidget* pControl = Ctl(nId);
        RightClickAt(pControl, QPoint(3, pControl->height() / 2));
        EXPECT_FALSE(Dlg().IsCompact()) << nId;
    }
    RightClickAt(Dlg().HelpButton(), Dlg().HelpButton()->rect().center());
    EXPECT_FALSE(Dlg().IsCompact());
    // A right press on the view only widens the span; the view's right
    // double-click is what toggles from there.
    RightClickAt(Dlg().View(), Dlg().View()->rect().center());
    EXPECT_FALSE(Dlg().IsCompact());
    ClickStop();
}

TEST_F(CompactModeTest, RightDoubleClickOnTheViewTogglesOnce) {
    QWidget* pView = Dlg().View();
    const QPoint pt = pView->rect().center();
    QTest::mousePress(pView, Qt::RightButton, {}, pt);
    QTest::mouseRelease(pView, Qt::RightButton, {}, pt);
    QTest::mouseDClick(pView, Qt::RightButton, {}, pt);
    QTest::mouseRelease(pView, Qt::RightButton, {}, pt);
    QTest::qWait(20); // the view's right press is posted
    EXPECT_TRUE(Dlg().IsCompact());
    EXPECT_FALSE(AnyStripControlShown(Dlg()));
}

// Changing the window's band must not hide the window, which would end the
// program's run.
TEST_F(CompactModeTest, TogglingDuringTheProgramsRunKeepsTheWindowOpen) {
    m_pDialog.reset();
    CAnalyzerDialog dlg(m_desktop);
    bool bVisibleInCompact = false;
    bool bVisibleAfter = false;
    QTimer::singleShot(100, &dlg, [&] {
        dlg.OnToggleCompactMode();
        QTimer::singleShot(100, &dlg, [&] {
            bVisibleInCompact = dlg.isVisible() && dlg.IsTopmost();
            dlg.OnToggleCompactMode();
            QTimer::singleShot(100, &dlg, [&] {
                bVisibleAfter = dlg.isVisible() && !dlg.IsTopmost();
                dlg.close();
            });
        });
    });
    CSpectrumApp::RunMainWindow(dlg);
    EXPECT_TRUE(bVisibleInCompact);
    EXPECT_TRUE(bVisibleAfter);
}

// Where the desktop does not let programs stay on top (Wayland), compact mode
// still hides the strip and fills the window with the view, and the first
// time the plot says how to get the window on top instead.
class CompactModeWithoutTopmostTest : public CompactModeTest {
protected:
    void SetUp() override {
        m_desktop.bWindowsStayOnTop = false;
        CompactModeTest::SetUp();
    }
};

TEST_F(CompactModeWithoutTopmostTest, TheFirstTimeThePlotSaysSo) {
    ClickStart();
    RightClickBackground();
    EXPECT_FALSE(AnyStripControlShown(Dlg()));
    EXPECT_EQ(Dlg().View()->geometry(), QRect(2, 2, 788 - 3, 465 - 3));
    EXPECT_EQ(Dlg().View()->Notice(), CWindowStacking::kNoTopmostText);
    SaveShot(&Dlg(), "compact-without-topmost");

    // Once is enough: leaving and entering again says nothing new.
    Dlg().View()->ShowNotice("", 0);
    RightClickBackground();
    RightClickBackground();
    EXPECT_TRUE(Dlg().IsCompact());
    EXPECT_EQ(Dlg().View()->Notice(), "");
    Dlg().OnStop();
}

// On X11 the window manager keeps a window above the others, if there is one
// and the root window's _NET_SUPPORTED lists _NET_WM_STATE_ABOVE. Runs on a
// virtual X server without a window manager (app.compact_mode_on_x11); the
// test plays one on a connection of its own, whose windows go with it.
class CompactModeOnX11Test : public CompactModeTest {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != QStringLiteral("xcb"))
            GTEST_SKIP() << "needs an X server";
        m_pX.reset(xcb_connect(nullptr, nullptr));
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_pX.get())).data->root;
        CompactModeTest::SetUp();
    }
    xcb_atom_t Atom(const char* psz) {
        auto* pReply = xcb_intern_atom_reply(
            m_pX.get(), xcb_intern_atom(m_pX.get(), 0, uint16_t(std::strlen(psz)), psz), nullptr);
        const xcb_atom_t atom = pReply->atom;
        std::free(pReply);
        return atom;
    }
    // A manager supporting these states; bGone: it has ended, its list left behind.
    void PlayManager(std::initializer_list<const char*> states, bool bGone = false) {
        xcb_connection_t* pX = m_pX.get();
        const xcb_window_t check = xcb_generate_id(pX);
        xcb_create_window(pX, 0, check, m_root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        for (xcb_window_t window : {m_root, check})
            xcb_change_property(pX, XCB_PROP_MODE_REPLACE, window, Atom("_NET_SUPPORTING_WM_CHECK"),
                                XCB_ATOM_WINDOW, 32, 1, &check);
        std::vector<xcb_atom_t> atoms;
        for (const char* pszState : states)
            atoms.push_back(Atom(pszState));
        xcb_change_property(pX, XCB_PROP_MODE_REPLACE, m_root, Atom("_NET_SUPPORTED"),
                            XCB_ATOM_ATOM, 32, uint32_t(atoms.size()), atoms.data());
        if (bGone)
            xcb_destroy_window(pX, check);
        std::free(xcb_get_input_focus_reply(pX, xcb_get_input_focus(pX), nullptr));
    }

    std::unique_ptr<xcb_connection_t, void (*)(xcb_connection_t*)> m_pX{nullptr, xcb_disconnect};
    xcb_window_t m_root = 0;
};

TEST_F(CompactModeOnX11Test, OnlyAManagerThatSupportsTheStateKeepsTheWindowOnTop) {
    EXPECT_FALSE(CanKeepWindowsOnTop());
    PlayManager({"_NET_WM_STATE", "_NET_WM_STATE_ABOVE"});
    EXPECT_TRUE(CanKeepWindowsOnTop());
    PlayManager({"_NET_WM_STATE", "_NET_WM_STATE_FULLSCREEN"}); // weston's for XWayland
    EXPECT_FALSE(CanKeepWindowsOnTop());
    PlayManager({"_NET_WM_STATE", "_NET_WM_STATE_ABOVE"}, true);
    EXPECT_FALSE(CanKeepWindowsOnTop());
}
