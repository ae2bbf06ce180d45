#pragma once

#include <QString>

#include <cstdint>

#include "analysis/ReferenceSpectrum.h"

// Reads a reference spectrum back from a file that "Save spectrum as CSV…"
// wrote: the frequency column and the "Left power" column, every '#' line and
// the header row skipped. Anything else is refused with the reason and the
// line where reading stopped, and nothing of it is kept.
class CReferenceFile {
public:
    // Larger files are not spectra of this program (16384 points take 3 MB).
    static constexpr std::int64_t kMaxBytes = 64 * 1024 * 1024;

    // True with the spectrum in *pReference (its source the file's name); false
    // with *pReference untouched and why, in words, in *pError.
    static bool Load(const QString& strPath, CReferenceSpectrum* pReference, QString* pError);
    // The same for text already read; strSource names the reference.
    static bool Parse(const QByteArray& data, const QString& strSource,
                      CReferenceSpectrum* pReference, QString* pError);
};
