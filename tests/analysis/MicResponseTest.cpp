#include "analysis/MicResponse.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A maker's file as it arrives: Windows line ends, a header, the quoted sensitivity line, and
// points separated by commas, tabs or runs of both, with a phase column.
const char kMakersFile[] = "\"Mic calibration, frequency response\"\r\n"
                           "\"Sens Factor =-.7423dB, AGain =18dB, SERNO: 7000000\"\r\n"
                           "Hz\tdB\tdeg\r\n"
                           "100,-30.0,0\r\n"
                           "1000\t, 0.5\t 12.5\r\n"
                           "10000  \t25,-3\r\n";

TEST(MicResponse, ReadsAMakersFile) {
    CMicResponse r;
    std::string strError;
    ASSERT_TRUE(CMicResponse::Parse(kMakersFile, r, strError)) << strError;
    ASSERT_EQ(r.m_aPoints.size(), 3u);
    EXPECT_EQ(r.m_aPoints[1].dHz, 1000.0);
    EXPECT_EQ(r.m_aPoints[1].dDb, 0.5);
    EXPECT_EQ(r.m_strSensFactor, "Sens Factor =-.7423dB, AGain =18dB, SERNO: 7000000");
    // Linear in log-frequency: 316 Hz is halfway from 100 Hz to 1 kHz.
    EXPECT_NEAR(r.CorrectionDb(std::sqrt(100.0 * 1000.0)), (-30.0 + 0.5) / 2, 1e-9);
    EXPECT_NEAR(r.CorrectionDb(2000.0), 0.5 + 24.5 * std::log10(2.0), 1e-9);
    EXPECT_EQ(r.CorrectionDb(20.0), -20.0);   // -30 held below the first point, capped
    EXPECT_EQ(r.CorrectionDb(20000.0), 20.0); // +25 held above the last, capped
    EXPECT_EQ(r.CorrectionDb(9000.0), 20.0);  // interpolated beyond the cap
}

// A decimal-comma locale, built from the system's locale sources into a
// folder of the test's own where none is installed.
bool UseDecimalCommaLocale() {
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8"))
        return true;
    const std::string strDir = ::testing::TempDir() + "locales_" + std::to_string(getpid());
    const std::string strCommand = "mkdir -p " + strDir + " && localedef -i de_DE -f UTF-8 " +
                                   strDir + "/de_DE.UTF-8 >/dev/null 2>&1";
    const int nStatus = std::system(strCommand.c_str());
    if (nStatus == -1 || WEXITSTATUS(nStatus) > 1) // 1: warnings only
        return false;
    setenv("LOCPATH", strDir.c_str(), 1);
    return std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
}

// A decimal-comma C locale would make strtod stop at the '.'.
TEST(MicResponse, ReadsPointsWhateverTheCLocale) {
    const std::string strOld = std::setlocale(LC_NUMERIC, nullptr);
    ASSERT_TRUE(UseDecimalCommaLocale()) << "no de_DE.UTF-8 locale, nor the sources to build one";
    CMicResponse r;
    std::string strError;
    const bool bRead = CMicResponse::Parse("1000.5 1.25\n2000 -0.5\n", r, strError);
    std::setlocale(LC_NUMERIC, strOld.c_str());
    ASSERT_TRUE(bRead) << strError;
    EXPECT_EQ(r.m_aPoints[0].dHz, 1000.5);
}

// European makers and spreadsheets write decimal commas; where ',' could be
// either a decimal mark or a separator, the file is refused at that line.
TEST(MicResponse, ReadsDecimalCommasAndRefusesCommasThatCouldBeEither) {
    CMicResponse r;
    std::string strError;
    ASSERT_TRUE(
        CMicResponse::Parse("Hz\tdB\n31,5\t-1,2\n1000,00\t4,50\n16000;+2,25;30,0\n", r, strError))
        << strError;
    ASSERT_EQ(r.m_aPoints.size(), 3u);
    EXPECT_EQ(r.m_aPoints[0].dHz, 31.5);
    EXPECT_EQ(r.m_aPoints[0].dDb, -1.2);
    EXPECT_EQ(r.m_aPoints[1].dDb, 4.5);
    EXPECT_EQ(r.m_aPoints[2].dDb, 2.25);
    ASSERT_TRUE(CMicResponse::Parse("31.5, -1.2\n1000,0.5\n2000,1,45\n", r, strError)) << strError;
    EXPECT_EQ(r.m_aPoints[2].dDb, 1.0);

    r.m_aPoints = {{1.0, 2.0}, {3.0, 4.0}};
    for (auto [pText, pLine] : {std::pair{"31,5,-1,2\n1000,0,0\n", "31,5,-1,2"},
                                {"31,5\t-1,2\n1000.0,0.5\n", "1000.0,0.5"},
                                {"31,5\t-1,2\n1000,0\n", "1000,0"},
                                {"20 1\n31,5, -1,2\n", "31,5, -1,2"}}) {
        EXPECT_FALSE(CMicResponse::Parse(pText, r, strError)) << pText;
        EXPECT_NE(strError.find(std::string("\"") + pLine + "\" may take ','"), std::string::npos)
            << strError;
    }
    EXPECT_EQ(r.m_aPoints[1].dHz, 3.0);
}

TEST(MicResponse, RefusesBadTextNamingTheLineAndKeepsWhatItHad) {
    CMicResponse r;
    r.m_aPoints = {{1.0, 2.0}, {3.0, 4.0}};
    std::string strError;
    EXPECT_FALSE(CMicResponse::Parse("# header\n20 1\n40 2\n30 3\n50 4\n", r, strError));
    EXPECT_EQ(strError.rfind("Reading stopped at line 4: ", 0), 0u) << strError;
    EXPECT_FALSE(CMicResponse::Parse("header\n1000 0.5\r\n", r, strError));
    EXPECT_EQ(strError, "Reading stopped at line 3: the file holds fewer than two points.");
    for (const char* pBad : {"20 1\n40\n", "20 1\n0 2\n", "20 1\n40 nan\n", "20 1\n40 1e999\n"}) {
        EXPECT_FALSE(CMicResponse::Parse(pBad, r, strError)) << pBad;
        EXPECT_EQ(strError.rfind("Reading stopped at line 2: ", 0), 0u) << strError;
    }
    ASSERT_EQ(r.m_aPoints.size(), 2u);
    EXPECT_EQ(r.m_aPoints[1].dHz, 3.0);
}

TEST(MicResponse, LoadRefusesLargeAndMissingFiles) {
    const std::string strPath = ::testing::TempDir() + "mic_" + std::to_string(getpid()) + ".txt";
    std::ofstream(strPath, std::ios::binary) << "20 1\n40 2\n" << std::string(1048576, ' ');
    CMicResponse r;
    std::string strError;
    EXPECT_FALSE(CMicResponse::Load(strPath, r, strError));
    EXPECT_EQ(strError, "Reading stopped at line 1: the file is larger than 1 MB.");
    std::remove(strPath.c_str());
    EXPECT_FALSE(CMicResponse::Load(strPath, r, strError));
    EXPECT_NE(strError.find("No such file"), std::string::npos) << strError;
}

TEST(MicResponse, SerialiseRoundTrips) {
    CMicResponse r, back;
    r.m_aPoints = {{20.0, -3.1}, {1000.0 / 3.0, 0.1}, {20000.0, 1e-17}};
    r.m_strSensFactor = "Sens Factor =-.7423dB; 100% \"quoted\"";
    r.m_strFileName = "mic;1\n.txt";
    ASSERT_TRUE(CMicResponse::Deserialise(r.Serialise(), back)) << r.Serialise();
    EXPECT_EQ(r.Serialise().find('\n'), std::string::npos);
    EXPECT_EQ(back.m_strSensFactor, r.m_strSensFactor);
    EXPECT_EQ(back.m_strFileName, r.m_strFileName);
    ASSERT_EQ(back.m_aPoints.size(), 3u);
    EXPECT_EQ(back.m_aPoints[1].dHz, r.m_aPoints[1].dHz);
    EXPECT_EQ(back.m_aPoints[2].dDb, r.m_aPoints[2].dDb);
    ASSERT_TRUE(CMicResponse::Deserialise(CMicResponse().Serialise(), back));
    EXPECT_TRUE(back.IsEmpty());
    for (const char* pBad : {"", "mic1;a", "mic1;;;20:1", "mic1;;;20:1;10:2", "mic1;%G0;;"})
        EXPECT_FALSE(CMicResponse::Deserialise(pBad, back)) << pBad;
}

} // namespace
