// Renders the artwork's SVG drawings to the PNG pictures the front panel
// loads, and packs the window icon as an ICO file holding one PNG image;
// with --hicolor, renders the program's icon in the desktop's icon sizes.
// Usage: render_artwork SVG_FOLDER RESOURCE_FOLDER ICON_FILE
//        render_artwork --hicolor SVG_FILE ICON_THEME_FOLDER NAME SIZE...
#include <QBuffer>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

namespace {

QImage render(const QString& svgPath, QSize size = {})
{
    QSvgRenderer renderer(svgPath);
    QImage image(size.isEmpty() ? renderer.defaultSize() : size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    return image;
}

// An ICO file whose single entry is a PNG image (allowed since 2006).
bool writeIcon(const QImage& image, const QString& path)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        return false;

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QDataStream out(&file);
    out.setByteOrder(QDataStream::LittleEndian);
    out << quint16(0) << quint16(1) << quint16(1);
    out << quint8(image.width()) << quint8(image.height()) << quint8(0) << quint8(0)
        << quint16(1) << quint16(32) << quint32(png.size()) << quint32(6 + 16);
    out.writeRawData(png.constData(), png.size());
    return true;
}

// ICON_THEME_FOLDER/NxN/apps/NAME.png for each size N.
int renderHicolor(int argc, char** argv)
{
    if (argc < 6) {
        std::fprintf(stderr, "usage: render_artwork --hicolor SVG_FILE ICON_THEME_FOLDER NAME SIZE...\n");
        return 2;
    }
    for (int i = 5; i < argc; ++i) {
        const int size = QString::fromLatin1(argv[i]).toInt();
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[3])).arg(size);
        const QString target = folder + QLatin1Char('/') + QString::fromLocal8Bit(argv[4]) + QStringLiteral(".png");
        if (size <= 0 || !QDir().mkpath(folder) || !render(argv[2], QSize(size, size)).save(target, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(target));
            return 1;
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication application(argc, argv);
    if (argc > 1 && QByteArray(argv[1]) == "--hicolor")
        return renderHicolor(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: render_artwork SVG_FOLDER RESOURCE_FOLDER ICON_FILE\n");
        return 2;
    }
    const QDir svgFolder(argv[1]);
    const QDir resourceFolder(argv[2]);
    for (const QFileInfo& svg : svgFolder.entryInfoList({"*.svg"}, QDir::Files)) {
        if (svg.completeBaseName() == "48")
            continue;
        const QString target = resourceFolder.filePath(svg.completeBaseName() + ".png");
        if (!render(svg.filePath()).save(target, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(target));
            return 1;
        }
    }
    return writeIcon(render(svgFolder.filePath("48.svg")), argv[3]) ? 0 : 1;
}
