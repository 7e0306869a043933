// Renders the program's icon for the desktop's icon theme at build time:
// FOLDER/NxN/apps/tessaro.png for each size given and a scalable
// FOLDER/scalable/apps/tessaro.svg, from the drawing of the window's icon.

#include "ui/IconPainter.h"

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>
#include <cstdio>

namespace
{

constexpr double kGrid = 16.0;

bool RenderPng(const QString& folder, int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / kGrid, size / kGrid);
    CIconPainter::DrawAppIcon(painter);
    painter.end();
    const QString dir = QStringLiteral("%1/%2x%2/apps").arg(folder).arg(size);
    return QDir().mkpath(dir) && image.save(dir + QStringLiteral("/tessaro.png"));
}

bool RenderSvg(const QString& folder)
{
    const QString dir = folder + QStringLiteral("/scalable/apps");
    if (!QDir().mkpath(dir))
        return false;
    QSvgGenerator svg;
    svg.setFileName(dir + QStringLiteral("/tessaro.svg"));
    svg.setTitle(QStringLiteral("Tessaro"));
    svg.setSize(QSize(256, 256));
    svg.setViewBox(QRectF(0, 0, kGrid, kGrid));
    QPainter painter;
    if (!painter.begin(&svg))
        return false;
    painter.setRenderHint(QPainter::Antialiasing);
    CIconPainter::DrawAppIcon(painter);
    return painter.end();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
    {
        std::fprintf(stderr, "usage: tessaro-render-icons FOLDER SIZE...\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i)
    {
        const int size = QString::fromLocal8Bit(argv[i]).toInt();
        if (size < 1 || !RenderPng(folder, size))
        {
            std::fprintf(stderr, "tessaro-render-icons: cannot render %s px into %s\n", argv[i],
                         argv[1]);
            return 1;
        }
    }
    if (!RenderSvg(folder))
    {
        std::fprintf(stderr, "tessaro-render-icons: cannot write the SVG into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
