#pragma once

#include "tilvexrun.h"

#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <cstdlib>

// Pictures compared with Tiled's own: how far apart, the programs of Debian's tiled, and
// pictures that show any misplaced pixel.

// How far two pictures are apart, compared premultiplied as Tiled's canvas holds them.
struct Difference {
    int most = 0;
    int pixels = 0;
    int beyond2 = 0;  // pixels more than 2 apart
    QString first;
};

inline Difference difference(const QImage& a, const QImage& b) {
    Difference d;
    if (a.size() != b.size()) {
        d.most = 256;
        d.first = QStringLiteral("%1x%2 against %3x%4").arg(a.width()).arg(a.height()).arg(b.width()).arg(b.height());
        return d;
    }
    const QImage x = a.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage y = b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (int row = 0; row < x.height(); ++row) {
        for (int column = 0; column < x.width(); ++column) {
            const QRgb p = x.pixel(column, row), q = y.pixel(column, row);
            const int most = std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                       std::abs(qBlue(p) - qBlue(q)), std::abs(qAlpha(p) - qAlpha(q))});
            if (most > 0 && d.pixels++ == 0) {
                d.first = QStringLiteral("(%1,%2) %3 against %4").arg(column).arg(row).arg(p, 8, 16).arg(q, 8, 16);
            }
            d.most = std::max(d.most, most);
            d.beyond2 += most > 2 ? 1 : 0;
        }
    }
    return d;
}

inline QString tiledTool(const char* name) { return QStandardPaths::findExecutable(QString::fromLatin1(name)); }

inline TilvexResult runTool(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForFinished(120000));
    // A tool that crashed has no exit code to trust.
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromLocal8Bit(process.readAllStandardOutput()), QString::fromLocal8Bit(process.readAllStandardError())};
}

// Tiled's sample maps copied into the folder as name, their compressed files unpacked;
// empty where tmxrasterizer or the samples of Debian's tiled are not installed.
inline QString copiedTiledSamples(const TestFolder& folder, const QString& name) {
    const QString examples = QStringLiteral("/usr/share/doc/tiled/examples");
    if (tiledTool("tmxrasterizer").isEmpty() || !QFileInfo::exists(examples)) {
        return QString();
    }
    const QString copy = folder.File(name);
    EXPECT_EQ(runTool("cp", {"-r", examples, copy}).status, 0);
    runTool("sh", {"-c", QStringLiteral("gzip -df $(find '%1' -name '*.gz')").arg(copy)});
    return copy;
}

// Pictures of opaque pixels that differ everywhere, so any misplaced pixel shows.
inline QImage noise(QSize size, int seed) {
    QImage image(size, QImage::Format_ARGB32);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            const unsigned v = static_cast<unsigned>(x + 1) * 73856093u ^ static_cast<unsigned>(y + 1) * 19349663u ^
                               static_cast<unsigned>(seed) * 83492791u;
            image.setPixel(x, y, qRgb(static_cast<int>(v & 255), static_cast<int>((v >> 8) & 255), static_cast<int>((v >> 16) & 255)));
        }
    }
    return image;
}

