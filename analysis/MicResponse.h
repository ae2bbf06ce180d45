#pragma once

#include <string>
#include <vector>

// A microphone's frequency response, read from the text file its maker supplies: lines of
// "frequency dB [phase]" separated by spaces, tabs, ';' or commas. On a line whose fields are
// apart by spaces, tabs or ';', a ',' between two digits is a decimal mark ("31,5<TAB>-1,2"); a
// file that uses ',' both ways, or a line where it could be either, is refused. Levels measured
// through the microphone are corrected by subtracting CorrectionDb.
class CMicResponse {
public:
    struct SPoint {
        double dHz;
        double dDb;
    };

    // Reads a response from a file's text. Lines that do not begin with a number are skipped,
    // but a "Sens Factor" line is kept in m_strSensFactor to be shown (never applied). On
    // failure, `out` is left as it was and strError reads "Reading stopped at line N: why.".
    // The file name in `out` is kept either way.
    static bool Parse(const std::string& strText, CMicResponse& out, std::string& strError);

    // Parse on the contents of a file of at most 1 MB.
    static bool Load(const std::string& strPath, CMicResponse& out, std::string& strError);

    // The response at dHz, linear in log-frequency between points, the end values held
    // beyond them, kept within +-20 dB. 0 when empty.
    double CorrectionDb(double dHz) const;

    // One line of text, free of newlines, holding the points, the Sens Factor and the file
    // name; Deserialise reads it back and returns false on anything malformed.
    std::string Serialise() const;
    static bool Deserialise(const std::string& strText, CMicResponse& out);

    bool IsEmpty() const { return m_aPoints.empty(); }

    std::vector<SPoint> m_aPoints;
    std::string m_strSensFactor;
    std::string m_strFileName; // set by the caller, kept with the response
};
