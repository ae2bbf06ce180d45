// Keeping a measurement: the spectrum as CSV, the picture as PNG and on the
// clipboard, through the dialog's commands and shortcuts.

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QMenu>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cmath>
#include <cstring>
#include <numbers>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "app/LevelCommands.h"
#include "app/ReferenceCommands.h"
#include "app/SpectrumCsv.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/ExportFixture.h"
#include "view/GridLevel.h"

TEST_F(ExportTest, TheCommandsAreInTheMenuAndWorkOnlyWhileRunning) {
    QStringList texts;
    for (QAction* pAction : Dlg().HelpButton()->menu()->actions())
        texts << (pAction->isSeparator() ? QStringLiteral("-") : pAction->text());
    EXPECT_EQ(texts.mid(0, 4), QStringList({QStringLiteral("Save spectrum as CSV\u2026"),
                                            QStringLiteral("Save picture\u2026"),
                                            QStringLiteral("Copy picture"), QStringLiteral("-")}));
    QAction* actions[] = {Dlg().Export().SaveSpectrumAction(), Dlg().Export().SavePictureAction(),
                          Dlg().Export().CopyPictureAction()};
    for (QAction* pAction : actions)
        EXPECT_FALSE(pAction->isEnabled()) << pAction->text().toStdString();
    // Stopped, the shortcuts ask nothing.
    QTest::keyClick(Ctl(D::IDC_START), Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(m_asked.empty());

    StartWithTone(false);
    for (QAction* pAction : actions)
        EXPECT_TRUE(pAction->isEnabled()) << pAction->text().toStdString();
    SaveCsv();
    ASSERT_EQ(m_asked.size(), 1u);
    EXPECT_EQ(m_asked[0].strCaption, QStringLiteral("Save spectrum as CSV"));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("/vemra2-\\d{8}-\\d{6}\\.csv$"))
                    .match(m_asked[0].strSuggested)
                    .hasMatch())
        << m_asked[0].strSuggested.toStdString();
    EXPECT_TRUE(QFile::exists(m_strAnswer));

    // The next dialog of this run offers the folder saved to last.
    m_strAnswer = m_dir.filePath(QStringLiteral("picture.png"));
    QTest::keyClick(Ctl(D::IDC_STOP), Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_EQ(m_asked.size(), 2u);
    EXPECT_EQ(m_asked[1].strCaption, QStringLiteral("Save picture"));
    EXPECT_TRUE(m_asked[1].strSuggested.startsWith(m_dir.path() + QStringLiteral("/vemra2-")));
    EXPECT_TRUE(m_asked[1].strSuggested.endsWith(QStringLiteral(".png")));

    QGuiApplication::clipboard()->clear();
    QTest::keyClick(Ctl(D::IDC_STOP), Qt::Key_C, Qt::ControlModifier);
    EXPECT_FALSE(QGuiApplication::clipboard()->image().isNull());

    ClickStop();
    for (QAction* pAction : actions)
        EXPECT_FALSE(pAction->isEnabled()) << pAction->text().toStdString();
}

// Every row is the channel's own bin: its frequency, its power as held, and
// its level on the grid's scale; the tone's bin is the peak row.
TEST_F(ExportTest, TheRowsAreTheChannelsArraysOnTheGridsScale) {
    StartWithTone(true);
    Spin(D::IDC_SPIN_OFFSET_RIGHT)->setValue(120);
    WaitForPasses(3);
    const SCsv csv = SCsv::Read(SaveCsv());
    ASSERT_EQ(csv.records.size(), 1 + 4096 / 2 + 1);
    EXPECT_TRUE(csv.bCrLf);
    EXPECT_EQ(csv.records[0], QStringList({"Frequency (Hz)", "Left level (dB)", "Left power",
                                           "Right level (dB)", "Right power"}));

    const CCaptureEngine& engine = *Dlg().Engine();
    auto lockLeft = engine.m_chanLeft.LockArrays();
    auto lockRight = engine.m_chanRight.LockArrays();
    int nPeakRow = 0;
    for (int k = 0; k <= 2048; ++k) {
        const QStringList& row = csv.records[k + 1];
        ASSERT_EQ(row.size(), 5) << k;
        EXPECT_DOUBLE_EQ(row[0].toDouble(), k * 44100.0 / 4096) << k;
        // The spectrum stands still: the file holds exactly what the channels hold.
        ASSERT_EQ(row[2].toDouble(), engine.m_chanLeft.m_pPower[k]) << k;
        ASSERT_EQ(row[4].toDouble(), engine.m_chanRight.m_pPower[k]) << k;
        EXPECT_NEAR(row[1].toDouble(), GridLevelDb(engine.m_chanLeft.m_pPower[k], 100, 100), 5e-4);
        EXPECT_NEAR(row[3].toDouble(), GridLevelDb(engine.m_chanRight.m_pPower[k], 120, 100), 5e-4);
        if (row[2].toDouble() > csv.records[nPeakRow + 1][2].toDouble())
            nPeakRow = k;
    }
    EXPECT_EQ(nPeakRow, kToneBin);
    // The right tone is a quarter of the left: 12 dB less, lifted 20 dB by its offset.
    const double dLeft = csv.records[kToneBin + 1][1].toDouble();
    const double dRight = csv.records[kToneBin + 1][3].toDouble();
    EXPECT_NEAR(dRight - dLeft, 20 - 20 * std::log10(4.0), 0.1);
}

// The held level is what Hold shows, the maximum since it was switched on;
// with Hold off the channels' hold arrays are left over from before, and the
// file has no hold columns at all.
TEST_F(ExportTest, TheHoldColumnsAreWrittenOnlyWhileHoldIsOn) {
    StartWithTone(true);
    Click(Check(D::IDC_CHECK_HOLD));
    WaitForPasses(3);
    // The tones fall to a quarter: the levels follow them, the held levels
    // stay, each channel's its own (the right tone 12 dB under the left).
    PlayTone(3000, 750);
    WaitForPasses(3);
    const SCsv on = SCsv::Read(SaveCsv());
    EXPECT_EQ(on.records.value(0),
              QStringList({"Frequency (Hz)", "Left level (dB)", "Left hold (dB)", "Left power",
                           "Right level (dB)", "Right hold (dB)", "Right power"}));
    const QStringList tone = on.records.value(kToneBin + 1);
    ASSERT_EQ(tone.size(), 7);
    const double dFall = 20 * std::log10(4.0);
    EXPECT_NEAR(tone[2].toDouble() - tone[1].toDouble(), dFall, 0.1);
    EXPECT_NEAR(tone[5].toDouble() - tone[4].toDouble(), dFall, 0.1);
    EXPECT_NEAR(tone[2].toDouble() - tone[5].toDouble(), dFall, 0.1);

    Click(Check(D::IDC_CHECK_HOLD));
    const SCsv off = SCsv::Read(SaveCsv());
    EXPECT_EQ(off.records.value(0), QStringList({"Frequency (Hz)", "Left level (dB)", "Left power",
                                                 "Right level (dB)", "Right power"}));
    EXPECT_NEAR(off.records.value(kToneBin + 1).value(1).toDouble(), tone[1].toDouble(), 0.01);
    EXPECT_NEAR(off.records.value(kToneBin + 1).value(3).toDouble(), tone[4].toDouble(), 0.01);
}

TEST_F(ExportTest, TheHeaderSaysWhatWasMeasuredAndHow) {
    StartWithTone(false);
    Click(Check(D::IDC_CHECK_HOLD));
    Click(Check(D::IDC_CHECK_PEAKS));
    const SCsv csv = SCsv::Read(SaveCsv());
    ASSERT_EQ(csv.comments.size(), 14);
    EXPECT_TRUE(csv.comments[0].startsWith(QStringLiteral("Vemra-2 ")));
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d([+-]\d\d:\d\d|Z)$)"))
            .match(csv.Comment(QStringLiteral("Date")))
            .hasMatch())
        << csv.Comment(QStringLiteral("Date")).toStdString();
    EXPECT_EQ(csv.Comment(QStringLiteral("Device")), QStringLiteral("Scripted device"));
    EXPECT_EQ(csv.Comment(QStringLiteral("Sample rate (Hz)")), QStringLiteral("44100"));
    EXPECT_EQ(csv.Comment(QStringLiteral("Transform size")), QStringLiteral("4096"));
    EXPECT_EQ(csv.Comment(QStringLiteral("Window function")), QStringLiteral("Hanning"));
    EXPECT_EQ(csv.Comment(QStringLiteral("Inertia")), QStringLiteral("1"));
    EXPECT_EQ(csv.Comment(QStringLiteral("Length (ms)")), QStringLiteral("93"));
    EXPECT_EQ(csv.Comment(QStringLiteral("Pks")), QStringLiteral("on"));
    EXPECT_EQ(csv.Comment(QStringLiteral("Pink 2 Flat")), QStringLiteral("off"));
    EXPECT_EQ(csv.Comment(QStringLiteral("Hold")), QStringLiteral("on"));
    EXPECT_EQ(csv.Comment(QStringLiteral("Stereo")), QStringLiteral("off"));
    EXPECT_EQ(csv.Comment(QStringLiteral("Offset")), QStringLiteral("100"));
    EXPECT_EQ(csv.Comment(QStringLiteral("Y-scale")), QStringLiteral("100"));
    EXPECT_EQ(csv.records[0].size(), 4);
}

// A device's name comes from the sound server, and a Bluetooth device picks
// its own. Whatever it holds, a reader that splits at commas, at semicolons
// (spreadsheets in many European locales) or at tabs takes each '#' line as
// one cell, and no cell but a number starts as a formula would.
TEST(SpectrumCsv, AnyDeviceNameGivesOneCellPerCommentLineToEveryReader) {
    QTemporaryDir dir;
    const QString strPath = dir.filePath(QStringLiteral("device.csv"));
    SSpectrumSnapshot s;
    s.strDevice = QStringLiteral("Mic,=HYPERLINK(1),\"A\"\r\t@x;+1\u2028-2\n=3");
    s.nFftSize = 16;
    s.nYScale = 100;
    s.leftPower.assign(9, 1e6);
    const QByteArray data = CSpectrumCsv::Format(s);
    QString strError;
    ASSERT_TRUE(WriteFileAtomically(
        strPath, [&data](QIODevice& file) { return file.write(data) == data.size(); }, &strError));
    for (const char cDelimiter : {',', ';', '\t'}) {
        SCOPED_TRACE(int(cDelimiter));
        const QList<QStringList> records = ReadStrictly(strPath, cDelimiter);
        ASSERT_EQ(records.size(), 14 + 1 + 9);
        EXPECT_EQ(records[2].value(0).toStdString(), "# Device: Mic =HYPERLINK(1) 'A' @x +1 -2 =3");
        for (const QStringList& comment : records.mid(0, 14))
            EXPECT_TRUE(comment.size() == 1 && comment[0].startsWith(u'#'))
                << comment.join(u'|').toStdString();
        for (const QStringList& record : records)
            for (const QString& cell : record) {
                bool bNumber = false;
                cell.toDouble(&bNumber);
                const bool bFormula = !cell.isEmpty() && QStringLiteral("=+-@").contains(cell[0]);
                EXPECT_TRUE(bNumber || !bFormula) << cell.toStdString();
            }
        EXPECT_TRUE(records[14].value(0).startsWith(QStringLiteral("Frequency (Hz)")));
    }
}

// A desktop whose locale writes decimal commas still gets decimal points.
TEST_F(ExportTest, ADecimalCommaLocaleStillWritesPoints) {
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    StartWithTone(false);
    const SCsv csv = SCsv::Read(SaveCsv());
    QLocale::setDefault(before);
    ASSERT_GT(csv.records.size(), 100);
    for (const QStringList& row : csv.records.mid(1)) {
        ASSERT_EQ(row.size(), 3) << row.join(u'|').toStdString();
        bool bOk = false;
        row[1].toDouble(&bOk);
        ASSERT_TRUE(bOk) << row[1].toStdString();
    }
    EXPECT_TRUE(csv.records[20][0].contains(u'.'));
}

// Where nothing can be written, the user is told why and no file appears.
TEST_F(ExportTest, AFolderThatCannotBeWrittenGivesTheReasonAndNoFile) {
    // Root writes anywhere a plain folder allows; /proc takes no files at all.
    QTemporaryDir readOnly;
    const QString strFolder = geteuid() == 0 ? QStringLiteral("/proc") : readOnly.path();
    if (geteuid() != 0)
        QFile::setPermissions(strFolder, QFile::ReadOwner | QFile::ExeOwner);
    StartWithTone(false);
    m_strAnswer = strFolder + QStringLiteral("/spectrum.csv");
    QTest::keyClick(Ctl(D::IDC_STOP), Qt::Key_S, Qt::ControlModifier);
    ASSERT_EQ(m_prompts.size(), 1u);
    EXPECT_TRUE(m_prompts[0].strText.startsWith(
        QStringLiteral("Sorry!\nBut I couldn't save the spectrum to ") + m_strAnswer))
        << m_prompts[0].strText.toStdString();
    EXPECT_GT(m_prompts[0].strText.split(u'\n').value(2).size(), 3);
    EXPECT_FALSE(QFile::exists(m_strAnswer));
    EXPECT_TRUE(QDir(strFolder)
                    .entryList({QStringLiteral("spectrum.csv*")}, QDir::Files | QDir::Hidden)
                    .isEmpty());
    QFile::setPermissions(readOnly.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// The picture saved is the picture shown, pixel for pixel.
TEST_F(ExportTest, TheSavedPictureIsThePictureShown) {
    StartWithTone(false);
    // While the view says it draws its scale, no frame replaces the one shown.
    Dlg().View()->m_bScaleBusy = 1;
    QTest::qWait(100);
    m_strAnswer = m_dir.filePath(QStringLiteral("picture.png"));
    const QImage shown = Dlg().View()->FrontImage();
    Dlg().Export().SavePictureAction()->trigger();
    const QImage saved(m_strAnswer);
    ASSERT_FALSE(saved.isNull());
    EXPECT_EQ(saved.size(), shown.size());
    EXPECT_EQ(saved.convertToFormat(QImage::Format_RGB32),
              shown.convertToFormat(QImage::Format_RGB32));
    Dlg().Export().CopyPictureAction()->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32),
              shown.convertToFormat(QImage::Format_RGB32));
    Dlg().View()->m_bScaleBusy = 0;
}

// The built-in signal end to end: its left tone is the peak row. With
// VEMRA_TEST_SCREENSHOTS naming a folder, the file is kept there to look at.
TEST_F(ExportTest, TheBuiltInSignalsToneIsItsPeakRow) {
    ChooseSetup(kBuiltIn, "44100 Hz", "4096");
    ClickStart();
    ASSERT_NE(Dlg().Engine(), nullptr);
    QTest::qWait(1500);
    const double dToneHz = Dlg().Engine()->m_chanLeft.m_dPeakHz.load();
    const SCsv csv = SCsv::Read(SaveCsv());
    ASSERT_EQ(csv.records.size(), 1 + 2049);
    EXPECT_EQ(csv.Comment(QStringLiteral("Device")), QStringLiteral("Test signal (built-in)"));
    int nPeak = 1;
    for (int k = 1; k <= 2048; ++k)
        if (csv.records[k + 1][2].toDouble() > csv.records[nPeak + 1][2].toDouble())
            nPeak = k;
    EXPECT_NEAR(csv.records[nPeak + 1][0].toDouble(), dToneHz, 44100.0 / 4096);
    const QString strKeep = qEnvironmentVariable("VEMRA_TEST_SCREENSHOTS");
    if (!strKeep.isEmpty())
        QFile::copy(m_strAnswer, strKeep + QStringLiteral("/built-in-signal.csv"));
    // The plot says which signal it shows, and only for this one.
    EXPECT_TRUE(Dlg().View()->m_bBuiltInSignal);
    ClickStop();
    EXPECT_FALSE(Dlg().View()->m_bBuiltInSignal);
    StartWithTone(false);
    EXPECT_FALSE(Dlg().View()->m_bBuiltInSignal);
}

// ---------------------------------------------------------------------------
// Comparing with a reference

namespace {

class ReferenceTest : public ExportTest {
protected:
    // The picture shown once a few frames of the present state have come.
    QImage Shown() {
        WaitForPasses(2);
        QTest::qWait(60);
        return Dlg().View()->FrontImage().convertToFormat(QImage::Format_RGB32);
    }
    static bool IsReference(QRgb px) {
        const COLORREF cr = CSpectrumView::kReferenceColour;
        return qRed(px) == GetRValue(cr) && qGreen(px) == GetGValue(cr) &&
               qBlue(px) == GetBValue(cr);
    }
    // Per column, the topmost row of the reference's line, or -1.
    static std::vector<int> LineRows(const QImage& img) {
        std::vector<int> rows(size_t(img.width()), -1);
        for (int x = 0; x < img.width(); ++x)
            for (int y = 0; y < img.height() && rows[size_t(x)] < 0; ++y)
                if (IsReference(img.pixel(x, y)))
                    rows[size_t(x)] = y;
        return rows;
    }
    // The tallest bar: its first and last column and its top row, found by
    // the outline of the left channel's bars.
    struct SBar {
        int l = -1, r = -1, t = -1;
    };
    static SBar PeakBar(const QImage& img, int nPlotBottom) {
        const QRgb outline = qRgb(30, 30, 130);
        SBar bar;
        for (int y = 0; y < nPlotBottom && bar.t < 0; ++y)
            for (int x = 28; x < img.width(); ++x)
                if (img.pixel(x, y) == outline) {
                    bar.t = y;
                    bar.l = x;
                    while (x + 1 < img.width() && img.pixel(x + 1, y) == outline)
                        ++x;
                    bar.r = x;
                    break;
                }
        return bar;
    }
    void Load(const QString& strPath) {
        m_strOpen = strPath;
        QTest::keyClick(Ctl(D::IDC_STOP), Qt::Key_O, Qt::ControlModifier);
    }
    void Keep() { QTest::keyClick(Ctl(D::IDC_STOP), Qt::Key_R, Qt::ControlModifier); }
    // From a file saved once the present settings have taken hold: the
    // tone's level, at its peak row, less the reference's level there
    // (printed, with what was measured).
    double ReferenceBelowTone(const std::string& strWhat) {
        WaitForPasses(3);
        const SCsv csv = SCsv::Read(SaveCsv());
        const QStringList header = csv.records.value(0);
        const qsizetype nPower = header.indexOf(QStringLiteral("Left power"));
        const qsizetype nReference = header.indexOf(QStringLiteral("Reference level (dB)"));
        EXPECT_TRUE(nPower > 0 && nReference > 0) << header.join(u',').toStdString();
        QStringList peak = csv.records.value(1);
        for (const QStringList& row : csv.records.mid(1))
            if (row.value(nPower).toDouble() > peak.value(nPower).toDouble())
                peak = row;
        const double dBelow = peak.value(1).toDouble() - peak.value(nReference).toDouble();
        std::printf("the tone's bar less its reference, %s: %.3f dB\n", strWhat.c_str(), dBelow);
        return dBelow;
    }
};

} // namespace

// Kept from a steady tone, the line passes through the top of every bar in
// the bar's middle; when the tone falls, the bars fall and the line stays.
TEST_F(ReferenceTest, AKeptSpectrumIsDrawnThroughTheBarsAndStaysWhenTheyFall) {
    QStringList texts;
    for (QAction* pAction : Dlg().HelpButton()->menu()->actions())
        texts << (pAction->isSeparator() ? QStringLiteral("-") : pAction->text());
    EXPECT_EQ(texts.mid(4, 3), QStringList({QStringLiteral("Keep as reference"),
                                            QStringLiteral("Load reference\u2026"),
                                            QStringLiteral("Clear reference")}));
    EXPECT_FALSE(Dlg().Reference().KeepAction()->isEnabled());

    StartWithTone(false);
    const int nPlotBottom = Dlg().View()->m_nPlotBottom;
    const SBar bar = PeakBar(Shown(), nPlotBottom);
    ASSERT_GE(bar.t, 0);
    QTest::keyClick(Ctl(D::IDC_STOP), Qt::Key_R, Qt::ControlModifier);
    ASSERT_NE(Dlg().Reference().Reference(), nullptr);
    QImage img = Shown();
    std::vector<int> rows = LineRows(img);
    EXPECT_EQ(rows[size_t((bar.l + bar.r + 1) / 2)], bar.t);
    // Never below the plot's floor.
    for (int y = nPlotBottom; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            ASSERT_FALSE(IsReference(img.pixel(x, y))) << x << "," << y;

    PlayTone(3000, 750); // 12 dB less
    img = Shown();
    const SBar fallen = PeakBar(img, nPlotBottom);
    EXPECT_GT(fallen.t, bar.t + 10);
    EXPECT_EQ(LineRows(img)[size_t((bar.l + bar.r + 1) / 2)], bar.t);
    SaveShot(&Dlg(), "reference");

    QTest::keyClick(Ctl(D::IDC_STOP), Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(Dlg().Reference().Reference(), nullptr);
    rows = LineRows(Shown());
    EXPECT_EQ(std::count(rows.begin(), rows.end(), -1), std::ssize(rows));
}

// In a level unit the reference takes the unit, weighting and all, as the
// bars do: the kept tone's line still lies on its bar.
TEST_F(ReferenceTest, InALevelUnitTheLineStillLiesOnItsBars) {
    StartWithTone(false);
    Keep();
    ASSERT_NE(Dlg().Reference().Reference(), nullptr);
    Dlg().Levels().UnitAction(ELevelUnit::Dbfs)->trigger();
    Dlg().Levels().WeightingAction(EWeighting::A)->trigger();
    for (int nOffset : {100, 87}) {
        SCOPED_TRACE(nOffset);
        Spin(D::IDC_SPIN_OFFSET)->setValue(nOffset);
        const QImage img = Shown();
        const SBar bar = PeakBar(img, Dlg().View()->m_nPlotBottom);
        ASSERT_GE(bar.t, 0);
        // The line's highest point, at the bar's middle (a narrow bar's
        // point may stand a column beside it), is the bar's top.
        const std::vector<int> rows = LineRows(img);
        int nHighest = img.height();
        for (int x = bar.l - 1; x <= bar.r + 1; ++x)
            if (rows[size_t(x)] >= 0)
                nHighest = std::min(nHighest, rows[size_t(x)]);
        EXPECT_EQ(nHighest, bar.t);
    }
}

// A reference is held in a level no setting changes: a tone kept at one
// transform size lies on the same tone's bars at any other, with "Pink 2
// Flat" either way, with another window and with another length.
TEST_F(ReferenceTest, AToneKeptAtOneSettingLiesOnItsBarsAtEveryOther) {
    StartWithTone(false);
    Keep();
    EXPECT_NEAR(ReferenceBelowTone("kept at 4096"), 0.0, 0.01);
    ClickStop();
    for (const char* pszSize : {"16384", "1024"}) {
        SCOPED_TRACE(pszSize);
        StartWithTone(false, "44100 Hz", pszSize);
        EXPECT_NEAR(ReferenceBelowTone(std::string("at ") + pszSize), 0.0, 1.0);
        Click(Check(D::IDC_CHECK_PINK_TO_FLAT));
        EXPECT_NEAR(ReferenceBelowTone(std::string("at ") + pszSize + " with Pink 2 Flat"), 0.0,
                    1.0);
        Click(Check(D::IDC_CHECK_PINK_TO_FLAT));
        ClickStop();
    }
    StartWithTone(false, "44100 Hz", "16384");
    QTest::keyClick(List(D::IDC_LIST_WINDOW), Qt::Key_Down);
    ASSERT_EQ(List(D::IDC_LIST_WINDOW)->currentText(), QStringLiteral("Hamming"));
    EXPECT_NEAR(ReferenceBelowTone("at 16384, Hamming"), 0.0, 1.0);
    // A new length takes hold with the next cycle's windows.
    Spin(D::IDC_SPIN_LENGTH)->setValue(50);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Dlg().Engine()->m_chanLeft.m_nWindowLength.load() == 50 * 44100 / 1000; },
        3000));
    EXPECT_NEAR(ReferenceBelowTone("at 16384, Hamming, 50 ms"), 0.0, 1.0);
}

// A file saved at 16384 points with "Pink 2 Flat" on, loaded into a run at
// 4096 without it, lies on the same tone's bars: its powers are read with
// the size, window, length and weighting its '#' lines name, and its finer
// points are combined over each bin without losing the tone's peak. It is
// loaded as a spreadsheet saves it back as "CSV UTF-8": with a byte-order
// mark, every line as many cells as the header, the header's cells quoted.
TEST_F(ReferenceTest, AFileSavedAtOneSizeLiesOnItsBarsAtAnother) {
    StartWithTone(false, "44100 Hz", "16384");
    Click(Check(D::IDC_CHECK_PINK_TO_FLAT));
    WaitForPasses(3);
    QFile saved(SaveCsv(QStringLiteral("fine.csv")));
    Click(Check(D::IDC_CHECK_PINK_TO_FLAT));
    ClickStop();
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    QByteArray resaved = "\xEF\xBB\xBF";
    for (QByteArray line : saved.readAll().split('\n')) {
        if (line.startsWith('#'))
            line.insert(line.indexOf('\r'), ",,");
        else if (line.startsWith("Frequency"))
            line = '"' + line.replace(",", "\",\"").replace("\r", "\"\r");
        resaved += line + '\n';
    }
    QFile spreadsheet(m_dir.filePath(QStringLiteral("spreadsheet.csv")));
    ASSERT_TRUE(spreadsheet.open(QIODevice::WriteOnly) && spreadsheet.write(resaved) > 0);
    spreadsheet.close();
    StartWithTone(false);
    Load(spreadsheet.fileName());
    ASSERT_TRUE(m_prompts.empty()) << m_prompts[0].strText.toStdString();
    EXPECT_NEAR(ReferenceBelowTone("saved at 16384 with Pink 2 Flat, loaded at 4096"), 0.0, 1.0);
}

// A file saved at 22050 Hz and 8192 points, loaded into a run at 44100 Hz and
// 4096 points, draws the line the same spectrum kept in that run draws; it
// has no line, and the file no level, beyond the file's 11025 Hz.
TEST_F(ReferenceTest, AFileOfAnotherRateAndSizeDrawsTheLineTheKeptSpectrumDraws) {
    StartWithTone(false, "22050 Hz", "8192");
    QTest::keyClick(Ctl(D::IDC_STOP), Qt::Key_R, Qt::ControlModifier);
    const QString strSaved = SaveCsv(QStringLiteral("reference.csv"));
    ClickStop();

    StartWithTone(false);
    const std::vector<int> kept = LineRows(Shown());
    QTest::keyClick(Ctl(D::IDC_STOP), Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier);
    Load(strSaved);
    ASSERT_TRUE(m_prompts.empty()) << m_prompts[0].strText.toStdString();
    const std::vector<int> loaded = LineRows(Shown());
    int nDrawn = 0;
    for (size_t x = 0; x < kept.size(); ++x) {
        ASSERT_EQ(kept[x] < 0, loaded[x] < 0) << x;
        EXPECT_LE(std::abs(kept[x] - loaded[x]), 1) << x;
        int nHz = 0;
        if (loaded[x] >= 0 && Dlg().View()->FrequencyAt(int(x), &nHz)) {
            EXPECT_LE(nHz, 11025 + 2 * 44100 / 4096) << x;
            ++nDrawn;
        }
    }
    EXPECT_GT(nDrawn, 100);

    const SCsv csv = SCsv::Read(SaveCsv());
    EXPECT_EQ(csv.Comment(QStringLiteral("Reference")), QStringLiteral("reference.csv"));
    ASSERT_EQ(csv.records.value(0).last(), QStringLiteral("Reference level (dB)"));
    EXPECT_EQ(csv.records.value(1 + 2048).last(), QString()); // 22050 Hz: beyond the file
    EXPECT_FALSE(csv.records.value(1 + 1000).last().isEmpty());
}

// The reference column is on the grid's scale, like the level columns: kept
// from a steady tone, it is the level column again.
TEST_F(ReferenceTest, TheFileGetsTheReferencesLevelsAndWhereItCameFrom) {
    StartWithTone(false);
    QTest::keyClick(Ctl(D::IDC_STOP), Qt::Key_R, Qt::ControlModifier);
    Spin(D::IDC_SPIN_OFFSET)->setValue(130);
    WaitForPasses(2);
    const SCsv csv = SCsv::Read(SaveCsv());
    EXPECT_TRUE(csv.Comment(QStringLiteral("Reference")).startsWith(QStringLiteral("kept at ")));
    ASSERT_EQ(csv.records.value(0), QStringList({"Frequency (Hz)", "Left level (dB)", "Left power",
                                                 "Reference level (dB)"}));
    for (int k = 0; k <= 2048; ++k)
        ASSERT_EQ(csv.records[k + 1][3], csv.records[k + 1][1]) << k;
}

// In stereo the reference belongs to the left channel: on the picture and in
// the file it stands at the left's levels and offset, whatever the right's.
TEST_F(ReferenceTest, InStereoTheLineIsTheLeftChannelsAtItsOffset) {
    StartWithTone(true);
    Spin(D::IDC_SPIN_OFFSET_RIGHT)->setValue(70); // the right bars well under the left
    Keep();
    Spin(D::IDC_SPIN_OFFSET)->setValue(120);
    const QImage img = Shown();
    const SBar bar = PeakBar(img, Dlg().View()->m_nPlotBottom);
    ASSERT_GE(bar.t, 0);
    // The line's peak is the bar's top (its middle column may cover the
    // bar's right outline).
    const std::vector<int> rows = LineRows(img);
    EXPECT_EQ(*std::min_element(rows.begin() + bar.l - 2, rows.begin() + bar.r + 3), bar.t);
    const SCsv csv = SCsv::Read(SaveCsv());
    ASSERT_EQ(csv.records.value(0).value(5), QStringLiteral("Reference level (dB)"));
    for (int k = 0; k <= 2048; ++k)
        ASSERT_EQ(csv.records[k + 1][5], csv.records[k + 1][1]) << k;
}

// A file that is not a saved spectrum leaves the reference shown as it was,
// and the message says why and where reading stopped.
TEST_F(ReferenceTest, AFileThatIsNoSavedSpectrumChangesNothingAndSaysWhy) {
    StartWithTone(false);
    QTest::keyClick(Ctl(D::IDC_STOP), Qt::Key_R, Qt::ControlModifier);
    const auto pKept = Dlg().Reference().Reference();
    ASSERT_NE(pKept, nullptr);
    // What a file needs above its header to say how its powers were measured.
    const QByteArray measured = "# Vemra-2\r\n# Sample rate (Hz): 44100\r\n# Transform size: "
                                "4096\r\n# Window function: Hanning\r\n# Length (ms): 93\r\n";
    const QByteArray header = measured + "# Pink 2 Flat: off\r\n"
                                         "Frequency (Hz),Left level (dB),Left power\r\n";
    const struct {
        const char* pszName;
        QByteArray data;
        const char* pszSaid;
    } files[] = {
        {"no-power.csv", "Frequency (Hz),Right power\r\n0,1\r\n10,2\r\n",
         "line 1: there is no \"Left power\" column"},
        {"formula.csv", header + "0,-100,1\r\n10,=1+1,2\r\n", "line 9: "},
        {"short-row.csv", header + "0,-100,1\r\n10,2\r\n", "line 9: this is not a row"},
        {"one-row.csv", header + "0,-100,1\r\n", "line 8: a spectrum needs at least two rows"},
        {"falling.csv", header + "10,-100,1\r\n5,-100,2\r\n", "line 9: the frequency"},
        {"unmeasured.csv", measured + "Frequency (Hz),Left power\r\n0,1\r\n10,2\r\n",
         "line 6: there is no \"# Pink 2 Flat\" line"},
        {"unknown-window.csv",
         QByteArray(header).replace("Hanning", "Blackman") + "0,-100,1\r\n10,-100,2\r\n",
         "line 4: \"Blackman\" is not a window function"},
        {"binary.csv", QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), "line 1: this is not text"},
        {"empty.csv", "", "line 1: the file is empty"},
    };
    for (const auto& file : files) {
        QFile out(m_dir.filePath(QString::fromUtf8(file.pszName)));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(file.data);
        out.close();
        m_prompts.clear();
        Load(out.fileName());
        ASSERT_EQ(m_prompts.size(), 1u) << file.pszName;
        EXPECT_TRUE(m_prompts[0].strText.startsWith(
            QStringLiteral("Sorry!\nBut I couldn't load a reference from ") + out.fileName()));
        EXPECT_TRUE(m_prompts[0].strText.contains(QString::fromUtf8(file.pszSaid)))
            << m_prompts[0].strText.toStdString();
        EXPECT_EQ(Dlg().Reference().Reference(), pKept) << file.pszName;
    }
    // Too large to be one, and what cannot be read at all: a folder, and a
    // file that refuses every read (even root's).
    QFile huge(m_dir.filePath(QStringLiteral("huge.csv")));
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly) && huge.resize(65 * 1024 * 1024));
    huge.close();
    for (const QString& strPath :
         {huge.fileName(), m_dir.path(), QStringLiteral("/proc/self/mem")}) {
        m_prompts.clear();
        Load(strPath);
        ASSERT_EQ(m_prompts.size(), 1u) << strPath.toStdString();
        EXPECT_GT(m_prompts[0].strText.split(u'\n').value(2).size(), 3)
            << m_prompts[0].strText.toStdString();
        EXPECT_EQ(Dlg().Reference().Reference(), pKept) << strPath.toStdString();
    }
    EXPECT_TRUE(m_prompts[0].strText.contains(QStringLiteral("/proc/self/mem")));

    // A pipe with no writer, a socket and a device are refused at once, never
    // waited on.
    const QString strFifo = m_dir.filePath(QStringLiteral("pipe.csv"));
    ASSERT_EQ(mkfifo(QFile::encodeName(strFifo).constData(), 0600), 0);
    const QString strSocket = m_dir.filePath(QStringLiteral("socket.csv"));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, QFile::encodeName(strSocket).constData(),
                 sizeof address.sun_path - 1);
    const int fdSocket = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(bind(fdSocket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    for (const QString& strPath : {strFifo, strSocket, QStringLiteral("/dev/zero")}) {
        m_prompts.clear();
        Load(strPath);
        ASSERT_EQ(m_prompts.size(), 1u) << strPath.toStdString();
        EXPECT_TRUE(m_prompts[0].strText.contains(QStringLiteral("not a plain file")))
            << m_prompts[0].strText.toStdString();
        EXPECT_EQ(Dlg().Reference().Reference(), pKept) << strPath.toStdString();
    }
    close(fdSocket);
}
