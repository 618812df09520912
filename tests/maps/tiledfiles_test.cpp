#include "support/testsupport.h"

#include "runtime/runtimeerror.h"
#include "tiled/layerdata.h"
#include "maps/maprenderer.h"
#include "tiled/tileddocument.h"
#include "tiled/tiledfiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include <cstdlib>
#include <cstring>

namespace {

const std::vector<std::uint32_t> Gids = {0, 1, 0x80000002u, 0x20000003u, 7, 0xE0000001u};

TEST(LayerData, EveryEncodingReadsBackWhatItWrote) {
    const std::pair<const char*, const char*> forms[] = {{"csv", ""}, {"base64", ""}, {"base64", "zlib"}, {"base64", "gzip"}, {"base64", "zstd"}};
    for (const auto& [encoding, compression] : forms) {
        const QString text = EncodeLayerData("m.tmx", Gids, encoding, compression, 3);
        EXPECT_EQ(DecodeLayerData("m.tmx", text, encoding, compression, Gids.size()), Gids) << encoding << compression;
    }
}

TEST(LayerData, CsvAsEditorsWriteItWithSpacesLinesAndZeros) {
    const QString text = "\n0,  1,2147483650,\r\n536870915 ,07,\t00000000003758096385\n";
    EXPECT_EQ(DecodeLayerData("m.tmx", text, "csv", "", Gids.size()), Gids);
}

TEST(LayerData, DataThatIsNotItsCellsIsRefusedNamingTheFile) {
    const QString zlib = EncodeLayerData("m.tmx", Gids, "base64", "zlib", 3);
    // Many more cells than the layer has inflate only up to one byte past them.
    const QString bomb = EncodeLayerData("m.tmx", std::vector<std::uint32_t>(1 << 20, 1), "base64", "zlib", 3);
    const struct {
        const char* name;
        QString text;
        const char* encoding;
        const char* compression;
    } cases[] = {
        {"short csv", "1,2,3", "csv", ""},
        {"long csv", "1,2,3,4,5,6,7", "csv", ""},
        {"word in csv", "1,2,x,4,5,6", "csv", ""},
        {"gid past 32 bits", "1,2,3,4,5,4294967296", "csv", ""},
        {"no base64", "@@@@", "base64", ""},
        {"raw of 5 bytes", "AQAAAAE=", "base64", ""},
        {"cut zlib", zlib.trimmed().left(12), "base64", "zlib"},
        {"zlib bomb", bomb, "base64", "zlib"},
        {"zlib read as zstd", zlib, "base64", "zstd"},
        {"unknown compression", zlib, "base64", "lzma"},
        {"unknown encoding", "1", "hex", ""},
    };
    for (const auto& c : cases) {
        try {
            DecodeLayerData("/maps/m.tmx", c.text, c.encoding, c.compression, Gids.size());
            ADD_FAILURE() << c.name << " was read";
        } catch (const RuntimeError& failure) {
            EXPECT_EQ(failure.Number(), Err::InvalidPicture) << c.name;
            EXPECT_EQ(failure.File(), "/maps/m.tmx") << c.name;
            EXPECT_FALSE(failure.Description().contains("m.tmx")) << c.name << failure.Description().toStdString();
        }
    }
}

// A tileset as Tiled saves one, with what this tool never writes itself.
const char* const SavedTileset = R"(<?xml version="1.0" encoding="UTF-8"?>
<tileset version="1.8" tiledversion="1.8.2" name="shared" class="walls" tilewidth="8" tileheight="8" tilecount="2" columns="0">
 <editorsettings><export target="x.json" format="json"/></editorsettings>
 <!-- kept by hand -->
 <properties>
  <property name="biome" value="cave"/>
 </properties>
 <grid orientation="orthogonal" width="1" height="1"/>
 <tile id="0" type="solid" probability="0.5">
  <properties><property name="hp" type="int" value="3"/></properties>
  <image width="8" height="8" source="tiles/0.png"/>
  <objectgroup draworder="index"><object id="1" x="0" y="0" width="8" height="4"/></objectgroup>
  <animation><frame tileid="0" duration="100"/><frame tileid="1" duration="100"/></animation>
 </tile>
 <tile id="1">
  <image width="8" height="8" source="tiles/1.png"/>
 </tile>
 <wangsets>
  <wangset name="ground" type="corner" tile="-1">
   <wangcolor name="dirt" color="#ff0000" tile="-1" probability="1"/>
   <wangtile tileid="0" wangid="0,1,0,1,0,1,0,1"/>
   <wangtile tileid="1" wangid="0,1,0,1,0,1,0,0"/>
  </wangset>
 </wangsets>
</tileset>
)";

TEST(TilesetDocuments, AnEditChangesOnlyWhatItNames) {
    TestFolder folder;
    WriteBytes(folder.File("shared.tsx"), SavedTileset);
    TilesetDocument document(folder.File("shared.tsx"));
    EXPECT_EQ(document.Model().tiles.at(0).animation.size(), 2u);
    EXPECT_EQ(document.Model().wangSets.at(0).tileIds, (std::vector<int>{0, 1}));
    document.AppendTile(2, folder.File("tiles/2.png"), QSize(8, 8));
    document.SetNumber("tilecount", 3);
    document.Save();
    QString expected = QString::fromUtf8(SavedTileset);
    expected.replace("tilecount=\"2\"", "tilecount=\"3\"")
        .replace("  <image width=\"8\" height=\"8\" source=\"tiles/1.png\"/>\n </tile>\n",
                 "  <image width=\"8\" height=\"8\" source=\"tiles/1.png\"/>\n </tile>\n <tile id=\"2\">\n"
                 "  <image width=\"8\" height=\"8\" source=\"tiles/2.png\"/>\n </tile>\n");
    // The writer's own spelling of what it keeps: the declaration and empty elements.
    const QString saved = QString::fromUtf8(ReadBytes(folder.File("shared.tsx")));
    EXPECT_EQ(saved, expected);

    // Dropping tile 0 renumbers tile 1, its frames and its wang tile, and drops the rest of 0.
    TilesetDocument again(folder.File("shared.tsx"));
    again.RenumberTiles([](int id) { return id == 0 ? -1 : id - 1; });
    ASSERT_TRUE(QDir(folder.Path()).mkpath("moved"));
    again.Save(folder.File("moved/out.tsx"));
    const TiledTileset out = LoadTileset(folder.File("moved/out.tsx"));
    EXPECT_EQ(out.tiles.size(), 2u);
    EXPECT_EQ(out.tiles.at(0).image.source, folder.File("tiles/1.png"));
    EXPECT_EQ(out.wangSets.at(0).tileIds, (std::vector<int>{0}));
    EXPECT_EQ(out.name, "shared");
    EXPECT_EQ(out.properties.at(0).value, "cave");
}

TEST(MapDocuments, GidsAreRewrittenInTheEncodingTheMapHolds) {
    const std::pair<const char*, const char*> forms[] = {{"csv", ""}, {"base64", "zlib"}, {"base64", "zstd"}, {"", ""}};
    for (const auto& [encoding, compression] : forms) {
        TestFolder folder;
        WriteBytes(folder.File("a.tsx"), "<tileset name=\"a\" tilewidth=\"8\" tileheight=\"8\"><tile id=\"0\"><image source=\"0.png\"/></tile>"
                                         "<tile id=\"1\"><image source=\"1.png\"/></tile></tileset>");
        const QString data = QString(encoding).isEmpty()
                                 ? QStringLiteral("<tile gid=\"1\"/><tile/><tile gid=\"%1\"/>").arg(0x80000002u)
                                 : EncodeLayerData("m", {1, 0, 0x80000002u}, encoding, compression, 3);
        WriteBytes(folder.File("m.tmx"),
                   QStringLiteral("<map orientation=\"orthogonal\" width=\"3\" height=\"1\" tilewidth=\"8\" tileheight=\"8\">"
                                  "<tileset firstgid=\"1\" source=\"a.tsx\"/><layer name=\"l\" width=\"3\" height=\"1\" secret=\"7\">"
                                  "<data%1%2>%3</data></layer><objectgroup><object id=\"1\" gid=\"2\" x=\"0\" y=\"8\"/></objectgroup></map>")
                       .arg(QString(encoding).isEmpty() ? QString() : QStringLiteral(" encoding=\"%1\"").arg(encoding),
                            QString(compression).isEmpty() ? QString() : QStringLiteral(" compression=\"%1\"").arg(compression), data)
                       .toUtf8());
        MapDocument map(folder.File("m.tmx"));
        map.RenumberGids([](std::uint32_t gid) { return GidTile(gid) == 0 ? 0 : (gid & 0xF0000000u) | (3 - GidTile(gid)); });
        map.Save();
        const QString saved = QString::fromUtf8(ReadBytes(folder.File("m.tmx")));
        EXPECT_TRUE(saved.contains("secret=\"7\"")) << encoding;
        const TiledMap read = LoadMap(folder.File("m.tmx"));
        EXPECT_EQ(read.layers[0].encoding, encoding);
        EXPECT_EQ(read.layers[0].compression, compression);
        EXPECT_EQ(read.layers[0].chunks[0].gids, (std::vector<std::uint32_t>{2, 0, 0x80000001u})) << encoding << compression;
        EXPECT_EQ(read.layers[1].objects[0].gid, 1u) << encoding;
    }
}

TEST(TiledMapFiles, MapsThatCannotBeDrawnAreRefusedBeforeThePicture) {
    TestFolder folder;
    WriteBytes(folder.File("a.tsx"), "<tileset name=\"a\" tilewidth=\"8\" tileheight=\"8\" tilecount=\"1\" columns=\"1\">"
                                     "<image source=\"gone.png\" width=\"8\" height=\"8\"/></tileset>");
    const QString map = "<map orientation=\"%1\" width=\"%2\" height=\"1\" tilewidth=\"8\" tileheight=\"8\">%3</map>";
    const QString layer = "<layer name=\"l\" width=\"%1\" height=\"1\"><data encoding=\"csv\">%2</data></layer>";
    const QString tileset = "<tileset firstgid=\"1\" source=\"a.tsx\"/>";
    const struct {
        const char* name;
        QString text;
    } cases[] = {
        {"data before the map", "<data encoding=\"csv\">1</data>"},
        {"missing tileset", map.arg("orthogonal", "1", "<tileset firstgid=\"1\" source=\"none.tsx\"/>" + layer.arg(1).arg(1))},
        {"gid past the tilesets", map.arg("orthogonal", "1", tileset + layer.arg(1).arg(2))},
        {"missing image", map.arg("orthogonal", "1", tileset + layer.arg(1).arg(1))},
        {"unknown orientation", map.arg("cubic", "1", tileset + layer.arg(1).arg(0))},
        {"isometric picture too big", map.arg("isometric", "100000", "").replace("tilewidth=\"8\"", "tilewidth=\"100000\"")},
        {"hexagonal side too long", map.arg("hexagonal", "1", "").replace("<map ", "<map hexsidelength=\"9999999\" ")},
        {"too many cells", map.arg("orthogonal", "100000", layer.arg(100000).arg(0)).replace("height=\"1\"", "height=\"100000\"")},
        {"picture too big", map.arg("orthogonal", "100000", "").replace("tilewidth=\"8\"", "tilewidth=\"100000\"")},
        {"tile id twice", map.arg("orthogonal", "1", "<tileset firstgid=\"1\" name=\"t\" tilewidth=\"8\" tileheight=\"8\">"
                                                     "<tile id=\"3\"><image source=\"a.png\"/></tile><tile id=\"3\"><image source=\"b.png\"/></tile></tileset>")},
    };
    for (const auto& c : cases) {
        const QString file = folder.File(QStringLiteral("%1.tmx").arg(&c - cases));
        WriteBytes(file, c.text.toUtf8());
        try {
            const TiledMap read = LoadMap(file);
            MapRenderer(read, {}).Draw();
            ADD_FAILURE() << c.name << " was drawn";
        } catch (const RuntimeError& failure) {
            EXPECT_EQ(failure.Number(), Err::InvalidPicture) << c.name;
            EXPECT_TRUE(failure.File().startsWith(folder.Path())) << c.name << failure.File().toStdString();
            EXPECT_FALSE(failure.Description().contains(failure.File())) << c.name << failure.Description().toStdString();
        }
    }
}

// Tiles taller than the grid, offsets and tile objects cross the bands' edges: drawn a few
// rows at a time, a map is the same picture as drawn whole.
TEST(TiledMapFiles, BandsMakeTheSamePictureAsTheWholeMap) {
    const QString examples = "/usr/share/doc/tiled/examples";
    if (!QFileInfo::exists(examples)) {
        GTEST_SKIP() << "the sample maps of the Debian package tiled are not installed";
    }
    TestFolder folder;
    ASSERT_EQ(std::system(QStringLiteral("cp -r '%1' '%2' && gzip -dfr '%2'").arg(examples, folder.File("ex")).toUtf8().constData()), 0);
    // And a picture layer repeated both ways from an odd offset, half transparent.
    QImage picture(13, 11, QImage::Format_ARGB32);
    for (int y = 0; y < 11; ++y) {
        for (int x = 0; x < 13; ++x) {
            picture.setPixel(x, y, qRgba(x * 19, y * 23, 200, x == y ? 0 : 255));
        }
    }
    ASSERT_TRUE(picture.save(folder.File("ex/p.png")));
    WriteBytes(folder.File("ex/repeat.tmx"), R"(<map version="1.8" orientation="orthogonal" renderorder="right-down" width="9" height="40" tilewidth="16" tileheight="16" infinite="0">
 <imagelayer id="1" name="p" offsetx="5" offsety="-3" opacity="0.5" repeatx="1" repeaty="1"><image source="p.png" width="13" height="11"/></imagelayer>
</map>)");
    for (const char* name : {"perspective_walls.tmx", "sticker-knight/map/sandbox.tmx", "desert.tmx", "repeat.tmx",
                             "isometric_grass_and_water.tmx", "isometric_staggered_grass_and_water.tmx", "hexagonal-mini.tmx",
                             "test_hexagonal_tile_60x60x30.tmx"}) {
        const TiledMap map = LoadMap(folder.File(QStringLiteral("ex/%1").arg(name)));
        const QImage whole = MapRenderer(map, {}).Draw();
        QImage banded(whole.size(), whole.format());
        MapRenderer(map, {}).DrawBands(37, [&](const QImage& band, int top) {
            for (int y = 0; y < band.height(); ++y) {
                std::memcpy(banded.scanLine(top + y), band.constScanLine(y), static_cast<std::size_t>(band.bytesPerLine()));
            }
        });
        int differ = 0, most = 0;
        for (int y = 0; y < whole.height(); ++y) {
            const auto* a = reinterpret_cast<const QRgb*>(whole.constScanLine(y));
            const auto* b = reinterpret_cast<const QRgb*>(banded.constScanLine(y));
            for (int x = 0; x < whole.width(); ++x) {
                if (a[x] != b[x]) {
                    ++differ;
                    for (int shift : {0, 8, 16, 24}) most = std::max(most, std::abs(int((a[x] >> shift) & 255) - int((b[x] >> shift) & 255)));
                }
            }
        }
        EXPECT_EQ(differ, 0) << name << " most " << most;
    }
}

}  // namespace
