#include <QFile>

#include <gtest/gtest.h>

#include "view/BuildInfo.h"

// The help page as the build made it (its addresses filled in), which the
// installation ships beside the program.
namespace {

QString BuiltHelpPage() {
    QFile file(QStringLiteral(VEMRA_BUILT_HELP_PAGE));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

} // namespace

TEST(HelpPage, HasTheHowToUseSectionTheF1TextPointsTo) {
    const QString strPage = BuiltHelpPage();
    ASSERT_FALSE(strPage.isEmpty());
    EXPECT_TRUE(strPage.contains(QStringLiteral("id=\"how-to-use\"")));
    EXPECT_TRUE(strPage.contains(QStringLiteral(">How to use</h2>")));
    EXPECT_TRUE(strPage.contains(QStringLiteral("href=\"#how-to-use\"")));
}

TEST(HelpPage, ExplainsTheSourceOnALinuxDesktop) {
    const QString strPage = BuiltHelpPage();
    EXPECT_TRUE(strPage.contains(QStringLiteral("pavucontrol")));
    EXPECT_TRUE(strPage.contains(QStringLiteral("Monitor of")));
    EXPECT_TRUE(strPage.contains(QStringLiteral("sound settings")));
    EXPECT_TRUE(strPage.contains(QStringLiteral("Test signal")));
}

TEST(HelpPage, NamesEveryControlGestureModeAndReadout) {
    const QString strPage = BuiltHelpPage();
    for (const char* pszName : {"Capture device",
                                "Sample rate",
                                "Samples",
                                "Start",
                                "Frequency span",
                                "Inertia",
                                "Pks",
                                "Hold",
                                "Pink 2 Flat",
                                "Length (ms)",
                                "Y-scale",
                                "Offset",
                                "Offset (R)",
                                "Stereo?",
                                "Window function",
                                "Min X-space",
                                "Stop",
                                "Drag with the left button",
                                "Right click",
                                "Left double-click",
                                "Right double-click",
                                "Compact mode",
                                "Display modes",
                                "Cursor readout",
                                "Peak readout",
                                "Power readout",
                                "Statistics line",
                                "F1"})
        EXPECT_TRUE(strPage.contains(QLatin1String(pszName))) << pszName;
}

TEST(HelpPage, CarriesTheBuildsAddresses) {
    const QString strPage = BuiltHelpPage();
    EXPECT_TRUE(strPage.contains(QString::fromUtf8(g_szContactEmail)));
    EXPECT_FALSE(strPage.contains(QStringLiteral("@VEMRA_")));
}

TEST(HelpPage, SaysHowToSaveCopyAndCompare) {
    const QString strPage = BuiltHelpPage();
    for (const char* pszText :
         {"Save spectrum as CSV", "Save picture", "Copy picture", "<kbd>Ctrl</kbd>+<kbd>S</kbd>",
          "href=\"#keeping\"", "Keep as reference", "Load reference", "Clear reference",
          "href=\"#reference\""})
        EXPECT_TRUE(strPage.contains(QString::fromUtf8(pszText))) << pszText;
}

TEST(HelpPage, ExplainsLevelsAndCalibration) {
    const QString strPage = BuiltHelpPage();
    for (const char* pszText :
         {"id=\"levels\"", "Levels and calibration", "dBFS", "dB SPL", "Level meter", "Calibrate",
          "Set from a meter reading", "Load microphone response", "Forget calibration",
          "<kbd>Ctrl</kbd>+<kbd>M</kbd>", "href=\"#levels\""})
        EXPECT_TRUE(strPage.contains(QString::fromUtf8(pszText))) << pszText;
}

TEST(HelpPage, ExplainsTheSpectrogram) {
    const QString strPage = BuiltHelpPage();
    for (const char* pszText : {"id=\"spectrogram\"", "href=\"#spectrogram\"",
                                "Spectrogram history", "<kbd>Ctrl</kbd>+<kbd>G</kbd>"})
        EXPECT_TRUE(strPage.contains(QString::fromUtf8(pszText))) << pszText;
}

TEST(HelpPage, ExplainsOctaveBands) {
    const QString strPage = BuiltHelpPage();
    for (const char* pszText : {"id=\"bands\"", "href=\"#bands\"", "Octave bands", "hollow",
                                "<kbd>Ctrl</kbd>+<kbd>B</kbd>"})
        EXPECT_TRUE(strPage.contains(QString::fromUtf8(pszText))) << pszText;
}

TEST(HelpPage, DescribesEachAidToReadingThePicture) {
    const QString strPage = BuiltHelpPage();
    for (const char* pszText :
         {"id=\"reading\"", "href=\"#reading\"", "<b>Freeze</b>",
          "<kbd>Ctrl</kbd>+<kbd>Space</kbd>", "Peak to marker A", "Clear markers",
          "Marker delta (dB)", "Show difference", "Difference (dB)", "Note readout",
          "Reference pitch", "cents", "Frequency labels", "<i>Round</i>"})
        EXPECT_TRUE(strPage.contains(QString::fromUtf8(pszText))) << pszText;
}

TEST(HelpPage, ExplainsTheTransferFunctionToANewcomer) {
    const QString strPage = BuiltHelpPage();
    for (const char* pszText :
         {"id=\"transfer\"", "href=\"#transfer\"", "<b>reference</b>", "<b>measurement</b>",
          "loop-back cable", "Low coherence", "Find delay", "<kbd>Ctrl</kbd>+<kbd>T</kbd>",
          "Coherence threshold", "Save as FRD"})
        EXPECT_TRUE(strPage.contains(QString::fromUtf8(pszText))) << pszText;
}
