#include <QFile>
#include <QMenu>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include "app/AboutDialog.h"
#include "app/HelpPage.h"
#include "tests/app/AppTestSupport.h"
#include "view/BuildInfo.h"

using D = CAnalyzerDialog;

class HelpAboutTest : public DialogTest {
protected:
    void PressF1() {
        Dlg().activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&Dlg()));
        QWidget* pFocus = QApplication::focusWidget();
        ASSERT_NE(pFocus, nullptr);
        QTest::keyClick(pFocus, Qt::Key_F1);
    }
};

TEST_F(HelpAboutTest, F1ShowsWhereHelpIsFound) {
    m_answer = QMessageBox::Cancel;
    PressF1();
    ASSERT_EQ(m_prompts.size(), 1u);
    const SPrompt& box = m_prompts[0];
    EXPECT_EQ(box.strCaption, QStringLiteral("F1 key pressed"));
    EXPECT_EQ(box.buttons, QMessageBox::Ok | QMessageBox::Cancel);
    const QString strWeb = WebPage().toString();
    const QString strExpected =
        QStringLiteral("Most features and settings in Vemra are self-explained,\nif you however "
                       "need some extra help or want some hints on how to use Vemra then you "
                       "should check out the web page available at ") +
        strWeb + QStringLiteral(" and ") + SecondWebPage().toString() +
        QStringLiteral(". Follow the \"How to use\" link to find some hints on how to use the "
                       "different settings.\n\nIf you're still confused send an email to me, ") +
        QString::fromUtf8(g_szContactEmail) +
        QStringLiteral(".\n\nPress Ok to go to the Vemra web page or Cancel to get back to Vemra.");
    EXPECT_EQ(box.strText, strExpected);
    // Cancel: nothing opens, nothing changes.
    EXPECT_TRUE(m_opened.empty());
    EXPECT_TRUE(Dlg().isVisible());
}

TEST_F(HelpAboutTest, OkInTheF1BoxOpensTheWebPage) {
    m_answer = QMessageBox::Ok;
    PressF1();
    // The welcome page names the very page F1 opens.
    ASSERT_EQ(m_opened.size(), 1u);
    EXPECT_EQ(QString::fromStdString(Dlg().View()->WebAddress()), m_opened[0].toString());
    ASSERT_EQ(m_prompts.size(), 1u);
    ASSERT_EQ(m_opened.size(), 1u);
    EXPECT_EQ(m_opened[0], WebPage());
    EXPECT_TRUE(m_prompts[0].strText.contains(m_opened[0].toString()));
}

// From the first frame the welcome page names the page F1 opens: drawn again
// with the address the view now holds, it is the same picture. Here, as in
// the build tree, that is the help page beside the program, not where an
// installation would put it.
TEST_F(HelpAboutTest, TheWelcomePageNamesThePageF1OpensFromTheFirstFrame) {
    ASSERT_NE(WebPage().toString().toStdString(), g_szWebAddress);
    const QImage first = Dlg().View()->FrontImage();
    Dlg().View()->RenderFrame(-1);
    EXPECT_EQ(Dlg().View()->FrontImage(), first);
}

// Where nothing opens the page, OK says so and where the page is, so that it
// can be opened by hand: xdg-open finding no browser, then no xdg-open at all.
// (ThreadSanitizer refuses new threads in a process that started a program
// while threads ran: ctest runs this test in a process of its own.)
TEST_F(HelpAboutTest, OkWithoutABrowserSaysWhereThePageIs) {
    SetOpenUrlHook(nullptr);
    QTemporaryDir bin;
    QFile xdgOpen(bin.filePath(QStringLiteral("xdg-open")));
    ASSERT_TRUE(xdgOpen.open(QIODevice::WriteOnly));
    xdgOpen.write(
        "#!/bin/sh\necho \"xdg-open: no method available for opening '$1'\" >&2\nexit 3\n");
    xdgOpen.close();
    xdgOpen.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin.path()));
    m_answer = QMessageBox::Ok;
    PressF1();
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_prompts.size() == 2; }, 5000));
    xdgOpen.remove();
    PressF1();
    qputenv("PATH", path);

    ASSERT_EQ(m_prompts.size(), 4u);
    for (size_t i : {1u, 3u}) {
        EXPECT_TRUE(m_prompts[i].strText.startsWith(
            QStringLiteral("Sorry!\nBut I couldn't open the page.\n")));
        EXPECT_TRUE(m_prompts[i].strText.endsWith(u'\n' + WebPage().toLocalFile()));
    }
    EXPECT_TRUE(m_prompts[1].strText.contains(QStringLiteral("no web browser")));
}

TEST_F(HelpAboutTest, F1WhileRunningKeepsTheCaptureGoing) {
    ClickStart();
    CCaptureEngine* pEngine = Dlg().Engine();
    ASSERT_NE(pEngine, nullptr);
    m_answer = QMessageBox::Cancel;
    Ctl(D::IDC_SPIN_YSCALE)->setFocus();
    PressF1();
    EXPECT_EQ(m_prompts.size(), 1u);
    EXPECT_EQ(Dlg().Engine(), pEngine);
    EXPECT_TRUE(Ctl(D::IDC_STOP)->isVisible());
    ClickStop();
}

// Without a configured web address the web page is the help page shipped
// with the program, and the help page has the section the F1 text names.
TEST_F(HelpAboutTest, TheWebPageIsTheShippedHelpPage) {
    if (QString::fromUtf8(g_szWebAddress).startsWith(QStringLiteral("file:"))) {
        EXPECT_TRUE(WebPage().isLocalFile());
        EXPECT_EQ(SecondWebPage().fragment(), QStringLiteral("how-to-use"));
    }
    EXPECT_FALSE(ContactEmail().isEmpty());
    EXPECT_FALSE(Credits().isEmpty());
}

TEST_F(HelpAboutTest, TheHelpMenuEndsWithHelpAndAbout) {
    QMenu* pMenu = Dlg().HelpButton()->menu();
    ASSERT_NE(pMenu, nullptr);
    QStringList texts;
    for (QAction* pAction : pMenu->actions())
        texts << (pAction->isSeparator() ? QStringLiteral("-") : pAction->text());
    EXPECT_EQ(texts.mid(texts.size() - 3),
              QStringList({QStringLiteral("Help\u2026"), QStringLiteral("-"),
                           QStringLiteral("&About Vemra-2.5...")}));
    EXPECT_EQ(Dlg().HelpButton()->text(), QStringLiteral("?"));
    // Choosing Help... is the same as F1.
    m_answer = QMessageBox::Cancel;
    Dlg().HelpAction()->trigger();
    ASSERT_EQ(m_prompts.size(), 1u);
    EXPECT_EQ(m_prompts[0].strCaption, QStringLiteral("F1 key pressed"));
}

TEST_F(HelpAboutTest, AboutShowsTheBoxWhichClosesWithOk) {
    QString strCaption, strCredits;
    bool bIcon = false, bName = false, bFits = false;
    QTimer::singleShot(50, [&] {
        auto* pAbout = qobject_cast<CAboutDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(pAbout, nullptr);
        SaveShot(pAbout, "about");
        strCaption = pAbout->windowTitle();
        strCredits = pAbout->CreditsLabel()->text();
        for (QLabel* pLabel : pAbout->findChildren<QLabel*>()) {
            bIcon = bIcon || !pLabel->pixmap().isNull();
            bName = bName || pLabel->text() == QStringLiteral("Vemra-2.5");
        }
        bFits = pAbout->CreditsLabel()->geometry().right() < pAbout->width() &&
                pAbout->CreditsLabel()->sizeHint().width() <= pAbout->CreditsLabel()->width();
        QTest::mouseClick(pAbout->OkButton(), Qt::LeftButton);
    });
    Dlg().AboutAction()->trigger();
    EXPECT_EQ(strCaption, QStringLiteral("About Vemra-2.5"));
    EXPECT_TRUE(bIcon);
    EXPECT_TRUE(bName);
    EXPECT_TRUE(bFits);
    EXPECT_TRUE(strCredits.contains(WebPage().toString().toHtmlEscaped()));
    EXPECT_TRUE(strCredits.contains(Credits().toHtmlEscaped()));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(HelpAboutTest, AboutClosesWithEsc) {
    bool bSeen = false;
    QTimer::singleShot(50, [&] {
        QWidget* pAbout = QApplication::activeModalWidget();
        bSeen = qobject_cast<CAboutDialog*>(pAbout) != nullptr;
        if (pAbout)
            QTest::keyClick(pAbout, Qt::Key_Escape);
    });
    Dlg().AboutAction()->trigger();
    EXPECT_TRUE(bSeen);
    EXPECT_TRUE(Dlg().isVisible());
}

TEST_F(HelpAboutTest, HelpButtonIsHiddenInCompactMode) {
    Dlg().OnToggleCompactMode();
    EXPECT_FALSE(Dlg().HelpButton()->isVisible());
    Dlg().OnToggleCompactMode();
    EXPECT_TRUE(Dlg().HelpButton()->isVisible());
}
