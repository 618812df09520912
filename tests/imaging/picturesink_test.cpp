#include "imaging/bitmapfile.h"
#include "imaging/picturesink.h"
#include "imaging/pngwriter.h"
#include "runtime/runtimeerror.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <vector>

namespace {

// Noise with every alpha value: no two bands of rows alike.
QImage pattern(int width, int height, QImage::Format format) {
    QImage image(width, height, QImage::Format_RGBA8888);
    std::mt19937 random(11);
    for (int y = 0; y < height; ++y) {
        uchar* row = image.scanLine(y);
        for (int x = 0; x < 4 * width; ++x) {
            row[x] = x % 4 == 3 ? static_cast<uchar>(x / 4 + y) : static_cast<uchar>(random());
        }
    }
    return image.convertToFormat(format);
}

// The picture handed over in bands of rows rows, the last what is left, drawn into one
// band over and over as a caller drawing a band at a time does.
void writeInBands(PictureSink& sink, const QImage& picture, int rows) {
    QImage band;
    for (int top = 0; top < picture.height(); top += rows) {
        const int count = std::min(rows, picture.height() - top);
        if (band.height() != count) {
            band = QImage(picture.width(), count, picture.format());
        }
        for (int y = 0; y < count; ++y) {
            std::memcpy(band.scanLine(y), picture.constScanLine(top + y), static_cast<std::size_t>(picture.bytesPerLine()));
        }
        sink.WriteRows(band);
    }
}

QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

// Bands of any height, on the caller's thread or a helper, make the file written whole: a
// bitmap's rows from 24 or 32 bits, padded (613 * 3 is no multiple of 4); a PNG of more rows
// than one compressed part holds (427 at this width), its parts cut where whole ones are.
TEST(PictureSink, BandsMakeTheFileWrittenWhole) {
    struct Case {
        TileFormat format;
        QImage::Format bands;
    };
    const Case cases[] = {
        {TileFormat::Bmp, QImage::Format_RGB32},
        {TileFormat::Bmp, QImage::Format_BGR888},
        {TileFormat::Png, QImage::Format_RGBA8888},
        {TileFormat::Png, QImage::Format_ARGB32_Premultiplied},  // made straight as it is compressed
    };
    TestFolder folder;
    for (const Case& c : cases) {
        const QImage picture = pattern(613, 900, c.bands);
        QByteArray whole;
        if (c.format == TileFormat::Bmp) {
            std::vector<unsigned char> bytes;
            EncodeBitmapFile(picture, picture.width(), picture.height(), bytes);
            whole = QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
        }
        for (const bool background : {false, true}) {
            for (const int rows : {1, 77, 427, 500, 900}) {
                // Unfiltered and filtered alike.
                const PngFilters filters = rows % 2 == 0 ? PngFilters::None : PngFilters::Adaptive;
                if (c.format == TileFormat::Png) {
                    whole = EncodePng(picture.convertToFormat(QImage::Format_RGBA8888), filters);
                }
                const QString path = folder.File("sheet");
                SinkOptions options;
                options.background = background;
                options.filters = filters;
                PictureSink sink(path, picture.size(), c.format, options);
                writeInBands(sink, picture, rows);
                sink.Commit();
                EXPECT_EQ(ReadBytes(path), whole) << static_cast<int>(c.format) << " " << c.bands << " " << background << " "
                                                  << rows;
            }
        }
    }
}

// A failure shows at once when the bands are written on the caller's thread; in the
// background it is held for Commit, so the caller's own later failures come first. Either
// way nothing is left of the file, and a file that stays keeps its bytes.
TEST(PictureSink, FailuresLeaveNoFile) {
    struct Case {
        const char* name;
        QString file;  // in the test's folder
        int rows;      // handed over before Commit
        bool commit;   // Commit is called
        int number;    // the failure raised, 0 for none
        const char* raisedBy;
        const char* raisedInTheBackgroundBy;
    };
    const QImage picture = pattern(33, 40, QImage::Format_RGB32);
    const Case cases[] = {
        {"missing folder", "missing/sheet.bmp", 40, true, ErrnoToNumber(ENOENT), "start", "Commit"},
        {"read-only file", "ro.bmp", 40, true, ErrnoToNumber(EACCES), "Commit", "Commit"},
        {"rows missing", "sheet.bmp", 39, true, Err::InvalidCall, "Commit", "Commit"},
        {"dropped", "sheet.bmp", 40, false, 0, "", ""},
    };
    for (const Case& c : cases) {
        for (const bool background : {false, true}) {
            TestFolder folder;
            WriteBytes(folder.File("ro.bmp"), "old");
            ASSERT_EQ(::chmod(QFile::encodeName(folder.File("ro.bmp")).constData(), 0444), 0);
            const QString path = folder.File(c.file);
            std::string step = "start";
            int number = 0;
            QString named;
            SinkOptions options;
            options.background = background;
            try {
                PictureSink sink(path, picture.size(), TileFormat::Bmp, options);
                step = "WriteRows";
                writeInBands(sink, picture.copy(0, 0, picture.width(), c.rows), 16);
                step = "Commit";
                if (c.commit) {
                    sink.Commit();
                }
                step = "";
            } catch (const RuntimeError& failure) {
                number = failure.Number();
                named = failure.File();
            }
            const std::string what = std::string(c.name) + (background ? " in the background" : "");
            EXPECT_EQ(number, c.number) << what;
            EXPECT_EQ(step, background ? c.raisedInTheBackgroundBy : c.raisedBy) << what;
            EXPECT_EQ(named, number != 0 ? path : QString()) << what;
            EXPECT_EQ(entries(folder.Path()), QStringList{"ro.bmp"}) << what;
            EXPECT_EQ(ReadBytes(folder.File("ro.bmp")), QByteArray("old")) << what;
        }
    }
}

// A band is a whole number of units, at least one, and as many as fit where a band of plain
// rows is bigger than one unit.
TEST(PictureSink, BandsHoldWholeUnits) {
    struct Case {
        std::int64_t rowBytes;
        int unitRows;
        BandFill fill;
    };
    const Case cases[] = {{1, 1, BandFill::Rows},
                          {3 * 4096, 32, BandFill::Rows},
                          {4 * 1000, 1, BandFill::Rows},
                          {4 * 1000, 17, BandFill::Rows},
                          {4 * 1000, 17, BandFill::TilesOnEveryCore},
                          {4 * 100000, 50, BandFill::TilesOnEveryCore},
                          {std::int64_t{1} << 40, 32, BandFill::Rows}};
    for (const Case& c : cases) {
        const int rows = BandRows(c.rowBytes, c.unitRows, c.fill);
        const int plain = BandRows(c.rowBytes, 1, c.fill);
        EXPECT_EQ(rows % c.unitRows, 0) << c.rowBytes << " " << c.unitRows;
        EXPECT_GE(rows, c.unitRows) << c.rowBytes << " " << c.unitRows;
        if (plain >= c.unitRows) {
            EXPECT_LE(rows, plain) << c.rowBytes << " " << c.unitRows;
            EXPECT_GT(rows + c.unitRows, plain) << c.rowBytes << " " << c.unitRows;
        }
    }
}

}  // namespace
