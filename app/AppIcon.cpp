#include "app/AppIcon.h"

QIcon AppIcon() {
    QIcon icon;
    for (int nSize : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/vemra2/vemra2-%1.png").arg(nSize), QSize(nSize, nSize));
    return icon;
}
