#include "app/ReferenceFile.h"

#include <QByteArrayView>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QStringDecoder>

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>
#include <vector>

namespace {

const QString kFrequencyColumn = QStringLiteral("Frequency (Hz)");
const QString kPowerColumn = QStringLiteral("Left power");

QString StoppedAt(int nLine, const QString& strWhy) {
    return QStringLiteral("Reading stopped at line %1: %2").arg(nLine).arg(strWhy);
}

// A header cell, with the quotes a spreadsheet may have put around it.
QString HeaderCell(QByteArrayView cell) {
    QString str = QString::fromUtf8(cell).trimmed();
    if (str.size() >= 2 && str.startsWith(u'"') && str.endsWith(u'"'))
        str = str.mid(1, str.size() - 2);
    return str;
}

std::optional<double> Number(QByteArrayView cell) {
    bool bOk = false;
    const double d = cell.trimmed().toDouble(&bOk);
    if (!bOk || !std::isfinite(d))
        return std::nullopt;
    return d;
}

// Walks the file's lines, knowing the number of each.
class CLineReader {
public:
    explicit CLineReader(const QByteArray& data) : m_data(data) {}

    bool Next(QByteArrayView* pLine) {
        if (m_nPos >= m_data.size())
            return false;
        qsizetype nEnd = m_data.indexOf('\n', m_nPos);
        if (nEnd < 0)
            nEnd = m_data.size();
        QByteArrayView line(m_data.constData() + m_nPos, nEnd - m_nPos);
        if (line.endsWith('\r'))
            line.chop(1);
        m_nPos = nEnd + 1;
        ++m_nLine;
        *pLine = line;
        return true;
    }
    int Line() const { return m_nLine; }

private:
    const QByteArray& m_data;
    qsizetype m_nPos = 0;
    int m_nLine = 0;
};

// The text of a file this program wrote is UTF-8 without control bytes
// other than line ends: the first line that is not, or 0.
int FirstLineNotText(const QByteArray& data) {
    CLineReader reader(data);
    QByteArrayView line;
    while (reader.Next(&line)) {
        QStringDecoder decoder(QStringDecoder::Utf8);
        const QString str = decoder.decode(line);
        const bool bControl = std::any_of(str.begin(), str.end(),
                                          [](QChar c) { return c.unicode() < 0x20 && c != u'\t'; });
        if (decoder.hasError() || bControl)
            return reader.Line();
    }
    return 0;
}

} // namespace

bool CReferenceFile::Load(const QString& strPath, CReferenceSpectrum* pReference, QString* pError) {
    const QFileInfo info(strPath);
    if (info.isDir()) {
        *pError = QStringLiteral("It is a folder, not a file.");
        return false;
    }
    if (info.exists() && info.size() > kMaxBytes) {
        *pError = QStringLiteral("The file is larger than 64 MB; a saved spectrum is far smaller.");
        return false;
    }
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly)) {
        *pError = file.errorString();
        return false;
    }
    // The size may have changed since it was looked at.
    const QByteArray data = file.read(kMaxBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        *pError = file.errorString();
        return false;
    }
    if (data.size() > kMaxBytes) {
        *pError = QStringLiteral("The file is larger than 64 MB; a saved spectrum is far smaller.");
        return false;
    }
    return Parse(data, info.fileName(), pReference, pError);
}

bool CReferenceFile::Parse(const QByteArray& data, const QString& strSource,
                           CReferenceSpectrum* pReference, QString* pError) {
    if (data.trimmed().isEmpty()) {
        *pError = StoppedAt(1, QStringLiteral("the file is empty."));
        return false;
    }
    if (const int nLine = FirstLineNotText(data); nLine > 0) {
        *pError = StoppedAt(nLine, QStringLiteral("this is not text; it is not a saved spectrum."));
        return false;
    }

    CLineReader reader(data);
    QByteArrayView line;
    qsizetype nColumns = 0;
    qsizetype nFrequency = -1;
    qsizetype nPower = -1;
    std::vector<CReferenceSpectrum::SPoint> points;
    while (reader.Next(&line)) {
        if (line.trimmed().isEmpty() || line.startsWith('#'))
            continue;
        const QList<QByteArray> cells = line.toByteArray().split(',');
        if (nColumns == 0) {
            for (qsizetype i = 0; i < cells.size(); ++i) {
                const QString strName = HeaderCell(cells[i]);
                if (strName == kFrequencyColumn)
                    nFrequency = i;
                else if (strName == kPowerColumn)
                    nPower = i;
            }
            if (nFrequency < 0 || nPower < 0) {
                *pError = StoppedAt(reader.Line(),
                                    QStringLiteral("there is no \"%1\" column.")
                                        .arg(nFrequency < 0 ? kFrequencyColumn : kPowerColumn));
                return false;
            }
            nColumns = cells.size();
            continue;
        }
        std::optional<double> dHz;
        std::optional<double> dPower;
        // Other columns may stay empty where they have no value (a reference
        // beyond its frequencies), but never hold anything but a number.
        bool bNumbers = cells.size() == nColumns;
        for (qsizetype i = 0; bNumbers && i < cells.size(); ++i) {
            const std::optional<double> d = Number(cells[i]);
            bNumbers =
                d.has_value() || (i != nFrequency && i != nPower && cells[i].trimmed().isEmpty());
            if (i == nFrequency)
                dHz = d;
            else if (i == nPower)
                dPower = d;
        }
        if (!bNumbers || *dHz < 0.0 || *dPower < 0.0) {
            *pError = StoppedAt(reader.Line(),
                                QStringLiteral("this is not a row of frequency and levels."));
            return false;
        }
        if (!points.empty() && *dHz <= points.back().dHz) {
            *pError = StoppedAt(reader.Line(),
                                QStringLiteral("the frequency is not above the row before."));
            return false;
        }
        points.push_back({*dHz, *dPower});
    }
    if (nColumns == 0) {
        *pError = StoppedAt(reader.Line(),
                            QStringLiteral("there is no \"%1\" column.").arg(kPowerColumn));
        return false;
    }
    if (points.size() < 2) {
        *pError = StoppedAt(reader.Line(), QStringLiteral("a spectrum needs at least two rows."));
        return false;
    }
    *pReference = CReferenceSpectrum(std::move(points), strSource.toStdString());
    return true;
}
