#include "app/AppIcon.h"

// The resources live in a static library; the linker keeps them only when
// someone asks for them.
static void LoadResources() {
    static const bool s_bLoaded = [] {
        Q_INIT_RESOURCE(vemra2);
        return true;
    }();
    (void)s_bLoaded;
}

QIcon AppIcon() {
    LoadResources();
    QIcon icon;
    for (int nSize : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/vemra2/vemra2-%1.png").arg(nSize), QSize(nSize, nSize));
    return icon;
}
