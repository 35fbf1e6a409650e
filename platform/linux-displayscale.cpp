#include "displayscale.h"

#include <QGuiApplication>
#include <QScreen>

float DisplayScale::logicalDpi()
{
    // Qt reads the desktop's setting (Xft.dpi, the compositor's scale), which is what the
    // window's pixel sizes are scaled by.
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? float(screen->logicalDotsPerInchX()) : 96.0f;
}
