#include "imaging/dibdecoder.h"
#include "imaging/picture.h"
#include "runtime/runtimeerror.h"
#include "support/testsupport.h"
#include "support/tilefixtures.h"
#include "surfaces/directdraw.h"

#include <QDir>
#include <QImageReader>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// The number of the failure the call raises, or 0 when it raises none.
template <typename F>
std::int32_t FailureOf(F&& call) {
    try {
        call();
    } catch (const RuntimeError& e) {
        return e.Number();
    }
    return 0;
}

void put16(QByteArray& b, int at, quint32 v) {
    b[at] = static_cast<char>(v & 0xFF);
    b[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
void put32(QByteArray& b, int at, quint32 v) {
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}

// A hand-made uncompressed bitmap: pixels given top row first; rows stored bottom-up unless
// topDown; 24 or 32 bits; the pixel data may be cut short.
QByteArray MakeBitmap(const QImage& image, int bits, bool topDown, int cutBytes = 0) {
    const int w = image.width();
    const int h = image.height();
    const int rowBytes = (w * bits + 31) / 32 * 4;
    QByteArray b(54 + rowBytes * h, '\0');
    b[0] = 'B';
    b[1] = 'M';
    put32(b, 2, static_cast<quint32>(b.size()));
    put32(b, 10, 54);
    put32(b, 14, 40);
    put32(b, 18, static_cast<quint32>(w));
    put32(b, 22, static_cast<quint32>(topDown ? -h : h));
    put16(b, 26, 1);
    put16(b, 28, static_cast<quint32>(bits));
    for (int y = 0; y < h; ++y) {
        const int fileRow = topDown ? y : h - 1 - y;
        for (int x = 0; x < w; ++x) {
            const QRgb px = image.pixel(x, y);
            const int at = 54 + fileRow * rowBytes + x * bits / 8;
            b[at] = static_cast<char>(qBlue(px));
            b[at + 1] = static_cast<char>(qGreen(px));
            b[at + 2] = static_cast<char>(qRed(px));
            if (bits == 32) {
                b[at + 3] = static_cast<char>(0x5A);  // unused byte: must not matter
            }
        }
    }
    b.chop(cutBytes);
    return b;
}

bool SamePixels(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if ((a.pixel(x, y) & 0xFFFFFF) != (b.pixel(x, y) & 0xFFFFFF)) {
                return false;
            }
        }
    }
    return true;
}

TEST(ImageLayer, ObjectsAndLevels) {
    DirectX7 dx;
    auto dd = dx.DirectDrawCreate(QString());
    ASSERT_NE(dd, nullptr);
    EXPECT_LT(FailureOf([&] { dx.DirectDrawCreate(QStringLiteral("{not-a-driver}")); }), 0);

    struct Case {
        std::int32_t flags;
        bool ok;
    } cases[] = {{DDSCL_NORMAL, true}, {0, false}, {DDSCL_EXCLUSIVE, false}, {DDSCL_NORMAL | DDSCL_EXCLUSIVE, false}};
    for (const Case& c : cases) {
        const std::int32_t failure = FailureOf([&] { dd->SetCooperativeLevel(0x1234, c.flags); });
        if (c.ok) {
            EXPECT_EQ(failure, 0) << c.flags;
            EXPECT_EQ(dd->CooperativeLevel(), c.flags);
        } else {
            EXPECT_LT(failure, 0) << c.flags;
        }
    }
}

TEST(ImageLayer, ReadsUncompressedBitmapsOfEveryLayout) {
    TestFolder folder;
    const QImage odd = TileImage(9, 5, 3);  // rows of 15 bytes need padding at 24 bits
    struct Case {
        const char* name;
        QByteArray bytes;
    } cases[] = {
        {"24 bottom-up", MakeBitmap(odd, 24, false)},
        {"24 top-down", MakeBitmap(odd, 24, true)},
        {"32 bottom-up", MakeBitmap(odd, 32, false)},
        {"32 top-down", MakeBitmap(odd, 32, true)},
        // The last row without its padding still holds every pixel.
        {"24 unpadded end", MakeBitmap(odd, 24, false, 1)},
    };
    DirectDraw7 dd;
    for (const Case& c : cases) {
        const QString file = folder.File("t.bmp");
        WriteBytes(file, c.bytes);
        std::unique_ptr<DirectDrawSurface7> surface;
        ASSERT_EQ(FailureOf([&] { surface = dd.CreateSurfaceFromFile(file, DDSURFACEDESC2{}); }), 0) << c.name;
        EXPECT_EQ(surface->Width(), 5) << c.name;
        EXPECT_EQ(surface->Height(), 3) << c.name;
        EXPECT_TRUE(SamePixels(surface->Image(), odd)) << c.name;
    }
}

TEST(ImageLayer, ReadsFilesOfEverySizeWhole) {
    TestFolder folder;
    const QImage large = TileImage(8, 300, 100);  // about 90 KB at 24 bits
    const QImage small = TileImage(5, 20, 20);
    struct Case {
        const char* name;
        QImage image;
        int fileSize;  // 0: as written; otherwise padded with bytes after the pixels
    } cases[] = {
        {"large", large, 0},
        {"exactly the one-read size", small, 64 * 1024},
        {"one byte more", small, 64 * 1024 + 1},
        {"much larger than its pixels", small, 300 * 1024},
    };
    DirectDraw7 dd;
    for (const Case& c : cases) {
        QByteArray bytes = MakeBitmap(c.image, 24, false);
        if (c.fileSize > 0) {
            bytes.append(QByteArray(c.fileSize - bytes.size(), '\x11'));
        }
        WriteBytes(folder.File("t.bmp"), bytes);
        std::unique_ptr<DirectDrawSurface7> surface;
        ASSERT_EQ(FailureOf([&] { surface = dd.CreateSurfaceFromFile(folder.File("t.bmp"), DDSURFACEDESC2{}); }), 0)
            << c.name;
        EXPECT_TRUE(SamePixels(surface->Image(), c.image)) << c.name;
    }
    // A device that never ends is no ordinary file.
    ASSERT_EQ(::symlink("/dev/zero", folder.File("zero.bmp").toUtf8().constData()), 0);
    EXPECT_EQ(FailureOf([&] { dd.CreateSurfaceFromFile(folder.File("zero.bmp"), DDSURFACEDESC2{}); }), Err::E_FAIL_);
}

TEST(ImageLayer, ReadsPaletteBitmaps) {
    TestFolder folder;
    const QImage tile = TileImage(3);
    struct Case {
        const char* name;
        QImage image;
    } cases[] = {
        {"8 bits", tile.convertToFormat(QImage::Format_Indexed8)},
        {"4 bits", tile.convertToFormat(QImage::Format_Indexed8, QList<QRgb>{TilePixel(1, 0, 0), TilePixel(2, 3, 4),
                                                                              TilePixel(5, 6, 7), qRgb(0, 0, 0)})},
        {"1 bit", tile.convertToFormat(QImage::Format_Mono)},
    };
    DirectDraw7 dd;
    for (const Case& c : cases) {
        ASSERT_TRUE(c.image.save(folder.File("pal.bmp"), "BMP")) << c.name;
        std::unique_ptr<DirectDrawSurface7> surface;
        ASSERT_EQ(FailureOf([&] { surface = dd.CreateSurfaceFromFile(folder.File("pal.bmp"), DDSURFACEDESC2{}); }), 0)
            << c.name;
        EXPECT_TRUE(SamePixels(surface->Image(), c.image.convertToFormat(QImage::Format_RGB32))) << c.name;
        EXPECT_EQ(surface->Image().format(), QImage::Format_RGB32) << c.name;
    }
}

TEST(ImageLayer, MissingOrUnreadableFilesFailWithANegativeNumber) {
    TestFolder folder;
    const QImage tile = TileImage(4);
    ASSERT_TRUE(tile.save(folder.File("png.bmp"), "PNG"));
    QByteArray huge = MakeBitmap(tile, 24, false);
    put32(huge, 18, 100000);  // claims 100000 x 32 pixels in a 3 KB file
    QByteArray zeroWidth = MakeBitmap(tile, 24, false);
    put32(zeroWidth, 18, 0);
    QByteArray badPlanes = MakeBitmap(tile, 24, false);
    put16(badPlanes, 26, 0);
    WriteBytes(folder.File("huge.bmp"), huge);
    WriteBytes(folder.File("zero.bmp"), zeroWidth);
    WriteBytes(folder.File("planes.bmp"), badPlanes);
    WriteBytes(folder.File("text.bmp"), "[MAIN]\r\nNumFiles=3\r\n");
    WriteBytes(folder.File("empty.bmp"), QByteArray());
    WriteBytes(folder.File("header.bmp"), MakeBitmap(tile, 24, false).left(30));
    QDir().mkdir(folder.File("folder.bmp"));
    ASSERT_EQ(::mkfifo(folder.File("fifo.bmp").toUtf8().constData(), 0644), 0);

    DirectDraw7 dd;
    for (const char* name : {"missing.bmp", "png.bmp", "huge.bmp", "zero.bmp", "planes.bmp", "text.bmp",
                             "empty.bmp", "header.bmp", "folder.bmp", "fifo.bmp"}) {
        const std::int32_t failure =
            FailureOf([&] { dd.CreateSurfaceFromFile(folder.File(name), DDSURFACEDESC2{}); });
        EXPECT_EQ(failure, Err::E_FAIL_) << name;
    }
}

// Files read ahead make the surfaces a read now makes, failures included, and are read once:
// a file changed after its surface was made is read afresh.
TEST(ImageLayer, FilesReadAheadAreReadAsNow) {
    TestFolder folder;
    std::vector<QString> files;
    for (int n = 0; n < 40; ++n) {
        files.push_back(folder.File(QStringLiteral("%1.bmp").arg(n)));
        if (n % 7 == 3) {
            WriteBytes(files.back(), "no bitmap");
        } else if (n % 7 != 5) {
            WriteBytes(files.back(), MakeBitmap(TileImage(n, 32 + n), n % 2 == 0 ? 24 : 32, n % 3 == 0));
        }
    }
    DirectDraw7 now;
    DirectDraw7 ahead;
    ahead.ReadAhead(files);
    ahead.ReadAhead(files);
    for (const QString& file : files) {
        SCOPED_TRACE(file.toStdString());
        QImage expected;
        const std::int32_t failure = FailureOf([&] { expected = now.CreateSurfaceFromFile(file, {})->Image(); });
        QImage got;
        EXPECT_EQ(FailureOf([&] { got = ahead.CreateSurfaceFromFile(file, {})->Image(); }), failure);
        EXPECT_TRUE(got == expected);
    }
    WriteBytes(files[0], MakeBitmap(TileImage(99), 24, false));
    EXPECT_TRUE(ahead.CreateSurfaceFromFile(files[0], {})->Image() == now.CreateSurfaceFromFile(files[0], {})->Image());
    EXPECT_FALSE(ahead.CreateSurfaceFromFile(files[0], {})->Image().isNull());
}

TEST(ImageLayer, TruncatedPixelDataFails) {
    TestFolder folder;
    const QImage tile = TileImage(6);
    DirectDraw7 dd;
    // Four bytes are the last row's padding; one more cut takes a pixel away.
    for (int cut : {5, 100, 3000}) {
        WriteBytes(folder.File("cut.bmp"), MakeBitmap(tile, 24, false, cut));
        EXPECT_EQ(FailureOf([&] { dd.CreateSurfaceFromFile(folder.File("cut.bmp"), DDSURFACEDESC2{}); }), Err::E_FAIL_)
            << cut;
    }
}

// Largest difference of one colour channel between two images of the same size.
int ChannelDistance(const QImage& a, const QImage& b) {
    int most = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            most = std::max({most, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                             std::abs(qBlue(p) - qBlue(q))});
        }
    }
    return most;
}

TEST(ImageLayer, ReadsTheGoodBmpSuiteFilesAsTheGeneralReaderDoes) {
    const QString suite = BmpSuiteFolder();
    if (suite.isEmpty()) {
        GTEST_SKIP() << "BMP Suite folder absent";
    }
    const QDir dir(suite + "/g");
    const QStringList names = dir.entryList({QStringLiteral("*.bmp")}, QDir::Files);
    ASSERT_GT(names.size(), 20);
    for (const QString& name : names) {
        const QImage ours = ReadBitmapSurfaceImage(dir.filePath(name));
        QImageReader reader(dir.filePath(name), "bmp");
        const QImage theirs = reader.read().convertToFormat(QImage::Format_RGB32);
        ASSERT_FALSE(ours.isNull()) << name.toStdString();
        ASSERT_FALSE(theirs.isNull()) << name.toStdString();
        ASSERT_EQ(ours.size(), theirs.size()) << name.toStdString();
        // Fewer than 8 bits a channel may be widened to the full range in more than one way.
        const bool fewBits = name.startsWith("rgb16");
        EXPECT_LE(ChannelDistance(ours, theirs), fewBits ? 8 : 0) << name.toStdString();
    }
}

TEST(ImageLayer, OddAndBadBmpSuiteFilesGiveTheSameResultEveryTime) {
    const QString suite = BmpSuiteFolder();
    if (suite.isEmpty()) {
        GTEST_SKIP() << "BMP Suite folder absent";
    }
    int read = 0;
    for (const char* sub : {"q", "b", "x"}) {
        const QDir dir(suite + "/" + sub);
        for (const QString& name : dir.entryList(QDir::Files)) {
            // No pixel may come from memory the file did not define.
            const QImage first = ReadBitmapSurfaceImage(dir.filePath(name));
            const QImage second = ReadBitmapSurfaceImage(dir.filePath(name));
            EXPECT_EQ(first, second) << sub << "/" << name.toStdString();
            if (!first.isNull()) {
                EXPECT_LE(static_cast<std::size_t>(first.width()) * first.height(), MaxDibPixels);
                ++read;
            }
        }
    }
    EXPECT_GT(read, 0);
    for (const char* bad : {"badbitcount.bmp", "badplanes.bmp", "shortfile.bmp", "reallybig.bmp", "badwidth.bmp"}) {
        EXPECT_TRUE(ReadBitmapSurfaceImage(suite + "/b/" + bad).isNull()) << bad;
    }
}

TEST(ImageLayer, ColourKeys) {
    DirectDrawSurface7 surface(TileImage(1));
    bool has = true;
    surface.GetColorKey(DDCKEY_SRCBLT, &has);
    EXPECT_FALSE(has);
    surface.SetColorKey(DDCKEY_SRCBLT, DDCOLORKEY{0, 0});
    EXPECT_EQ(surface.GetColorKey(DDCKEY_SRCBLT, &has), (DDCOLORKEY{0, 0}));
    EXPECT_TRUE(has);
    surface.SetColorKey(DDCKEY_DESTBLT, DDCOLORKEY{5, 9});
    EXPECT_EQ(surface.GetColorKey(DDCKEY_DESTBLT), (DDCOLORKEY{5, 9}));
    EXPECT_EQ(surface.GetColorKey(DDCKEY_SRCBLT), (DDCOLORKEY{0, 0}));
    for (std::int32_t bad : {0, 1, 3, DDCKEY_SRCBLT | DDCKEY_DESTBLT, 0x20}) {
        EXPECT_EQ(FailureOf([&] { surface.SetColorKey(bad, DDCOLORKEY{}); }), Err::E_INVALIDARG_) << bad;
    }
}

// The canvas after one copy, compared with a picture made pixel by pixel from the rule:
// canvas pixel (x, y) shows surface pixel (x - dx + sx, y - dy + sy) when that lies in both
// rectangles and on the surface, and keeps the background otherwise.
TEST(ImageLayer, BltToDCCopiesOpaqueAndClips) {
    struct Case {
        const char* name;
        int tileW, tileH;
        RECT src, dest;
    } cases[] = {
        {"inside", 32, 32, {0, 0, 32, 32}, {8, 4, 40, 36}},
        {"past right and bottom", 32, 32, {0, 0, 32, 32}, {50, 40, 82, 72}},
        {"above and left", 32, 32, {0, 0, 32, 32}, {-10, -20, 22, 12}},
        {"wholly outside", 32, 32, {0, 0, 32, 32}, {64, 0, 96, 32}},
        {"part of the surface", 32, 32, {8, 8, 24, 24}, {0, 0, 16, 16}},
        {"small tile", 16, 8, {0, 0, 32, 32}, {10, 10, 42, 42}},
        {"large tile", 48, 40, {0, 0, 32, 32}, {0, 0, 32, 32}},
        {"source before the surface", 32, 32, {-4, -4, 28, 28}, {0, 0, 32, 32}},
        {"empty", 32, 32, {0, 0, 0, 32}, {0, 0, 0, 32}},
    };
    for (const Case& c : cases) {
        QImage tileImage = TileImage(2, c.tileW, c.tileH);
        tileImage.setPixel(0, 0, qRgb(0, 0, 0));  // black is the key colour: still copied
        DirectDrawSurface7 surface(tileImage);
        surface.SetColorKey(DDCKEY_SRCBLT, DDCOLORKEY{0, 0});
        Picture canvas(64, 48);
        surface.BltToDC(canvas, c.src, c.dest);
        const QRgb background = Picture::Background().rgb();
        for (int y = 0; y < 48; ++y) {
            for (int x = 0; x < 64; ++x) {
                const int u = x - c.dest.Left;
                const int v = y - c.dest.Top;
                const int sx = c.src.Left + u;
                const int sy = c.src.Top + v;
                const bool inDest = x >= c.dest.Left && x < c.dest.Right && y >= c.dest.Top && y < c.dest.Bottom;
                const bool onSurface = sx >= 0 && sy >= 0 && sx < c.tileW && sy < c.tileH;
                const QRgb expected = inDest && onSurface ? tileImage.pixel(sx, sy) : background;
                ASSERT_EQ(canvas.Image().pixel(x, y) & 0xFFFFFF, expected & 0xFFFFFF)
                    << c.name << " at " << x << "," << y;
            }
        }
    }
}

TEST(ImageLayer, BltToDCStretchesWhenSizesDiffer) {
    DirectDrawSurface7 surface(TileImage(7, 4, 4));
    Picture canvas(8, 8);
    surface.BltToDC(canvas, RECT{0, 0, 4, 4}, RECT{0, 0, 8, 8});
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            EXPECT_EQ(canvas.Image().pixel(x, y) & 0xFFFFFF, TilePixel(7, x / 2, y / 2) & 0xFFFFFF) << x << "," << y;
        }
    }
}

TEST(ImageLayer, BltToDCRefusesInvertedRectangles) {
    DirectDrawSurface7 surface(TileImage(1));
    Picture canvas(32, 32);
    const QImage before = canvas.Image();
    EXPECT_EQ(FailureOf([&] { surface.BltToDC(canvas, RECT{0, 0, 32, 32}, RECT{32, 0, 0, 32}); }), Err::E_INVALIDARG_);
    EXPECT_EQ(FailureOf([&] { surface.BltToDC(canvas, RECT{0, 32, 32, 0}, RECT{0, 0, 32, 32}); }), Err::E_INVALIDARG_);
    EXPECT_EQ(canvas.Image(), before);
    // Extreme coordinates neither overflow nor touch the canvas.
    EXPECT_EQ(FailureOf([&] { surface.BltToDC(canvas, RECT{0, 0, 32, 32}, RECT{INT32_MAX - 32, 0, INT32_MAX, 32}); }), 0);
    EXPECT_EQ(FailureOf([&] { surface.BltToDC(canvas, RECT{INT32_MIN, 0, INT32_MIN + 32, 32}, RECT{0, 0, 32, 32}); }), 0);
    EXPECT_EQ(canvas.Image(), before);
}

TEST(ImageLayer, BltToDCOnAnEmptyCanvasDoesNothing) {
    DirectDrawSurface7 surface(TileImage(1));
    Picture canvas(0, 40);
    EXPECT_EQ(FailureOf([&] { surface.BltToDC(canvas, RECT{0, 0, 32, 32}, RECT{0, 0, 32, 32}); }), 0);
    EXPECT_EQ(canvas.Width(), 0);
}

}  // namespace
