#pragma once

// The fixture of the tests that keep a measurement: a run on the scripted
// device playing a tone, and the CSV file it saves read back as a person's
// spreadsheet and a strict reader take it.

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <cmath>
#include <numbers>

#include "app/SpectrumCsv.h"
#include "tests/app/AppTestSupport.h"

using D = CAnalyzerDialog;

// The file as a strict RFC 4180 reader takes it, splitting at cDelimiter:
// Python's csv module with strict=True, which fails the test when it rejects
// the file.
inline QList<QStringList> ReadStrictly(const QString& strPath, char cDelimiter = ',') {
    const char* pszScript = "import csv, json, sys\n"
                            "with open(sys.argv[1], newline='', encoding='utf-8') as f:\n"
                            "    json.dump(list(csv.reader(f, strict=True, delimiter=sys.argv[2])),"
                            " sys.stdout)\n";
    QProcess python;
    python.start(
        QStringLiteral("/usr/bin/python3"),
        {QStringLiteral("-c"), QString::fromUtf8(pszScript), strPath, QString(QChar(cDelimiter))});
    EXPECT_TRUE(python.waitForFinished(30000));
    EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    QList<QStringList> records;
    for (const QJsonValue record : QJsonDocument::fromJson(python.readAllStandardOutput()).array())
        records << record.toVariant().toStringList();
    return records;
}

// Fields of one CSV record as RFC 4180 reads them: commas separate, a quoted
// field may hold commas and quotes (doubled).
inline QStringList ReadRecord(const QString& strLine) {
    QStringList fields;
    QString field;
    bool bQuoted = false;
    for (int i = 0; i < strLine.size(); ++i) {
        const QChar c = strLine[i];
        if (bQuoted) {
            if (c == u'"' && i + 1 < strLine.size() && strLine[i + 1] == u'"')
                field += c, ++i;
            else if (c == u'"')
                bQuoted = false;
            else
                field += c;
        } else if (c == u'"') {
            bQuoted = true;
        } else if (c == u',') {
            fields << field;
            field.clear();
        } else {
            field += c;
        }
    }
    fields << field;
    return fields;
}

// A CSV file read back: its comment lines (without "# ") and its records.
struct SCsv {
    QStringList comments;
    QList<QStringList> records;
    bool bCrLf = true;

    static SCsv Read(const QString& strPath) {
        SCsv csv;
        QFile file(strPath);
        if (!file.open(QIODevice::ReadOnly))
            return csv;
        const QString text = QString::fromUtf8(file.readAll());
        const QStringList lines = text.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        csv.bCrLf = !text.contains(QRegularExpression(QStringLiteral("[^\r]\n")));
        for (const QString& line : lines) {
            if (line.startsWith(u'#'))
                csv.comments << line.mid(2);
            else
                csv.records << ReadRecord(line);
        }
        return csv;
    }
    QString Comment(const QString& strKey) const {
        for (const QString& c : comments)
            if (c.startsWith(strKey + QStringLiteral(": ")))
                return c.mid(strKey.size() + 2);
        return QStringLiteral("<none>");
    }
};

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
        SetOpenFileHook(
            [this](const QString&, const QString&, const QString&) { return m_strOpen; });
    }
    void TearDown() override {
        m_clock.stop();
        SetOpenFileHook(nullptr);
        SetSaveFileHook(nullptr);
        DialogTest::TearDown();
    }

    // Runs on the scripted device with a tone in both channels, the right one
    // softer, until the spectrum stands still (inertia 1, one block).
    void StartWithTone(bool bStereo, const char* pszRate = "44100 Hz",
                       const char* pszSize = "4096") {
        ChooseSetup(kScripted, pszRate, pszSize);
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
    void PlayTone(double dLeft, double dRight) {
        const double dStep = 2 * std::numbers::pi * kToneBin / 4096.0;
        m_pRing->Fill([&](uint32_t i) { return int16_t(dLeft * std::sin(dStep * i)); },
                      [&](uint32_t i) { return int16_t(dRight * std::sin(dStep * i)); });
    }
    // A run on the scripted device playing a sine of dDbfs at dHz (rate 44100,
    // whose two-second ring holds whole periods of 1 kHz and of 250 Hz), its
    // positions moving on as a device's do, so that each pass has new
    // samples.
    void StartWithSine(double dHz, double dDbfs, const char* pszSize = "4096") {
        ChooseSetup(kScripted, "44100 Hz", pszSize);
        ClickStart();
        ASSERT_NE(Dlg().Engine(), nullptr);
        Spin(D::IDC_SPIN_INERTIA)->setValue(1);
        m_pRing = m_devices.pGood->LastBuffer();
        ASSERT_NE(m_pRing, nullptr);
        PlaySine(dHz, dDbfs);
        QObject::connect(&m_clock, &QTimer::timeout, [this] {
            m_nPosition = (m_nPosition + 4 * 441) % (4 * 88200);
            m_pRing->SetPositions(m_nPosition, m_nPosition);
        });
        m_clock.start(10);
        WaitForPasses(3);
    }
    void PlaySine(double dHz, double dDbfs) {
        const double dAmplitude = std::min(32767.0, 32768.0 * std::pow(10.0, dDbfs / 20));
        const double dStep = 2 * std::numbers::pi * dHz / 44100;
        m_pRing->Fill(
            [&](uint32_t i) { return int16_t(std::lround(dAmplitude * std::sin(dStep * i))); },
            [](uint32_t) { return int16_t(0); });
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
    QTimer m_clock; // moves the ring's positions on while a sine plays
    uint32_t m_nPosition = 4 * 20000;
    QString m_strAnswer; // the file a save dialog answers
    QString m_strOpen;   // the file an open dialog answers
    std::vector<SAsked> m_asked;
};
