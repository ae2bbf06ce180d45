#pragma once

#include <QIcon>

// The program's icon, from the sizes drawn for it (16 to 256 pixels).
QIcon AppIcon();
