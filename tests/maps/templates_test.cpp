#include "support/testsupport.h"

#include "maps/maprenderer.h"
#include "runtime/runtimeerror.h"
#include "tiled/tiledfiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>

namespace {

// A template in its own folder naming its tileset relative to itself, in both forms.
void writeTemplates(const TestFolder& folder) {
    QDir(folder.Path()).mkpath("t");
    QDir(folder.Path()).mkpath("ts");
    QImage sheet(32, 16, QImage::Format_ARGB32);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 32; ++x) {
            sheet.setPixel(x, y, qRgb(x * 8, y * 16, (x / 16) * 200));
        }
    }
    sheet.save(folder.File("ts/sheet.png"));
    WriteBytes(folder.File("ts/s.tsx"), "<tileset name=\"s\" tilewidth=\"16\" tileheight=\"16\" tilecount=\"2\" columns=\"2\">"
                                        "<image source=\"sheet.png\" width=\"32\" height=\"16\"/></tileset>");
    WriteBytes(folder.File("t/hero.tx"), "<?xml version=\"1.0\"?><template><tileset firstgid=\"3\" source=\"../ts/s.tsx\"/>"
                                         "<object name=\"hero\" type=\"player\" gid=\"4\" width=\"32\" height=\"24\" rotation=\"90\"/></template>");
    WriteBytes(folder.File("t/hero.tj"), "{\"type\":\"template\",\"tileset\":{\"firstgid\":3,\"source\":\"../ts/s.tsx\"},"
                                         "\"object\":{\"name\":\"hero\",\"type\":\"player\",\"gid\":4,\"width\":32,\"height\":24,\"rotation\":90}}");
    WriteBytes(folder.File("t/box.tx"), "<template><object name=\"box\" width=\"5\" height=\"5\"><ellipse/></object></template>");
}

QString tmx(const QString& tilesets, const QString& objects) {
    return QStringLiteral("<map orientation=\"orthogonal\" width=\"4\" height=\"4\" tilewidth=\"16\" tileheight=\"16\">%1"
                          "<objectgroup name=\"o\">%2</objectgroup></map>")
        .arg(tilesets, objects);
}

TEST(Templates, InstancesAreTheirTemplateWithTheirOwnAttributesOver) {
    TestFolder folder;
    writeTemplates(folder);
    const QString own = "<tileset firstgid=\"1\" source=\"ts/s.tsx\"/>";
    const struct {
        const char* name;
        QString map;
        const char* file;
        QString objectName;
        std::uint32_t gid;
        QSizeF size;
        double rotation;
        std::size_t tilesets;  // the map's own and the templates' only tilesets
    } cases[] = {
        {"xml, tileset only in the template", tmx("", "<object id=\"1\" template=\"t/hero.tx\" x=\"8\" y=\"40\"/>"), "m.tmx", "hero", 2, {32, 24}, 90, 1},
        {"json template in an xml map", tmx("", "<object id=\"1\" template=\"t/hero.tj\" x=\"8\" y=\"40\"/>"), "m.tmx", "hero", 2, {32, 24}, 90, 1},
        {"template tileset that the map has too", tmx(own, "<object id=\"1\" template=\"t/hero.tx\" x=\"8\" y=\"40\"/>"), "m.tmx", "hero", 2, {32, 24}, 90, 1},
        {"own attributes win", tmx(own, "<object id=\"1\" template=\"t/hero.tx\" name=\"other\" gid=\"1\" width=\"16\" height=\"16\" rotation=\"0\" x=\"8\" y=\"40\"/>"),
         "m.tmx", "other", 1, {16, 16}, 0, 1},
        {"json map", "{\"type\":\"map\",\"orientation\":\"orthogonal\",\"width\":4,\"height\":4,\"tilewidth\":16,\"tileheight\":16,"
                     "\"tilesets\":[{\"firstgid\":1,\"name\":\"e\",\"tilewidth\":16,\"tileheight\":16,\"tilecount\":1,\"columns\":1,"
                     "\"image\":\"ts/sheet.png\",\"imagewidth\":16,\"imageheight\":16}],\"layers\":[{\"type\":\"objectgroup\","
                     "\"name\":\"o\",\"objects\":[{\"id\":1,\"template\":\"t/hero.tj\",\"x\":8,\"y\":40,\"width\":20}]}]}",
         "m.tmj", "hero", 3, {32, 24}, 90, 2},
    };
    for (const auto& c : cases) {
        WriteBytes(folder.File(c.file), c.map.toUtf8());
        const TiledMap map = LoadMap(folder.File(c.file));
        const TiledObject& object = map.layers.at(0).objects.at(0);
        EXPECT_EQ(object.kind, ObjectKind::Tile) << c.name;
        EXPECT_EQ(object.name, c.objectName) << c.name;
        EXPECT_EQ(object.type, "player") << c.name;
        EXPECT_EQ(object.gid, c.gid) << c.name;
        EXPECT_EQ(object.size, c.size) << c.name;
        EXPECT_EQ(object.rotation, c.rotation) << c.name;
        EXPECT_EQ(object.position, QPointF(8, 40)) << c.name;
        EXPECT_EQ(map.tilesets.size(), c.tilesets) << c.name;
        EXPECT_EQ(map.templates.size(), 1) << c.name;
        EXPECT_EQ(map.TilesetOf(object.gid)->tileset->file, QDir(folder.File("ts/s.tsx")).absolutePath()) << c.name;
    }
}

TEST(Templates, TemplateTileObjectsDrawAsTheSameObjectsWrittenOut) {
    TestFolder folder;
    writeTemplates(folder);
    const QString own = "<tileset firstgid=\"1\" source=\"ts/s.tsx\"/>";
    const struct {
        const char* name;
        QString instances;
        QString written;
    } cases[] = {
        {"xml", "<object id=\"1\" template=\"t/hero.tx\" x=\"8\" y=\"40\"/><object id=\"2\" template=\"t/box.tx\" x=\"1\" y=\"1\"/>",
         "<object id=\"1\" gid=\"2\" x=\"8\" y=\"40\" width=\"32\" height=\"24\" rotation=\"90\"/>"
         "<object id=\"2\" name=\"box\" x=\"1\" y=\"1\" width=\"5\" height=\"5\"><ellipse/></object>"},
        {"json, flipped and resized",
         "<object id=\"1\" template=\"t/hero.tj\" x=\"20\" y=\"60\" width=\"16\" height=\"12\" gid=\"2147483650\" rotation=\"0\"/>",
         "<object id=\"1\" gid=\"2147483650\" x=\"20\" y=\"60\" width=\"16\" height=\"12\"/>"},
    };
    for (const auto& c : cases) {
        WriteBytes(folder.File("a.tmx"), tmx(own, c.instances).toUtf8());
        WriteBytes(folder.File("b.tmx"), tmx(own, c.written).toUtf8());
        const TiledMap a = LoadMap(folder.File("a.tmx")), b = LoadMap(folder.File("b.tmx"));
        MapRenderer ra(a, {}), rb(b, {});
        const QImage pa = ra.Draw(), pb = rb.Draw();
        EXPECT_EQ(pa, pb) << c.name;
        EXPECT_NE(pa, QImage(pa.size(), pa.format())) << c.name << ": nothing drawn";
        EXPECT_EQ(ra.ShapesDrawn(), c.instances.count("box")) << c.name << ": the ellipse is a shape";
    }
}

TEST(Templates, BrokenOrMissingTemplatesAreRefusedNamingTheirFile) {
    TestFolder folder;
    writeTemplates(folder);
    WriteBytes(folder.File("t/bad.tx"), "<template><tileset firstgid=\"1\" source=\"nothere.tsx\"/><object gid=\"1\"/></template>");
    WriteBytes(folder.File("t/empty.tx"), "<template/>");
    WriteBytes(folder.File("t/past.tx"), "<template><tileset firstgid=\"1\" source=\"../ts/s.tsx\"/><object gid=\"9\"/></template>");
    WriteBytes(folder.File("t/nested.tj"), "{\"type\":\"template\",\"object\":{\"template\":\"hero.tj\"}}");
    const std::pair<const char*, const char*> cases[] = {
        {"t/gone.tx", "m.tmx"}, {"t/bad.tx", "t/bad.tx"}, {"t/empty.tx", "t/empty.tx"},
        {"t/past.tx", "t/past.tx"}, {"t/nested.tj", "t/nested.tj"}};
    for (const auto& [reference, named] : cases) {
        WriteBytes(folder.File("m.tmx"), tmx("", QStringLiteral("<object id=\"1\" template=\"%1\"/>").arg(reference)).toUtf8());
        try {
            LoadMap(folder.File("m.tmx"));
            ADD_FAILURE() << reference << " was read";
        } catch (const RuntimeError& failure) {
            EXPECT_EQ(QDir::cleanPath(failure.File()), QDir::cleanPath(folder.File(named))) << reference << failure.Description().toStdString();
        }
    }
}

}  // namespace
