// Keeping a measurement: the spectrum as CSV, the picture as PNG and on the
// clipboard, through the dialog's commands and shortcuts.

#include <QClipboard>
#include <QDeadlineTimer>
#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QMenu>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cmath>
#include <numbers>
#include <unistd.h>

#include "app/SpectrumCsv.h"
#include "tests/app/AppTestSupport.h"
#include "view/GridLevel.h"

using D = CAnalyzerDialog;

namespace {

// The file as a strict RFC 4180 reader takes it: Python's csv module with
// strict=True, which fails the test when it rejects the file. Every record
// as its list of fields; a spreadsheet of some locales splits at ';'.
QList<QStringList> ReadStrictly(const QString& strPath, char cSeparator = ',') {
    const char* pszScript =
        "import csv, json, sys\n"
        "with open(sys.argv[1], newline='', encoding='utf-8') as f:\n"
        "    json.dump(list(csv.reader(f, delimiter=sys.argv[2], strict=True)), sys.stdout)\n";
    QString strPython = QStringLiteral("/usr/bin/python3");
    if (!QFile::exists(strPython))
        strPython = QStandardPaths::findExecutable(QStringLiteral("python3"));
    QProcess python;
    python.start(strPython, {QStringLiteral("-c"), QString::fromUtf8(pszScript), strPath,
                             QString(QChar::fromLatin1(cSeparator))});
    EXPECT_TRUE(python.waitForFinished(30000)) << strPython.toStdString();
    EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    QList<QStringList> records;
    for (const QJsonValue record :
         QJsonDocument::fromJson(python.readAllStandardOutput()).array()) {
        QStringList fields;
        for (const QJsonValue field : record.toArray())
            fields << field.toString();
        records << fields;
    }
    return records;
}

// A CSV file read back: its comment records (those starting with '#') and
// the others.
struct SCsv {
    QList<QStringList> comments;
    QList<QStringList> records;
    bool bCrLf = true;

    static SCsv Read(const QString& strPath) {
        SCsv csv;
        QFile file(strPath);
        if (file.open(QIODevice::ReadOnly))
            csv.bCrLf = !QString::fromUtf8(file.readAll())
                             .contains(QRegularExpression(QStringLiteral("[^\r]\n")));
        for (const QStringList& record : ReadStrictly(strPath)) {
            if (record.value(0).startsWith(u'#'))
                csv.comments << record;
            else
                csv.records << record;
        }
        return csv;
    }
    QString Comment(const QString& strKey) const {
        const QString strStart = QStringLiteral("# ") + strKey + QStringLiteral(": ");
        for (const QStringList& c : comments)
            if (c[0].startsWith(strStart))
                return c[0].mid(strStart.size());
        return QStringLiteral("<none>");
    }
    // The column of that name in the header row, or -1.
    int Column(const QString& strName) const { return int(records.value(0).indexOf(strName)); }
};

// A cell a spreadsheet would take as a formula.
bool StartsFormula(const QString& strCell) {
    static const QRegularExpression number(QStringLiteral("^-\\.?\\d"));
    if (strCell.startsWith(u'-'))
        return !number.match(strCell).hasMatch();
    return strCell.startsWith(u'=') || strCell.startsWith(u'+') || strCell.startsWith(u'@');
}

// The bin a tone is played at, and the ring of the scripted device filled
// with it: a steady block, the same at every pass.
constexpr int kToneBin = 93;

class ExportTest : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        ASSERT_TRUE(m_dir.isValid());
        SetSaveFileHook([this](const QString& strCaption, const QString& strSuggested,
                               const QString& strFilter) {
            m_asked.push_back({strCaption, strSuggested, strFilter});
            return m_strAnswer;
        });
    }
    void TearDown() override {
        SetSaveFileHook(nullptr);
        DialogTest::TearDown();
    }

    // Runs on the scripted device with a tone in both channels, the right one
    // softer, until the spectrum stands still (inertia 1, one block).
    void StartWithTone(bool bStereo) {
        ChooseSetup(kScripted, "44100 Hz", "4096");
        ClickStart();
        ASSERT_NE(Dlg().Engine(), nullptr);
        Spin(D::IDC_SPIN_INERTIA)->setValue(1);
        if (bStereo)
            Click(Check(D::IDC_CHECK_STEREO));
        m_pRing = m_devices.pGood->LastBuffer();
        ASSERT_NE(m_pRing, nullptr);
        PlayTone(12000, 3000);
        m_pRing->SetPositions(4 * 20000, 4 * 20000);
        WaitForPasses(3);
    }
    // The tone at these amplitudes all over the ring; from frame nSoftFrom on
    // at dSoft times them.
    void PlayTone(double dLeft, double dRight, uint32_t nSoftFrom = UINT32_MAX, double dSoft = 1) {
        const double dStep = 2 * std::numbers::pi * kToneBin / 4096.0;
        auto tone = [&](uint32_t i, double dAmplitude) {
            return int16_t((i < nSoftFrom ? 1 : dSoft) * dAmplitude * std::sin(dStep * i));
        };
        m_pRing->Fill([&](uint32_t i) { return tone(i, dLeft); },
                      [&](uint32_t i) { return tone(i, dRight); });
    }
    // The pass count starts again with every cycle: each pass is waited for.
    void WaitForPasses(int nPasses) {
        for (int i = 0; i < nPasses; ++i) {
            const int nBefore = Dlg().Engine()->m_nPassCount.load();
            ASSERT_TRUE(QTest::qWaitFor(
                [&] { return Dlg().Engine()->m_nPassCount.load() != nBefore; }, 3000));
        }
    }
    QString SaveCsv(const QString& strName = QStringLiteral("spectrum.csv")) {
        m_strAnswer = m_dir.filePath(strName);
        QTest::keyClick(Ctl(D::IDC_STOP), Qt::Key_S, Qt::ControlModifier);
        return m_strAnswer;
    }

    struct SAsked {
        QString strCaption, strSuggested, strFilter;
    };
    QTemporaryDir m_dir;
    CScriptedCaptureBuffer* m_pRing = nullptr;
    QString m_strAnswer;
    std::vector<SAsked> m_asked;
};

} // namespace

TEST_F(ExportTest, TheCommandsAreInTheMenuAndWorkOnlyWhileRunning) {
    QStringList texts;
    for (QAction* pAction : Dlg().HelpButton()->menu()->actions())
        texts << (pAction->isSeparator() ? QStringLiteral("-") : pAction->text());
    EXPECT_EQ(texts.mid(0, 4), QStringList({QStringLiteral("Save spectrum as CSV\u2026"),
                                            QStringLiteral("Save picture\u2026"),
                                            QStringLiteral("Copy picture"), QStringLiteral("-")}));
    QAction* actions[] = {Dlg().SaveSpectrumAction(), Dlg().SavePictureAction(),
                          Dlg().CopyPictureAction()};
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
    // The tone falls to a quarter: the level follows it, the held level stays.
    PlayTone(3000, 750);
    WaitForPasses(3);
    const SCsv held = SCsv::Read(SaveCsv(QStringLiteral("held.csv")));
    EXPECT_EQ(held.records.value(0),
              QStringList({"Frequency (Hz)", "Left level (dB)", "Left hold (dB)", "Left power",
                           "Right level (dB)", "Right hold (dB)", "Right power"}));
    const QStringList tone = held.records.value(kToneBin + 1);
    ASSERT_EQ(tone.size(), 7);
    EXPECT_NEAR(tone[2].toDouble() - tone[1].toDouble(), 20 * std::log10(4.0), 0.1);
    EXPECT_NEAR(tone[5].toDouble() - tone[4].toDouble(), 20 * std::log10(4.0), 0.1);

    Click(Check(D::IDC_CHECK_HOLD));
    const SCsv off = SCsv::Read(SaveCsv(QStringLiteral("off.csv")));
    EXPECT_EQ(off.Comment(QStringLiteral("Hold")), QStringLiteral("off"));
    EXPECT_EQ(off.records.value(0), QStringList({"Frequency (Hz)", "Left level (dB)", "Left power",
                                                 "Right level (dB)", "Right power"}));
    EXPECT_NEAR(off.records.value(kToneBin + 1).value(1).toDouble(), tone[1].toDouble(), 0.01);
}

// Left and right of a file come from one pass while the passes go on. The
// ring's loud and soft halves both hold a right channel at a quarter of the
// left; each pass reads the half the last did not, so a snapshot that paired
// two passes would show a ratio other than 16 in power.
TEST_F(ExportTest, EverySnapshotPairsBothChannelsOfOnePass) {
    StartWithTone(true);
    PlayTone(12000, 3000, 44100, 1 / 3.0);
    const CCaptureEngine& engine = *Dlg().Engine();
    int nPassesSeen = 0;
    int nSnapshots = 0;
    double dLastLeft = 0;
    QDeadlineTimer deadline(20000);
    while (nPassesSeen < 30 && !deadline.hasExpired()) {
        const SSpectrumSnapshot s =
            CSpectrumCsv::Take(engine, Dlg().Settings(), 44100, 4096, {}, {});
        ++nSnapshots;
        ASSERT_EQ(s.rightPower.size(), s.leftPower.size());
        const double dLeft = s.leftPower[kToneBin];
        ASSERT_NEAR(dLeft / s.rightPower[kToneBin], 16.0, 0.5) << nSnapshots << " " << nPassesSeen;
        if (dLeft != dLastLeft) {
            dLastLeft = dLeft;
            const uint32_t nEnd = ++nPassesSeen % 2 ? 84000 : 40000;
            m_pRing->SetPositions(4 * nEnd, 4 * nEnd);
        }
    }
    EXPECT_EQ(nPassesSeen, 30);
}

TEST_F(ExportTest, TheHeaderSaysWhatWasMeasuredAndHow) {
    StartWithTone(false);
    Click(Check(D::IDC_CHECK_HOLD));
    Click(Check(D::IDC_CHECK_PEAKS));
    const SCsv csv = SCsv::Read(SaveCsv());
    ASSERT_EQ(csv.comments.size(), 14);
    EXPECT_TRUE(csv.comments[0][0].startsWith(QStringLiteral("# Vemra-2 ")));
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
// its own. Whatever it holds, each '#' line is one field, no cell starts a
// formula (also for readers that split at ';') and the data rows are numbers.
TEST(SpectrumCsv, AnyDeviceNameGivesOneFieldPerCommentLineAndNoFormula) {
    QTemporaryDir dir;
    const QString strPath = dir.filePath(QStringLiteral("device.csv"));
    SSpectrumSnapshot s;
    s.time = QDateTime::currentDateTime();
    s.nSampleRate = 8000;
    s.nFftSize = 16;
    s.nYScale = 100;
    s.leftPower.assign(9, 1e6);
    const QString names[] = {QStringLiteral("Mic, \"A\"\n=HYPERLINK(\"x\")"),
                             QStringLiteral("Mic;@SUM(1)\r+2,-cmd\t-3\u2028=4")};
    const QString shown[] = {QStringLiteral("Mic; 'A' =HYPERLINK('x')"),
                             QStringLiteral("Mic; @SUM(1) +2; -cmd -3 =4")};
    for (int i = 0; i < 2; ++i) {
        s.strDevice = names[i];
        ASSERT_TRUE(CSpectrumCsv::Save(strPath, CSpectrumCsv::Format(s), nullptr));
        const SCsv csv = SCsv::Read(strPath);
        EXPECT_EQ(csv.Comment(QStringLiteral("Device")).toStdString(), shown[i].toStdString());
        EXPECT_EQ(csv.comments.size(), 14);
        for (const QStringList& comment : csv.comments)
            EXPECT_EQ(comment.size(), 1) << comment.join(u'|').toStdString();
        ASSERT_EQ(csv.records.size(), 1 + 9);
        for (const QStringList& row : csv.records.mid(1)) {
            for (const QString& cell : row) {
                bool bNumber = false;
                cell.toDouble(&bNumber);
                EXPECT_TRUE(bNumber) << cell.toStdString();
            }
        }
        for (const char cSeparator : {',', ';'})
            for (const QStringList& record : ReadStrictly(strPath, cSeparator))
                for (const QString& cell : record)
                    EXPECT_FALSE(StartsFormula(cell)) << cSeparator << cell.toStdString();
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
    Dlg().SavePictureAction()->trigger();
    const QImage saved(m_strAnswer);
    ASSERT_FALSE(saved.isNull());
    EXPECT_EQ(saved.size(), shown.size());
    EXPECT_EQ(saved.convertToFormat(QImage::Format_RGB32),
              shown.convertToFormat(QImage::Format_RGB32));
    Dlg().CopyPictureAction()->trigger();
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
    const int nPower = csv.Column(QStringLiteral("Left power"));
    ASSERT_GT(nPower, 0);
    int nPeak = 1;
    for (int k = 1; k <= 2048; ++k)
        if (csv.records[k + 1][nPower].toDouble() > csv.records[nPeak + 1][nPower].toDouble())
            nPeak = k;
    EXPECT_NEAR(csv.records[nPeak + 1][0].toDouble(), dToneHz, 44100.0 / 4096);
    const QString strKeep = qEnvironmentVariable("VEMRA_TEST_SCREENSHOTS");
    if (!strKeep.isEmpty())
        QFile::copy(m_strAnswer, strKeep + QStringLiteral("/built-in-signal.csv"));
    ClickStop();
}
