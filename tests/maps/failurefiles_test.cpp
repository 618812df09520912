// A reader's failure names its file in the file field only: the command that reports it puts
// the file in front once, and a description holding it too would name it twice.
#include "support/testsupport.h"

#include "runtime/runtimeerror.h"
#include "sheets/sheetbuilder.h"
#include "sheets/tilefolder.h"
#include "tiled/tiledfiles.h"

#include <QDir>
#include <QImage>

#include <gtest/gtest.h>

#include <functional>

namespace {

const char* const MapOf = "<map orientation=\"orthogonal\" width=\"1\" height=\"1\" tilewidth=\"8\" tileheight=\"8\">%1"
                          "<layer name=\"l\" width=\"1\" height=\"1\">%2</layer></map>";

TEST(ReaderFailures, NameTheirFileInTheFieldAndNotInTheDescription) {
    const TestFolder folder;
    const QString external = "<tileset firstgid=\"1\" source=\"t.tsx\"/>";
    const QString oneTile = "<data encoding=\"csv\">1</data>";
    WriteBytes(folder.File("broken.tmx"), QString(MapOf).arg(external, oneTile).toUtf8());
    WriteBytes(folder.File("t.tsx"), "<tileset name=\"t\" tilewidth=\"0\" tileheight=\"8\"/>");
    WriteBytes(folder.File("noimage.tmx"), QString(MapOf).arg("<tileset firstgid=\"1\" source=\"i.tsx\"/>", oneTile).toUtf8());
    WriteBytes(folder.File("i.tsx"),
               "<tileset name=\"i\" tilewidth=\"8\" tileheight=\"8\"><image source=\"gone.png\"/></tileset>");
    WriteBytes(folder.File("stream.tmx"),
               QString(MapOf).arg(external, "<data encoding=\"base64\" compression=\"zlib\">eJz=</data>").toUtf8());
    ASSERT_TRUE(QDir(folder.Path()).mkdir("tiles"));
    QImage tile(16, 16, QImage::Format_RGB32);
    tile.fill(Qt::red);
    ASSERT_TRUE(tile.save(folder.File("tiles/0.png")));
    const QString tiles = folder.File("tiles/");

    const struct {
        const char* name;
        std::function<void()> read;
        QString file;
        QString description;
    } cases[] = {
        {"broken tileset", [&] { LoadMap(folder.File("broken.tmx")); }, folder.File("t.tsx"),
         "tilewidth \"0\" is not from 1 to 131072"},
        // Two files: the tileset that names the image leads, the image stays in the reason.
        {"missing tileset image", [&] { LoadMap(folder.File("noimage.tmx")); }, folder.File("i.tsx"),
         "the tileset image " + folder.File("gone.png") + " is missing or no picture"},
        {"bad layer data stream", [&] { LoadMap(folder.File("stream.tmx"), false); }, folder.File("stream.tmx"),
         "the zlib layer data is cut short: its stream ends after 0 of the 4 bytes of its cells"},
        {"missing tile", [&] { TileFolder(tiles, TileFormat::Png).Path(4); }, tiles + "4.*", "File not found"},
        {"tile of another size",
         [&] { SheetBuilder(TileGrid(QSize(8, 8)), 1, 1, TileFormat::Png).Build([&](std::int64_t) { return tiles + "0.png"; }); },
         tiles + "0.png", "is 16x16 pixels, not 8x8"},
    };
    for (const auto& c : cases) {
        try {
            c.read();
            ADD_FAILURE() << c.name << " was read";
        } catch (const RuntimeError& failure) {
            EXPECT_EQ(failure.File(), c.file) << c.name;
            EXPECT_EQ(failure.Description(), c.description) << c.name;
        }
    }
}

}  // namespace
