#pragma once

#include "platform/DC.h"

#include <QSize>
#include <string>

// The welcome page shown while no run is bound: greeting, instructions, the
// contact and web addresses, and the credits, which follow the bottom edge.
// It covers the whole picture, the scale strip included.
class CIdlePage {
public:
    static void Draw(CDC& dc, int nWidth, int nHeight, const std::string& strWebAddress,
                     const std::string& strNotice);
    // The smallest size that shows the page with every line whole and the
    // credits a paragraph below the last line, for this web address.
    static QSize MinimumSize(const std::string& strWebAddress);
};
