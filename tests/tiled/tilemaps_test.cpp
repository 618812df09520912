#include "runtime/limits.h"
#include "support/testsupport.h"

#include "runtime/runtimeerror.h"
#include "tiled/mapfile.h"
#include "sheets/tileindex.h"

#include <gtest/gtest.h>

#include <QTransform>

#include <functional>

namespace {

QImage distinctTile(int width, int height) {
    QImage tile(width, height, QImage::Format_RGBA8888);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            tile.setPixelColor(x, y, QColor(x * 40, y * 40, (x * 7 + y * 3) * 5, 100 + x + y));
        }
    }
    return tile;
}

QImage rotated(const QImage& image, int degrees) {
    return image.transformed(QTransform().rotate(degrees)).convertToFormat(image.format());
}

// Tiled's own words for the flag sets: rotating 90 degrees clockwise is diagonal plus
// horizontal, and so on.
TEST(TileIndex, EveryOrientationIsFoundWithTheFlagsAMapGivesIt) {
    const QImage tile = distinctTile(6, 6);
    using namespace GidFlag;
    const struct {
        std::uint32_t flips;
        QImage seen;
    } cases[] = {
        {0, tile},
        {Horizontal, tile.mirrored(true, false)},
        {Vertical, tile.mirrored(false, true)},
        {Horizontal | Vertical, rotated(tile, 180)},
        {Diagonal | Horizontal, rotated(tile, 90)},
        {Diagonal | Vertical, rotated(tile, 270)},
        {Diagonal, rotated(tile, 90).mirrored(true, false)},
        {Diagonal | Horizontal | Vertical, rotated(tile, 270).mirrored(true, false)},
    };
    TileIndex index(tile.size(), tile.format(), true);
    ASSERT_EQ(index.Add(tile), 0);
    TileIndex plain(tile.size(), tile.format(), false);
    plain.Add(tile);
    for (const auto& c : cases) {
        EXPECT_EQ(OrientedTile(tile, c.flips), c.seen) << std::hex << c.flips;
        const TileIndex::Placement found = index.Find(c.seen, index.Key(c.seen));
        EXPECT_EQ(found.id, 0) << std::hex << c.flips;
        EXPECT_EQ(found.flips, c.flips);
        EXPECT_EQ(plain.Find(c.seen, plain.Key(c.seen)).id, c.flips == 0 ? 0 : -1) << std::hex << c.flips;
    }
    // One pixel of difference, alpha alone included, is another tile.
    QImage other = tile.copy();
    other.setPixelColor(5, 5, QColor(other.pixelColor(5, 5).rgb()));
    EXPECT_EQ(index.Find(other, index.Key(other)).id, -1);
}

TEST(TileIndex, MirrorsOfOblongTilesAndSymmetricTiles) {
    const QImage oblong = distinctTile(6, 3);
    TileIndex index(oblong.size(), oblong.format(), true);
    index.Add(oblong);
    const QImage mirrored = oblong.mirrored(true, true);
    EXPECT_EQ(index.Find(mirrored, index.Key(mirrored)).flips, GidFlag::Horizontal | GidFlag::Vertical);
    // A tile that equals its own mirrors is placed as it is.
    QImage plain(6, 3, QImage::Format_RGBA8888);
    plain.fill(QColor(1, 2, 3, 4));
    EXPECT_EQ(index.Add(plain), 1);
    const TileIndex::Placement found = index.Find(plain, index.Key(plain));
    EXPECT_EQ(found.id, 1);
    EXPECT_EQ(found.flips, 0u);
}

TEST(MapFiles, EachKindReadsBackWhatWasWritten) {
    TestFolder folder;
    TileMap map(QSize(3, 2), QSize(16, 8));
    map.At(0, 0) = MapCell{0, 0};
    map.At(1, 0) = MapCell{4, GidFlag::Horizontal | GidFlag::Diagonal};
    map.At(2, 1) = MapCell{1, GidFlag::Vertical};
    map.SetPictureSize(QSize(50, 17));
    map.Background = qRgb(255, 0, 255);
    map.Tileset = folder.File("sets/level.tsx");
    for (const char* name : {"level.tmx", "level.tmj", "level.csv"}) {
        const bool csv = QString(name).endsWith("csv");
        if (csv) {
            map.At(1, 0).flips = map.At(2, 1).flips = 0;
        }
        WriteMapFile(folder.File(name), map);
        const TileMap read = ReadMapFile(folder.File(name));
        ASSERT_EQ(read.Cells(), map.Cells()) << name;
        for (int k = 0; k < 6; ++k) {
            EXPECT_EQ(read.At(k % 3, k / 3).id, map.At(k % 3, k / 3).id) << name << k;
            EXPECT_EQ(read.At(k % 3, k / 3).flips, map.At(k % 3, k / 3).flips) << name << k;
        }
        EXPECT_EQ(read.Tile(), csv ? QSize() : map.Tile()) << name;
        EXPECT_EQ(read.HasPictureSize(), !csv) << name;
        if (!csv) {
            EXPECT_EQ(read.PictureSize(), map.PictureSize()) << name;
        }
        EXPECT_EQ(read.Background, csv ? std::nullopt : map.Background) << name;
        EXPECT_EQ(read.Tileset, csv ? folder.File("level.tsx") : map.Tileset) << name;
    }
}

TEST(MapFiles, MapsThisToolCannotDrawAreRefused) {
    TestFolder folder;
    const QString head = "<map orientation=\"orthogonal\" width=\"2\" height=\"1\" tilewidth=\"8\" tileheight=\"8\">"
                         "<tileset firstgid=\"1\" source=\"a.tsx\"/>";
    const struct {
        const char* name;
        QString text;
    } cases[] = {
        {"base64.tmx", head + "<layer><data encoding=\"base64\">AQAAAA==</data></layer></map>"},
        {"short.tmx", head + "<layer><data encoding=\"csv\">1</data></layer></map>"},
        {"big.tmx", head + "<layer><data encoding=\"csv\">1,99999999999</data></layer></map>"},
        {"layers.tmx", head + "<layer><data encoding=\"csv\">1,1</data></layer><layer/></map>"},
        {"embedded.tmx", "<map orientation=\"orthogonal\" width=\"1\" height=\"1\" tilewidth=\"8\" tileheight=\"8\">"
                         "<tileset firstgid=\"1\" name=\"x\"/><layer><data encoding=\"csv\">1</data></layer></map>"},
        {"huge.tmx", "<map orientation=\"orthogonal\" width=\"100000\" height=\"100000\" tilewidth=\"1\" tileheight=\"1\"/>"},
        {"iso.tmj", "{\"type\":\"map\",\"orientation\":\"isometric\"}"},
        {"data.tmj", "{\"type\":\"map\",\"orientation\":\"orthogonal\",\"width\":2,\"height\":1,\"tilewidth\":8,"
                     "\"tileheight\":8,\"tilesets\":[{\"firstgid\":1,\"source\":\"a.tsx\"}],"
                     "\"layers\":[{\"type\":\"tilelayer\",\"data\":[1,-4]}]}"},
        {"ragged.csv", "0,1\n2\n"},
        {"word.csv", "0,x\n"},
        {"minus.csv", "0,-2\n"},
    };
    for (const auto& c : cases) {
        WriteBytes(folder.File(c.name), c.text.toUtf8());
        try {
            ReadMapFile(folder.File(c.name));
            ADD_FAILURE() << c.name << " was read";
        } catch (const RuntimeError& failure) {
            EXPECT_EQ(failure.Number(), Err::InvalidPicture) << c.name;
            EXPECT_EQ(failure.File(), folder.File(c.name)) << c.name;
            EXPECT_FALSE(failure.Description().contains(folder.File(c.name))) << failure.Description().toStdString();
        }
    }
}

}  // namespace

#include "tiled/layerdata.h"

TEST(LayerData, DamagedStreamsSayWhatIsWrong) {
    const std::vector<std::uint32_t> gids{1, 2, 3, 4, 5, 6, 7, 8};
    const struct {
        const char* compression;
        std::function<void(QByteArray&)> damage;
        const char* said;
    } cases[] = {
        {"zlib", [](QByteArray& bytes) { bytes[bytes.size() - 1] = static_cast<char>(bytes.back() ^ 1); }, "is damaged (incorrect data check)"},
        {"gzip", [](QByteArray& bytes) { bytes[bytes.size() - 8] = static_cast<char>(bytes[bytes.size() - 8] ^ 1); },
         "is damaged (incorrect data check)"},
        {"zlib", [](QByteArray& bytes) { bytes.chop(6); }, "is cut short"},
        {"zstd", [](QByteArray& bytes) { bytes.chop(3); }, "is cut short: its zstd frame ends"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.compression + std::string(" ") + c.said);
        QByteArray packed = QByteArray::fromBase64(EncodeLayerData("m.tmx", gids, "base64", c.compression, 8).trimmed().toLatin1());
        c.damage(packed);
        try {
            DecodeLayerData("m.tmx", QString::fromLatin1(packed.toBase64()), "base64", c.compression, gids.size());
            ADD_FAILURE() << "read";
        } catch (const RuntimeError& failure) {
            EXPECT_EQ(failure.Number(), Err::InvalidPicture);
            EXPECT_EQ(failure.File(), "m.tmx");
            EXPECT_TRUE(failure.Description().contains(c.said)) << failure.Description().toStdString();
        }
    }
}
