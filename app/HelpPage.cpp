#include "app/HelpPage.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include "app/HelpPageConfig.h"
#include "view/BuildInfo.h"

namespace {

// The help page where the build expects it to be installed.
QUrl InstalledHelpPage() {
    return QUrl(QString::fromUtf8(g_szWebAddress));
}

QUrl HelpPageUrl() {
    const QString strPath = HelpPagePath();
    return strPath.isEmpty() ? InstalledHelpPage() : QUrl::fromLocalFile(strPath);
}

} // namespace

QString HelpPagePath() {
    const QDir dirProgram(QCoreApplication::applicationDirPath());
    const QString strName = QString::fromUtf8(kHelpPageFileName);
    const QStringList candidates = {
        // Installed where the build said, or moved with the program to another prefix.
        InstalledHelpPage().toLocalFile(),
        dirProgram.filePath(QString::fromUtf8(kHelpPageDirFromProgram) + u'/' + strName),
        // The build tree: beside the program.
        dirProgram.filePath(strName),
    };
    for (const QString& strPath : candidates) {
        if (!strPath.isEmpty() && QFileInfo(strPath).isFile())
            return QFileInfo(strPath).absoluteFilePath();
    }
    return {};
}

QUrl WebPage() {
    if (*kConfiguredWebAddress != '\0')
        return QUrl::fromUserInput(QString::fromUtf8(g_szWebAddress));
    return HelpPageUrl();
}

QUrl SecondWebPage() {
    QUrl help = HelpPageUrl();
    if (help == WebPage())
        help.setFragment(QStringLiteral("how-to-use"));
    return help;
}

QString ContactEmail() {
    return QString::fromUtf8(g_szContactEmail);
}

QString Credits() {
    return QString::fromUtf8(g_szCredits);
}
