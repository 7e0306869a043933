#pragma once

#include <QIcon>
#include <QPainter>
#include <QPixmap>

// The program's pictures, drawn here rather than loaded, on a grid of 16
// units so that each reads clearly at 16 pixels and scales up cleanly.
class CIconPainter
{
public:
    // The toolbar picture of a command; null for a command without one.
    static QIcon CommandIcon(int command);
    // A row's image: 0 empty, 1 a device in colour (enabled), 2 the same in
    // grey (disabled).
    static QPixmap SensorImage(int image);
    static QIcon AppIcon();
    // The program's picture on the 16-unit grid, for any size and format.
    static void DrawAppIcon(QPainter& painter);
};
