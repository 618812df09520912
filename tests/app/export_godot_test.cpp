#include "godotscene.h"
#include "tiledpictures.h"
#include "tilvexrun.h"

#include <QDir>

// Scenes exported to Godot, decoded and drawn as Godot's TileMapLayer draws them, show what
// `tilvex compile --map` draws of the map (object layers hidden), at any moment of
// its animations; exports into one folder leave each other whole; what Godot cannot hold is
// refused before anything is written.

namespace {
// A TMX map of 6x5 cells on a grid of 16, drawn from a tileset of 16x24 tiles moved by a
// tileoffset: every flip, a group with an offset and opacity over a layer, a hidden layer, an
// animated tile and an object layer. seed changes the sheet's pixels.
QString ownMap(const QString& folder, const QString& name, const QString& orientation, int seed, int grid = 16, const QString& sprites = QString()) {
    QDir().mkpath(folder);
    QImage sheet = noise(QSize(64, 48), seed);
    for (int x = 0; x < 64; x += 7) {
        sheet.setPixel(x, x % 48, qRgba(0, 0, 0, 0));
    }
    sheet.save(folder + "/" + name + ".png");
    QStringList ground, top;
    for (int k = 0; k < 30; ++k) {
        const std::uint32_t flips = static_cast<std::uint32_t>(k % 8) << 29;
        ground += QString::number((static_cast<std::uint32_t>(k % 7 + 1)) | flips);
        top += QString::number(k % 4 == 0 ? 8u : k % 5 == 0 ? (3u | 0x20000000u) : 0u);
    }
    QFile tmx(folder + "/" + name + ".tmx");
    EXPECT_TRUE(tmx.open(QIODevice::WriteOnly));
    tmx.write(QStringLiteral(
                  "<?xml version=\"1.0\"?><map version=\"1.10\" orientation=\"%1\" renderorder=\"%8\" width=\"6\" height=\"5\" "
                  "tilewidth=\"%3\" tileheight=\"%3\" infinite=\"0\" staggeraxis=\"%4\" staggerindex=\"even\" nextlayerid=\"9\" nextobjectid=\"2\">"
                  "<tileset firstgid=\"1\" name=\"things\" tilewidth=\"16\" tileheight=\"24\" tilecount=\"8\" columns=\"4\">"
                  "<tileoffset x=\"2\" y=\"-3\"/><image source=\"%2.png\" width=\"64\" height=\"48\"/>"
                  "<tile id=\"7\"><animation><frame tileid=\"7\" duration=\"100\"/><frame tileid=\"1\" duration=\"200\"/>"
                  "<frame tileid=\"4\" duration=\"300\"/></animation></tile><tile id=\"1\" type=\"wall\"><properties>"
                  "<property name=\"solid\" type=\"bool\" value=\"true\"/><property name=\"cost\" type=\"int\" value=\"3\"/>"
                  "</properties><objectgroup draworder=\"index\"><object id=\"1\" x=\"2\" y=\"4\" width=\"10\" height=\"6\"/>"
                  "<object id=\"2\" x=\"1\" y=\"1\"><polygon points=\"0,0 6,0 3,5\"/></object></objectgroup></tile></tileset>"
                  "<imagelayer id=\"6\" name=\"backdrop\" offsetx=\"5\" offsety=\"7\" opacity=\"0.75\"><image source=\"%2.png\"/></imagelayer>"
                  "<layer id=\"1\" name=\"ground\" width=\"6\" height=\"5\"><data encoding=\"csv\">%5</data></layer>"
                  "<group id=\"2\" name=\"deco\" offsetx=\"8\" offsety=\"4\" opacity=\"0.5\">"
                  "<layer id=\"3\" name=\"top\" width=\"6\" height=\"5\"><data encoding=\"csv\">%6</data></layer></group>"
                  "<layer id=\"4\" name=\"gone\" width=\"6\" height=\"5\" visible=\"0\"><data encoding=\"csv\">%5</data></layer>"
                  "<objectgroup id=\"5\" name=\"things\"><object id=\"1\" name=\"box\" type=\"trigger\" x=\"4\" y=\"4\" width=\"8\" height=\"8\">"
                  "<properties><property name=\"damage points\" type=\"int\" value=\"5\"/></properties></object>"
                  "<object id=\"2\" name=\"spawn\" x=\"10\" y=\"20\"><point/></object>"
                  "<object id=\"3\" x=\"30\" y=\"10\" width=\"20\" height=\"10\"><ellipse/></object>"
                  "<object id=\"4\" x=\"40\" y=\"40\" rotation=\"90\"><polygon points=\"0,0 10,0 5,8\"/></object>"
                  "<object id=\"5\" gid=\"2147483650\" x=\"48\" y=\"64\" width=\"32\" height=\"48\"/></objectgroup>%7</map>")
                  .arg(orientation, name)
                  .arg(grid)
                  .arg(name.endsWith('x') ? "x" : "y", ground.join(','), top.join(','), sprites, name == "leftdown" ? "left-down" : "right-down")
                  .toUtf8());
    return tmx.fileName();
}

// What compile --map draws of the map at ms, its object layers hidden but "sprites".
QImage compiled(const TilvexProgram& program, const QString& map, int ms, QStringList& hiddenLayers) {
    QFile file(map);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    QStringList arguments{"compile", "--map", map, map + ".png", "--advance-animations", QString::number(ms)};
    static const QRegularExpression hidden(QStringLiteral("<objectgroup[^>]* name=\"((?!sprites\")[^\"]*)\""));
    for (auto it = hidden.globalMatch(QString::fromUtf8(file.readAll())); it.hasNext();) {
        hiddenLayers += it.next().captured(1);
        arguments += {"--hide-layer", hiddenLayers.back()};
    }
    const TilvexResult run = program.Run(arguments);
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    return QImage(map + ".png");
}

// The scene of map exported into work/levels (work holds project.godot), drawn at ms.
GodotDrawing drawnScene(const QString& work, const QString& map, QSize size, int ms, const QStringList& hidden) {
    const auto resolve = [&](const QString& res) { return work + "/" + res.mid(QStringLiteral("res://").size()); };
    return drawGodotScene(work + "/levels/" + QFileInfo(map).completeBaseName() + ".tscn", resolve, size, ms, hidden);
}

// Checks the scene of each map against compile --map at every moment given.
void expectScenesDrawTheMaps(const TilvexProgram& program, const QString& work, const QStringList& maps, const std::vector<int>& moments) {
    for (const QString& map : maps) {
        SCOPED_TRACE(map.toStdString());
        for (const int ms : moments) {
            QStringList hidden;
            const QImage expected = compiled(program, map, ms, hidden);
            const GodotDrawing drawing = drawnScene(work, map, expected.size(), ms, hidden);
            EXPECT_EQ(drawing.problems.join('\n'), "");
            const Difference d = difference(drawing.picture, expected);
            EXPECT_EQ(d.beyond2, 0) << "at " << ms << " ms, first " << d.first.toStdString();
        }
    }
}

// A copy of a hexagonal map whose cells keep their mirrors but not their turns, which Godot
// cannot draw.
QString unturned(const QString& map) {
    QFile file(map);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    QString text = QString::fromUtf8(file.readAll());
    static const QRegularExpression gid(QStringLiteral("\\b\\d{9,10}\\b"));
    for (auto match = gid.match(text); match.hasMatch(); match = gid.match(text, match.capturedStart() + 1)) {
        text.replace(match.capturedStart(), match.capturedLength(), QString::number(match.captured().toUInt() & ~0x30000000u));
    }
    QFile copy(map + ".unturned.tmx");
    EXPECT_TRUE(copy.open(QIODevice::WriteOnly));
    copy.write(text.toUtf8());
    return copy.fileName();
}

TilvexResult exportTo(const TilvexProgram& program, const QString& work, const QStringList& arguments) {
    QDir().mkpath(work);
    QFile(work + "/project.godot").open(QIODevice::WriteOnly);
    return program.Run(QStringList{"export"} + arguments + QStringList{"--to", "godot", "--out", work + "/levels"});
}
}  // namespace

TEST(ExportGodot, ScenesDrawAsCompileDrawsTheirMaps) {
    TestFolder folder;
    const QString samples = copiedTiledSamples(folder, "examples");
    if (samples.isEmpty()) {
        GTEST_SKIP() << "tmxrasterizer or the sample maps of Debian's tiled are not installed";
    }
    const TilvexProgram program(folder);
    const QString own = folder.File("own");
    struct Case {
        QStringList maps;  // exported together
        std::vector<int> moments;
    };
    const Case cases[] = {
        {{samples + "/desert.tmx"}, {0}},
        {{samples + "/sewers.tmx"}, {0}},
        {{samples + "/rpg/island.tmx"}, {0, 1500, 3999}},
        {{samples + "/perspective_walls.tmx"}, {0}},
        {{samples + "/orthogonal-outside.tmx"}, {0}},
        {{samples + "/sewer_automap/rule_006.tmx"}, {0}},
        {{samples + "/isometric_grass_and_water.tmx"}, {0}},
        {{samples + "/hexagonal-mini.tmx"}, {0}},
        {{unturned(samples + "/test_hexagonal_tile_60x60x30.tmx")}, {0}},
        // Maps on grids of 16 and 32 pixels, each with a TileSet of its own.
        {{ownMap(own, "plain", "orthogonal", 1), ownMap(own, "wide", "orthogonal", 2, 32)}, {0, 150, 599}},
        {{ownMap(own, "isometric", "isometric", 3), ownMap(own, "leftdown", "orthogonal", 7)}, {0}},
        // Tile objects drawn (this layer is not hidden): mirrored, scaled, moved by the tileoffset.
        {{ownMap(own, "sprites", "orthogonal", 6, 16,
                 "<objectgroup id=\"7\" name=\"sprites\" offsetx=\"3\"><object id=\"6\" gid=\"3\" x=\"10\" y=\"40\"/>"
                 "<object id=\"7\" gid=\"2147483652\" x=\"30\" y=\"70\" width=\"32\" height=\"48\"/>"
                 "<object id=\"8\" gid=\"1073741825\" x=\"70\" y=\"30\" width=\"16\" height=\"24\"/></objectgroup>")},
         {0}},
        {{ownMap(own, "staggered", "staggered", 4), ownMap(own, "staggeredx", "staggered", 5)}, {0, 350}},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.maps.join(' ').toStdString());
        const QString work = folder.File(QStringLiteral("godot%1").arg(n++));
        const TilvexResult run = exportTo(program, work, c.maps);
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        expectScenesDrawTheMaps(program, work, c.maps, c.moments);
    }
}

TEST(ExportGodot, LaterExportsIntoTheFolderLeaveEarlierScenesWhole) {
    TestFolder folder;
    const TilvexProgram program(folder);
    const QString work = folder.File("game");
    // Two tilesets of one name and other pixels, exported one after the other.
    const QString first = ownMap(folder.File("a"), "first", "orthogonal", 1);
    const QString second = ownMap(folder.File("b"), "second", "orthogonal", 2);
    ASSERT_EQ(exportTo(program, work, {first}).status, 0);
    const TilvexResult again = exportTo(program, work, {second});
    ASSERT_EQ(again.status, 0) << again.err.toStdString();
    expectScenesDrawTheMaps(program, work, {first, second}, {0, 150});
    // Again: the copy of the second sheet made the first time is taken, not a third.
    ASSERT_EQ(exportTo(program, work, {second}).status, 0);
    EXPECT_EQ(QDir(work + "/levels").entryList({"things*.png"}), (QStringList{"things-2.png", "things.png"}));
    // A shared TileSet that a scene of the folder draws from is not replaced under it.
    ASSERT_EQ(exportTo(program, work, {first, "--name", "world"}).status, 0);
    const TilvexResult shared = exportTo(program, work, {second, "--name", "world"});
    EXPECT_EQ(shared.status, 2);
    EXPECT_TRUE(shared.err.contains(work + "/levels/first.tscn: draws from world.tres")) << shared.err.toStdString();
    expectScenesDrawTheMaps(program, work, {first}, {0});
}

TEST(ExportGodot, WhatGodotCannotHoldIsRefusedBeforeWriting) {
    TestFolder folder;
    const TilvexProgram program(folder);
    const QString maps = folder.File("maps");
    QFile source(ownMap(maps, "plain", "orthogonal", 1));
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(source.readAll());
    const QString wideRow = QStringLiteral("0,").repeated(40000) + "1";
    struct Case {
        QString name;
        QString map;
        QString message;
    };
    const Case cases[] = {
        {"wide", QString(text).replace("width=\"6\" height=\"5\"", "width=\"40001\" height=\"1\"").replace(QRegularExpression("csv\">[^<]*"), "csv\">" + wideRow),
         "Godot's TileMapLayer holds cells at 16-bit coordinates, at most 32768 a side"},
        {"oblique", QString(text).replace("orthogonal", "oblique"), "a map of orientation oblique, which Godot does not lay out"},
        {"turned", QString(text).replace("orthogonal", "hexagonal\" hexsidelength=\"8"), "cell 1,0 of layer ground turns its tile by 60 or 120 degrees"},
        {"hexagonal", QString(text).replace("orthogonal", "hexagonal\" hexsidelength=\"5"), "hexsidelength 5 is not half its tile height 16"},
        {"scaled", QString(text).replace("columns=\"4\">", "columns=\"4\" tilerendersize=\"grid\">"),
         "the tileset things draws its 16x24 tiles at the map's cell size"},
        {"shared", QString(text).replace("tilewidth=\"16\" tileheight=\"16\"", "tilewidth=\"32\" tileheight=\"32\""), "cannot share the TileSet plain.tres"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        QFile map(maps + "/" + c.name + ".tmx");
        ASSERT_TRUE(map.open(QIODevice::WriteOnly));
        map.write(c.map.toUtf8());
        map.close();
        const QString out = folder.File("out-" + c.name);
        const QStringList named = c.name == "shared" ? QStringList{source.fileName(), map.fileName(), "--name", "plain"} : QStringList{map.fileName()};
        const TilvexResult run = program.Run(QStringList{"export"} + named + QStringList{"--to", "godot", "--out", out});
        EXPECT_EQ(run.status, 2);
        EXPECT_TRUE(run.err.contains(map.fileName() + ": ") && run.err.contains(c.message)) << run.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(out));
    }
}

TEST(ExportGodot, TileSetsHoldCustomDataAndScenesHoldObjectNodes) {
    TestFolder folder;
    const TilvexProgram program(folder);
    const QString work = folder.File("game");
    const TilvexResult run = exportTo(program, work, {ownMap(folder.File("maps"), "plain", "orthogonal", 1)});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    QStringList found;
    const std::vector<GodotSection> tileset = readGodot(work + "/levels/plain.tres");
    for (const GodotSection& section : tileset) {
        for (const auto& [key, value] : section.values) {
            if (key.contains("custom_data") || key.contains("animation")) {
                found += key + " = " + value;
            }
        }
    }
    // Tile 1's collision shapes, about the cell's centre, back in the 16 by 24 tile's pixels
    // through its texture_origin; in the turned alternative, turned.
    ASSERT_EQ(tileset.back().Value("physics_layer_0/collision_layer"), "1");
    for (const int alternative : {0, 1}) {
        const QString key = QStringLiteral("1:0/%1/").arg(alternative);
        const std::vector<double> origin = numbers(tileset[2].Value(key + "texture_origin"));
        ASSERT_EQ(origin.size(), 2u);
        const QSizeF half = alternative == 0 ? QSizeF(8, 12) : QSizeF(12, 8);
        QStringList shapes;
        for (const int polygon : {0, 1}) {
            const std::vector<double> xy = numbers(tileset[2].Value(key + QStringLiteral("physics_layer_0/polygon_%1/points").arg(polygon)));
            QStringList corners;
            for (std::size_t k = 0; k + 1 < xy.size(); k += 2) {
                const QPointF at(xy[k] + half.width() + origin[0], xy[k + 1] + half.height() + origin[1]);
                corners += alternative == 0 ? QStringLiteral("%1,%2").arg(at.x()).arg(at.y()) : QStringLiteral("%1,%2").arg(at.y()).arg(at.x());
            }
            shapes += corners.join(' ');
        }
        EXPECT_EQ(shapes, (QStringList{"2,4 12,4 12,10 2,10", "1,1 7,1 4,6"}));
    }
    // The animated tile's frames, copied to the sheet's third row; the properties and class of tile 1.
    // Both of tile 1's alternatives (plain and turned: 16 by 24 tiles turn into other origins) hold them.
    EXPECT_EQ(found, (QStringList{"1:0/0/custom_data_2 = true", "1:0/0/custom_data_1 = 3", "1:0/0/custom_data_0 = \"wall\"",
                                  "1:0/1/custom_data_2 = true", "1:0/1/custom_data_1 = 3", "1:0/1/custom_data_0 = \"wall\"",
                                  "0:2/animation_columns = 3", "0:2/animation_frames_count = 3", "0:2/animation_frame_0/duration = 0.1",
                                  "0:2/animation_frame_1/duration = 0.2", "0:2/animation_frame_2/duration = 0.3", "custom_data_layer_0/name = \"class\"",
                                  "custom_data_layer_0/type = 4", "custom_data_layer_1/name = \"cost\"", "custom_data_layer_1/type = 2",
                                  "custom_data_layer_2/name = \"solid\"", "custom_data_layer_2/type = 1"}));
    QStringList nodes;
    for (const GodotSection& node : readGodot(work + "/levels/plain.tscn")) {
        if (node.tag == "node" && node.head.count("parent") && node.head.at("parent").startsWith("things")) {
            QStringList line{node.head.at("name"), node.head.at("type")};
            for (const auto& [key, value] : node.values) {
                line += key + "=" + value;
            }
            if (node.head.at("parent") == "things/Object3") {
                // The 20 by 10 ellipse at 30,10: its points, relative to its corner.
                const std::vector<double> xy = numbers(node.Value("polygon"));
                int on = 0;
                for (std::size_t k = 0; k + 1 < xy.size(); k += 2) {
                    on += std::abs(std::pow((xy[k] - 10) / 10, 2) + std::pow((xy[k + 1] - 5) / 5, 2) - 1) < 1e-6 ? 1 : 0;
                }
                line = QStringList{line[0], line[1], QStringLiteral("%1 points on the ellipse").arg(on)};
            }
            nodes += line.join('|');
        }
    }
    EXPECT_EQ(nodes, (QStringList{
                         "box|Area2D|position=Vector2(4, 4)|metadata/id=1|metadata/name=\"box\"|metadata/class=\"trigger\"|metadata/damage_points=5",
                         "CollisionPolygon2D|CollisionPolygon2D|polygon=PackedVector2Array(0, 0, 8, 0, 8, 8, 0, 8)",
                         "spawn|Marker2D|position=Vector2(10, 20)|metadata/id=2|metadata/name=\"spawn\"",
                         "Object3|Area2D|position=Vector2(30, 10)|metadata/id=3",
                         "CollisionPolygon2D|CollisionPolygon2D|24 points on the ellipse",
                         "Object4|Area2D|position=Vector2(40, 40)|rotation=1.57079633|metadata/id=4",
                         "CollisionPolygon2D|CollisionPolygon2D|polygon=PackedVector2Array(0, 0, 10, 0, 5, 8)",
                         "Object5|Sprite2D|position=Vector2(48, 64)|texture=ExtResource(\"0_texture\")|centered=false|offset=Vector2(2, -27)|"
                         "scale=Vector2(2, 2)|flip_h=true|region_enabled=true|region_rect=Rect2(16, 0, 16, 24)|metadata/id=5",
                     }));
}
