#include "app/ReferenceFile.h"

#include <QByteArrayView>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "app/ControlStrip.h"

namespace {

const QString kFrequencyColumn = QStringLiteral("Frequency (Hz)");
const QString kPowerColumn = QStringLiteral("Left power");
const QString kTooLarge =
    QStringLiteral("The file is larger than 64 MB; a saved spectrum is far smaller.");

// The '#' lines that say how the powers were measured, without which they
// cannot be compared with another run's.
const QString kRateLine = QStringLiteral("Sample rate (Hz)");
const QString kSizeLine = QStringLiteral("Transform size");
const QString kWindowLine = QStringLiteral("Window function");
const QString kLengthLine = QStringLiteral("Length (ms)");
const QString kPinkLine = QStringLiteral("Pink 2 Flat");
const QString kBandsLine = QStringLiteral("Bands");
const QString kBandFile =
    QStringLiteral("the file holds octave bands; a reference is read from a spectrum saved "
                   "with Bands off, a row per bin.");

QString StoppedAt(int nLine, const QString& strWhy) {
    return QStringLiteral("Reading stopped at line %1: %2").arg(nLine).arg(strWhy);
}

// A cell, with the quotes a spreadsheet may have put around it.
QString Unquoted(QByteArrayView cell) {
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

// A '#' line, also as a spreadsheet writes it back: in quotes, or followed
// by the empty cells of the other columns. Its key and value, if it has them.
struct SComment {
    QString strKey;
    QString strValue;
    int nLine = 0;
};

std::optional<SComment> CommentLine(QByteArrayView line, int nLine) {
    const qsizetype nComma = line.indexOf(',');
    const QString strCell = Unquoted(nComma < 0 ? line : line.first(nComma));
    if (!strCell.startsWith(u'#'))
        return std::nullopt;
    SComment comment;
    comment.nLine = nLine;
    const qsizetype nColon = strCell.indexOf(QStringLiteral(": "));
    if (nColon > 0) {
        comment.strKey = strCell.mid(1, nColon - 1).trimmed();
        comment.strValue = strCell.mid(nColon + 2).trimmed();
    }
    return comment;
}

using CommentMap = std::map<QString, SComment>;

// How the file's powers were measured, from its '#' lines; false with why.
bool ScaleOfFile(const CommentMap& comments, int nHeaderLine, SPowerScale* pScale,
                 double* pBinsPerHz, QString* pError) {
    for (const QString& strKey : {kRateLine, kSizeLine, kWindowLine, kLengthLine, kPinkLine}) {
        if (comments.count(strKey) == 0) {
            *pError = StoppedAt(nHeaderLine,
                                QStringLiteral("there is no \"# %1\" line above it, and without "
                                               "it the levels cannot be compared.")
                                    .arg(strKey));
            return false;
        }
    }
    const auto refuse = [pError](const SComment& c, const QString& strWhat) {
        *pError = StoppedAt(c.nLine, QStringLiteral("\"%1\" is not %2.").arg(c.strValue, strWhat));
        return false;
    };
    const SComment& rate = comments.at(kRateLine);
    const int nRate = rate.strValue.toInt();
    if (nRate < 1000 || nRate > 384000)
        return refuse(rate, QStringLiteral("a sample rate"));
    const SComment& size = comments.at(kSizeLine);
    const int nSize = size.strValue.toInt();
    if (nSize < 1024 || nSize > 16384 || (nSize & (nSize - 1)) != 0)
        return refuse(size, QStringLiteral("a transform size of this program"));
    const SComment& window = comments.at(kWindowLine);
    const int nType = int(CControlStrip::WindowFunctionNames().indexOf(window.strValue));
    if (nType < 0)
        return refuse(window, QStringLiteral("a window function of this program"));
    const SComment& length = comments.at(kLengthLine);
    const int nLengthMs = length.strValue.toInt();
    if (nLengthMs < 1)
        return refuse(length, QStringLiteral("a length in milliseconds"));
    const SComment& pink = comments.at(kPinkLine);
    if (pink.strValue != QStringLiteral("on") && pink.strValue != QStringLiteral("off"))
        return refuse(pink, QStringLiteral("on or off"));
    // The samples the window covered, as the run took them.
    const int nLength = int(std::clamp<long long>(1LL * nLengthMs * nRate / 1000, 1, nSize));
    *pScale = SPowerScale::OfWindow(nType, nLength, nSize, pink.strValue == QStringLiteral("on"));
    *pBinsPerHz = double(nSize) / nRate;
    return true;
}

// Opens a regular file for reading and nothing else: a pipe, a socket or a
// device would keep the window waiting, or never end. It is opened without
// waiting and looked at again once open, since the path may change meanwhile.
bool OpenRegularFile(const QString& strPath, QFile* pFile, QString* pError) {
    const QByteArray path = QFile::encodeName(strPath);
    const auto notRegular = [&](const struct stat& st) {
        *pError = S_ISDIR(st.st_mode)
                      ? QStringLiteral("It is a folder, not a file.")
                      : QStringLiteral("It is not a plain file (it is a pipe, a socket or a "
                                       "device); a saved spectrum is a plain file.");
        return false;
    };
    struct stat st {};
    if (::stat(path.constData(), &st) == 0 && !S_ISREG(st.st_mode))
        return notRegular(st);
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *pError = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return notRegular(st);
    }
    if (st.st_size > CReferenceFile::kMaxBytes) {
        ::close(fd);
        *pError = kTooLarge;
        return false;
    }
    if (!pFile->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        *pError = pFile->errorString();
        return false;
    }
    return true;
}

} // namespace

bool CReferenceFile::Load(const QString& strPath, CReferenceSpectrum* pReference, QString* pError) {
    QFile file;
    if (!OpenRegularFile(strPath, &file, pError))
        return false;
    // The size may have changed since it was looked at.
    const QByteArray data = file.read(kMaxBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        *pError = file.errorString();
        return false;
    }
    if (data.size() > kMaxBytes) {
        *pError = kTooLarge;
        return false;
    }
    return Parse(data, QFileInfo(strPath).fileName(), pReference, pError);
}

bool CReferenceFile::Parse(const QByteArray& dataRead, const QString& strSource,
                           CReferenceSpectrum* pReference, QString* pError) {
    // A spreadsheet that saves "CSV UTF-8" puts a byte-order mark first.
    const QByteArray data = dataRead.startsWith("\xEF\xBB\xBF") ? dataRead.mid(3) : dataRead;
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
    CommentMap comments;
    SPowerScale scale;
    double dBinsPerHz = 0.0;
    std::vector<CReferenceSpectrum::SPoint> points;
    while (reader.Next(&line)) {
        if (line.trimmed().isEmpty())
            continue;
        if (const std::optional<SComment> comment = CommentLine(line, reader.Line())) {
            if (nColumns == 0 && !comment->strKey.isEmpty())
                comments.emplace(comment->strKey, *comment);
            continue;
        }
        const QList<QByteArray> cells = line.toByteArray().split(',');
        if (nColumns == 0) {
            if (comments.count(kBandsLine) > 0) {
                *pError = StoppedAt(reader.Line(), kBandFile);
                return false;
            }
            for (qsizetype i = 0; i < cells.size(); ++i) {
                const QString strName = Unquoted(cells[i]);
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
            if (!ScaleOfFile(comments, reader.Line(), &scale, &dBinsPerHz, pError))
                return false;
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
        // A bin the run could hold nothing at (0 Hz with Pink 2 Flat) says nothing.
        const double dGain = scale.Gain(*dHz * dBinsPerHz);
        if (dGain > 0.0)
            points.push_back({*dHz, *dPower / dGain});
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
    *pReference = CReferenceSpectrum(std::move(points), scale.NoiseBandwidthBins() / dBinsPerHz,
                                     strSource.toStdString());
    return true;
}
