#include "analysis/MicResponse.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <string_view>
#include <system_error>

namespace {

constexpr std::size_t kMaxFileBytes = 1048576;
constexpr double kMaxCorrectionDb = 20.0;
constexpr std::string_view kSeparators = " \t,;";
constexpr std::string_view kSerialTag = "mic1";

using SPoint = CMicResponse::SPoint;

std::string ReadingStopped(int nLine, const std::string& strWhy) {
    return "Reading stopped at line " + std::to_string(nLine) + ": " + strWhy + ".";
}

// Shortest text that reads back to the same double, whatever the C locale.
std::string FormatNumber(double d) {
    char aBuf[32];
    const auto result = std::to_chars(aBuf, aBuf + sizeof aBuf, d);
    return std::string(aBuf, result.ptr);
}

// The whole of str must be a number. from_chars ignores the C locale, so a decimal-comma
// locale still reads "1000.5"; a value beyond double's range reads as NaN so that the
// finiteness checks refuse it.
bool ReadNumber(std::string_view str, double& d) {
    if (str.size() > 1 && str[0] == '+' && str[1] != '-')
        str.remove_prefix(1);
    const char* pEnd = str.data() + str.size();
    const auto result = std::from_chars(str.data(), pEnd, d);
    if (result.ec == std::errc::result_out_of_range)
        d = std::numeric_limits<double>::quiet_NaN();
    else if (result.ec != std::errc())
        return false;
    return result.ptr == pEnd;
}

bool BeginsWithNumber(std::string_view str) {
    std::size_t i = 0;
    if (i < str.size() && (str[i] == '+' || str[i] == '-'))
        ++i;
    if (i < str.size() && str[i] == '.')
        ++i;
    return i < str.size() && std::isdigit(static_cast<unsigned char>(str[i]));
}

std::string_view Trim(std::string_view str) {
    const std::size_t nFirst = str.find_first_not_of(" \t");
    if (nFirst == std::string_view::npos)
        return {};
    return str.substr(nFirst, str.find_last_not_of(" \t") - nFirst + 1);
}

std::vector<std::string_view> SplitFields(std::string_view strLine,
                                          std::string_view strSeparators = kSeparators) {
    std::vector<std::string_view> aFields;
    std::size_t nPos = strLine.find_first_not_of(strSeparators);
    while (nPos != std::string_view::npos) {
        const std::size_t nEnd =
            std::min(strLine.find_first_of(strSeparators, nPos), strLine.size());
        aFields.push_back(strLine.substr(nPos, nEnd - nPos));
        nPos = strLine.find_first_not_of(strSeparators, nEnd);
    }
    return aFields;
}

// What a file's commas are: separators between fields, or decimal marks, as
// European makers and spreadsheets write them ("31,5<TAB>-1,2").
enum class ECommas { Unknown, Separate, Decimal };

std::string Quoted(std::string_view str) {
    std::string strOut(1, '"');
    strOut.append(str);
    strOut += '"';
    return strOut;
}

bool IsDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// The fields of a line whose fields are apart by spaces, tabs or ';': there
// a ',' between two digits is a decimal mark, any other ',' a separator.
void SplitSeparatedFields(const std::vector<std::string_view>& aTokens,
                          std::vector<std::string>& aFields, bool& bDecimal, bool& bSeparate) {
    for (const std::string_view strToken : aTokens) {
        std::string strField;
        for (std::size_t i = 0; i < strToken.size(); ++i) {
            const char c = strToken[i];
            if (c != ',') {
                strField += c;
            } else if (i > 0 && i + 1 < strToken.size() && IsDigit(strToken[i - 1]) &&
                       IsDigit(strToken[i + 1])) {
                strField += '.';
                bDecimal = true;
            } else {
                if (!strField.empty())
                    aFields.push_back(std::move(strField));
                strField.clear();
                bSeparate = true;
            }
        }
        if (!strField.empty())
            aFields.push_back(std::move(strField));
    }
}

// Splits a line of a point into its fields with '.' as their decimal mark,
// in agreement with how the file's earlier lines used ','. Returns why the
// line cannot be read so where its commas could be either.
std::string SplitPointLine(std::string_view strLine, ECommas& eFile,
                           std::vector<std::string>& aFields) {
    aFields.clear();
    const std::vector<std::string_view> aTokens = SplitFields(strLine, " \t;");
    bool bDecimal = false;
    bool bSeparate = false;
    if (aTokens.size() > 1) {
        SplitSeparatedFields(aTokens, aFields, bDecimal, bSeparate);
    } else if (!aTokens.empty()) {
        // Commas alone between the fields: "31.5,-1.2". Without a '.' to tell,
        // two numbers can only be a point, more may be one in decimal commas.
        for (const std::string_view strField : SplitFields(aTokens[0], ","))
            aFields.emplace_back(strField);
        const bool bPoint = aTokens[0].find('.') != std::string_view::npos;
        const bool bTold = bPoint || eFile == ECommas::Separate ||
                           (aFields.size() == 2 && eFile != ECommas::Decimal);
        if (aFields.size() > 1 && !bTold)
            bDecimal = true; // undecided: refused below
        bSeparate = aFields.size() > 1;
    }
    const ECommas eLine = bDecimal ? ECommas::Decimal : bSeparate ? ECommas::Separate : eFile;
    if ((bDecimal && bSeparate) || (eFile != ECommas::Unknown && eLine != eFile))
        return Quoted(Trim(strLine)) + " may take ',' as a decimal mark or as a separator";
    eFile = eLine;
    return {};
}

bool ContainsNoCase(std::string_view strHay, std::string_view strNeedle) {
    auto equal = [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    };
    return std::search(strHay.begin(), strHay.end(), strNeedle.begin(), strNeedle.end(), equal) !=
           strHay.end();
}

// Makers quote the whole line so that spreadsheet imports keep it as one cell.
std::string CleanSensFactor(std::string_view strLine) {
    std::string_view str = Trim(strLine);
    if (!str.empty() && str.front() == '"')
        str.remove_prefix(1);
    if (!str.empty() && str.back() == '"')
        str.remove_suffix(1);
    return std::string(Trim(str));
}

// Why pt cannot follow pPrev (nullptr for the first point), or empty when it can. Interpolation
// needs strictly rising, positive frequencies: they are divided and their logarithms taken.
std::string PointProblem(const SPoint& pt, const SPoint* pPrev) {
    if (!std::isfinite(pt.dHz))
        return "the frequency is not a finite number";
    if (pt.dHz <= 0.0)
        return "the frequency " + FormatNumber(pt.dHz) + " Hz is not above 0 Hz";
    if (!std::isfinite(pt.dDb))
        return "the level at " + FormatNumber(pt.dHz) + " Hz is not finite";
    if (pPrev != nullptr && pt.dHz <= pPrev->dHz)
        return "the frequency " + FormatNumber(pt.dHz) + " Hz does not rise above the " +
               FormatNumber(pPrev->dHz) + " Hz before it";
    return {};
}

// A phase column, or anything else after the level, is not used.
std::string ReadPointFields(const std::vector<std::string>& aFields, SPoint& pt) {
    if (!ReadNumber(aFields[0], pt.dHz))
        return "\"" + aFields[0] + "\" is not a number";
    if (aFields.size() < 2)
        return "the frequency " + aFields[0] + " has no level after it";
    if (!ReadNumber(aFields[1], pt.dDb))
        return "the level \"" + aFields[1] + "\" is not a number";
    return {};
}

// Folds one line into r; false with strWhy set when the line stops the reading.
bool ReadLine(std::string_view strLine, CMicResponse& r, ECommas& eCommas, std::string& strWhy) {
    if (ContainsNoCase(strLine, "sens factor")) {
        if (r.m_strSensFactor.empty())
            r.m_strSensFactor = CleanSensFactor(strLine);
        return true;
    }
    const std::size_t nFirst = strLine.find_first_not_of(kSeparators);
    if (nFirst == std::string_view::npos || !BeginsWithNumber(strLine.substr(nFirst)))
        return true;
    std::vector<std::string> aFields;
    strWhy = SplitPointLine(strLine, eCommas, aFields);
    SPoint pt{};
    if (strWhy.empty())
        strWhy = ReadPointFields(aFields, pt);
    if (strWhy.empty())
        strWhy = PointProblem(pt, r.m_aPoints.empty() ? nullptr : &r.m_aPoints.back());
    if (!strWhy.empty())
        return false;
    r.m_aPoints.push_back(pt);
    return true;
}

// Keeps the serial form on one line with ';' free to separate fields.
std::string Escape(const std::string& str) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string strOut;
    for (const char c : str) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '%' || c == ';' || u < 0x20 || u == 0x7f) {
            strOut += '%';
            strOut += kHex[u >> 4];
            strOut += kHex[u & 0xf];
        } else {
            strOut += c;
        }
    }
    return strOut;
}

bool Unescape(std::string_view str, std::string& strOut) {
    strOut.clear();
    for (std::size_t i = 0; i < str.size(); ++i) {
        if (str[i] != '%') {
            strOut += str[i];
            continue;
        }
        unsigned nByte = 0;
        const char* pFirst = str.data() + i + 1;
        if (i + 3 > str.size() || std::from_chars(pFirst, pFirst + 2, nByte, 16).ptr != pFirst + 2)
            return false;
        strOut += static_cast<char>(nByte);
        i += 2;
    }
    return true;
}

std::vector<std::string_view> SplitKeepingEmpty(std::string_view str, char cSeparator) {
    std::vector<std::string_view> aFields;
    std::size_t nPos = 0;
    for (std::size_t nEnd; (nEnd = str.find(cSeparator, nPos)) != std::string_view::npos;
         nPos = nEnd + 1)
        aFields.push_back(str.substr(nPos, nEnd - nPos));
    aFields.push_back(str.substr(nPos));
    return aFields;
}

bool ReadSerialPoint(std::string_view strField, CMicResponse& r) {
    const std::size_t nColon = strField.find(':');
    SPoint pt{};
    if (nColon == std::string_view::npos || !ReadNumber(strField.substr(0, nColon), pt.dHz) ||
        !ReadNumber(strField.substr(nColon + 1), pt.dDb))
        return false;
    if (!PointProblem(pt, r.m_aPoints.empty() ? nullptr : &r.m_aPoints.back()).empty())
        return false;
    r.m_aPoints.push_back(pt);
    return true;
}

} // namespace

bool CMicResponse::Parse(const std::string& strText, CMicResponse& out, std::string& strError) {
    std::string_view strRest = strText;
    if (strRest.starts_with("\xEF\xBB\xBF")) // a UTF-8 byte order mark from Windows editors
        strRest.remove_prefix(3);
    CMicResponse parsed;
    parsed.m_strFileName = out.m_strFileName; // the caller's to set
    int nLine = 0;
    ECommas eCommas = ECommas::Unknown;
    while (!strRest.empty()) {
        const std::size_t nEnd = std::min(strRest.find('\n'), strRest.size());
        std::string_view strLine = strRest.substr(0, nEnd);
        strRest.remove_prefix(std::min(nEnd + 1, strRest.size()));
        ++nLine;
        if (strLine.ends_with('\r'))
            strLine.remove_suffix(1);
        std::string strWhy;
        if (!ReadLine(strLine, parsed, eCommas, strWhy)) {
            strError = ReadingStopped(nLine, strWhy);
            return false;
        }
    }
    if (parsed.m_aPoints.size() < 2) {
        strError = ReadingStopped(nLine + 1, "the file holds fewer than two points");
        return false;
    }
    out = std::move(parsed);
    return true;
}

// Reads one byte past the limit rather than asking the size first, so that pipes and files
// that grow while being read are refused too.
bool CMicResponse::Load(const std::string& strPath, CMicResponse& out, std::string& strError) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> pFile(std::fopen(strPath.c_str(), "rb"),
                                                          &std::fclose);
    auto failWithErrno = [&strError]() {
        strError = ReadingStopped(1, "the file cannot be read (" +
                                         std::generic_category().message(errno) + ")");
        return false;
    };
    if (!pFile)
        return failWithErrno();
    std::string strText(kMaxFileBytes + 1, '\0');
    strText.resize(std::fread(strText.data(), 1, strText.size(), pFile.get()));
    if (std::ferror(pFile.get()))
        return failWithErrno();
    if (strText.size() > kMaxFileBytes) {
        strError = ReadingStopped(1, "the file is larger than 1 MB");
        return false;
    }
    return Parse(strText, out, strError);
}

double CMicResponse::CorrectionDb(double dHz) const {
    if (m_aPoints.empty())
        return 0.0;
    double dDb = m_aPoints.back().dDb;
    if (!(dHz > m_aPoints.front().dHz)) {
        dDb = m_aPoints.front().dDb;
    } else if (dHz < m_aPoints.back().dHz) {
        const auto itHi = std::upper_bound(m_aPoints.begin(), m_aPoints.end(), dHz,
                                           [](double d, const SPoint& pt) { return d < pt.dHz; });
        const SPoint& lo = itHi[-1];
        const double dT = std::log(dHz / lo.dHz) / std::log(itHi->dHz / lo.dHz);
        dDb = lo.dDb + dT * (itHi->dDb - lo.dDb);
    }
    return std::clamp(dDb, -kMaxCorrectionDb, kMaxCorrectionDb);
}

std::string CMicResponse::Serialise() const {
    std::string str(kSerialTag);
    str += ';' + Escape(m_strFileName) + ';' + Escape(m_strSensFactor);
    for (const SPoint& pt : m_aPoints)
        str += ';' + FormatNumber(pt.dHz) + ':' + FormatNumber(pt.dDb);
    return str;
}

bool CMicResponse::Deserialise(const std::string& strText, CMicResponse& out) {
    const std::vector<std::string_view> aFields = SplitKeepingEmpty(strText, ';');
    CMicResponse r;
    if (aFields.size() < 3 || aFields[0] != kSerialTag || !Unescape(aFields[1], r.m_strFileName) ||
        !Unescape(aFields[2], r.m_strSensFactor))
        return false;
    for (std::size_t i = 3; i < aFields.size(); ++i)
        if (!ReadSerialPoint(aFields[i], r))
            return false;
    if (r.m_aPoints.size() == 1)
        return false;
    out = std::move(r);
    return true;
}
