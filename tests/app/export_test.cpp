#include "ldtkschema.h"
#include "godotscene.h"
#include "tiledpictures.h"
#include "tilvexrun.h"

#include "imaging/pngchunks.h"

#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTransform>

#include <cmath>

// Maps exported to Phaser are read by Phaser's own parser under Node, and every cell it
// places must show the pixels Tiled's tmxrasterizer draws there from the source map.

namespace {
struct PhaserCell {
    int x = 0, y = 0;
    QString sheet;
    QRect area;  // in the sheet
    double rotation = 0;
    bool flipX = false;
};
struct PhaserLayer {
    QString name;
    bool visible = true;
    double alpha = 1;
    QPointF offset;
    std::vector<PhaserCell> cells;
};
struct PhaserMap {
    std::vector<PhaserLayer> layers;
    QStringList objects;  // "name count polygons"
    QString warnings;     // "0" and nothing else when none
};

PhaserMap phaserParse(const QString& json) {
    const TilvexResult run = runTool(QStandardPaths::findExecutable("node"),
                                     {QStringLiteral(TILVEX_APP_TESTS) + "/phasercells.js", QStringLiteral(TILVEX_NODE_MODULES), json});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    PhaserMap map;
    for (const QString& line : run.out.split('\n', Qt::SkipEmptyParts)) {
        const QStringList f = line.split('\t');
        if (f[0] == "layer") {
            map.layers.push_back({f[1], f[2] == "true", f[3].toDouble(), QPointF(f[4].toDouble(), f[5].toDouble()), {}});
        } else if (f[0] == "cell") {
            map.layers.back().cells.push_back({f[1].toInt(), f[2].toInt(), f[3], QRect(f[4].toInt(), f[5].toInt(), f[6].toInt(), f[7].toInt()),
                                               f[8].toDouble(), f[9] == "true"});
        } else if (f[0] == "objects") {
            map.objects += f.mid(1).join(' ');
        } else if (f[0] == "warnings") {
            map.warnings = f.mid(1).join(' ');
        }
    }
    return map;
}

// The tile as Phaser draws it: mirrored where flipX, then turned clockwise by its rotation.
QImage phaserTile(const QImage& sheet, const PhaserCell& cell) {
    QImage tile = sheet.copy(cell.area);
    if (cell.flipX) {
        tile = tile.mirrored(true, false);
    }
    const int quarters = static_cast<int>(std::lround(cell.rotation / (M_PI / 2))) % 4;
    return tile.transformed(QTransform().rotate(90.0 * quarters)).convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

bool samePixels(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            for (const int shift : {0, 8, 16, 24}) {
                if (std::abs(static_cast<int>((p >> shift) & 0xFF) - static_cast<int>((q >> shift) & 0xFF)) > 1) {
                    return false;
                }
            }
        }
    }
    return true;
}

// The cells of one tile layer as an engine draws them.
using Cells = std::map<std::pair<int, int>, QImage>;

// Checks the cells (premultiplied) against tmxrasterizer's drawing of the layer of rasterMap
// (the source map with every layer opaque, in place and visible); the count compared.
std::int64_t expectCellsShowRaster(const QString& layer, const Cells& cells, const QString& rasterMap, QSize cell, QSize map,
                                   const QString& work) {
    SCOPED_TRACE(layer.toStdString());
    for (const auto& [at, tile] : cells) {
        if (tile.size() != cell) {
            return 0;  // tiles taller or wider than a cell overlap their neighbours
        }
    }
    const QString png = work + "/raster-" + layer + ".png";
    EXPECT_EQ(runTool("tmxrasterizer", {"--no-smoothing", "--ignore-visibility", "--show-layer", layer, rasterMap, png}).status, 0);
    const QImage drawn = QImage(png).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QImage empty(cell, QImage::Format_ARGB32_Premultiplied);
    empty.fill(0);
    int wrong = 0;
    QString first;
    for (int y = 0; y < map.height(); ++y) {
        for (int x = 0; x < map.width(); ++x) {
            const auto found = cells.find({x, y});
            const QImage expected = drawn.copy(QRect(QPoint(x * cell.width(), y * cell.height()), cell));
            if (!samePixels(found == cells.end() ? empty : found->second, expected)) {
                ++wrong;
                first = first.isEmpty() ? QStringLiteral("cell %1,%2").arg(x).arg(y) : first;
            }
        }
    }
    EXPECT_EQ(wrong, 0) << "first at " << first.toStdString();
    return std::int64_t{map.width()} * map.height();
}

QJsonObject jsonFile(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return QJsonDocument::fromJson(file.readAll()).object();
}

// Exports map to Phaser and checks, cell by cell, what Phaser's parser places against the
// source; Phaser's reading for further checks.
PhaserMap expectPhaserPlacesTheSourcePixels(const TilvexProgram& program, const QString& map, const QString& rasterMap,
                                            const QString& out, const QStringList& extra = {}) {
    const TilvexResult run = program.Run(QStringList{"export", map, "--to", "phaser", "--out", out} + extra);
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    const QString json = out + "/" + QFileInfo(map).completeBaseName() + ".json";
    const QJsonObject root = jsonFile(json);
    const QSize cell(root["tilewidth"].toInt(), root["tileheight"].toInt());
    const PhaserMap phaser = phaserParse(json);
    EXPECT_EQ(phaser.warnings, "0") << map.toStdString();
    std::int64_t compared = 0;
    std::map<QString, QImage> sheets;
    for (const PhaserLayer& layer : phaser.layers) {
        Cells cells;
        for (const PhaserCell& c : layer.cells) {
            if (sheets.count(c.sheet) == 0) {
                sheets[c.sheet] = QImage(out + "/" + c.sheet + ".png");
            }
            cells[{c.x, c.y}] = phaserTile(sheets[c.sheet], c);
        }
        compared += expectCellsShowRaster(layer.name.section('/', -1), cells, rasterMap, cell,
                                          QSize(root["width"].toInt(), root["height"].toInt()), out + "/..");
    }
    EXPECT_GT(compared, 0);
    return phaser;
}

// Exports maps to LDtk as one project and checks it against the schema, then every level's
// cells, from gridTiles (src in the sheet, mirrored by f; t and d against LDtk's own grids),
// against the source map drawn by tmxrasterizer. An LDtk layer named Layer_Sheet is the part
// of the source layer "layer" drawn from that sheet. The project for further checks.
QJsonObject expectLdtkPlacesTheSourcePixels(const TilvexProgram& program, const QStringList& maps, const QString& rasterMap,
                                            const QString& out, const QStringList& extra = {}) {
    const TilvexResult run = program.Run(QStringList{"export"} + maps + QStringList{"--to", "ldtk", "--out", out} + extra);
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    const QString file = out + "/" + QFileInfo(maps[0]).completeBaseName() + ".ldtk";
    EXPECT_EQ(ldtkSchemaErrors(file), "");
    const QJsonObject project = jsonFile(file);
    std::map<int, QJsonObject> tilesets;
    std::map<int, QImage> sheets;
    for (const QJsonValue tileset : project["defs"]["tilesets"].toArray()) {
        tilesets[tileset["uid"].toInt()] = tileset.toObject();
        sheets[tileset["uid"].toInt()] = QImage(out + "/" + tileset["relPath"].toString());
        EXPECT_EQ(sheets[tileset["uid"].toInt()].size(), QSize(tileset["pxWid"].toInt(), tileset["pxHei"].toInt()));
    }
    const QJsonArray levels = project["levels"].toArray();
    EXPECT_EQ(levels.size(), maps.size());
    for (const QJsonValue level : levels) {
        std::map<QString, Cells> layers;
        const QJsonArray instances = level["layerInstances"].toArray();
        EXPECT_EQ(instances.size(), project["defs"]["layers"].toArray().size());
        for (const QJsonValue instance : instances) {
            if (instance["__type"] == "Entities") {
                continue;
            }
            const int grid = instance["__gridSize"].toInt();
            const QJsonObject tileset = tilesets[instance["__tilesetDefUid"].toInt()];
            const int step = grid + tileset["spacing"].toInt(), padding = tileset["padding"].toInt();
            Cells& cells = layers[instance["__identifier"].toString().section('_', 0, 0).toLower()];
            for (const QJsonValue tile : instance["gridTiles"].toArray()) {
                const QPoint at(tile["px"][0].toInt() / grid, tile["px"][1].toInt() / grid);
                const QPoint src(tile["src"][0].toInt(), tile["src"][1].toInt());
                const int t = tile["t"].toInt(), columns = tileset["__cWid"].toInt();
                EXPECT_EQ(src, QPoint(padding + t % columns * step, padding + t / columns * step));
                EXPECT_EQ(tile["d"][0].toInt(), at.x() + at.y() * instance["__cWid"].toInt());
                EXPECT_EQ(cells.count({at.x(), at.y()}), 0u);
                const int f = tile["f"].toInt();
                cells[{at.x(), at.y()}] = sheets[instance["__tilesetDefUid"].toInt()]
                                              .copy(QRect(src, QSize(grid, grid)))
                                              .mirrored((f & 1) != 0, (f & 2) != 0)
                                              .convertToFormat(QImage::Format_ARGB32_Premultiplied);
            }
        }
        const QSize cell(instances[0]["__gridSize"].toInt(), instances[0]["__gridSize"].toInt());
        const QSize size(level["pxWid"].toInt() / cell.width(), level["pxHei"].toInt() / cell.height());
        std::int64_t compared = 0;
        for (const auto& [name, cells] : layers) {
            compared += expectCellsShowRaster(name, cells, rasterMap, cell, size, out + "/..");
        }
        EXPECT_GT(compared, 0);
    }
    return project;
}

// Exports the map to Godot into work/levels (work holds project.godot) and checks every
// TileMapLayer's cells, decoded from the scene and the TileSet, against the source; the
// scene's sections for further checks.
std::vector<GodotSection> expectGodotPlacesTheSourcePixels(const TilvexProgram& program, const QString& map, const QString& rasterMap,
                                                           const QString& work) {
    QFile(work + "/project.godot").open(QIODevice::WriteOnly);
    const QString out = work + "/levels";
    const TilvexResult run = program.Run({"export", map, "--to", "godot", "--out", out});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("res:// is the Godot project")) << run.out.toStdString();
    const auto resolve = [&](const QString& res) { return work + "/" + res.mid(QStringLiteral("res://").size()); };
    std::map<QString, QString> textures;  // by ext_resource id
    std::map<QString, const GodotSection*> subs;
    const std::vector<GodotSection> scene = readGodot(out + "/" + QFileInfo(map).completeBaseName() + ".tscn");
    EXPECT_EQ(scene[0].tag, "gd_scene");
    const std::vector<GodotSection> tileset = readGodot(resolve(scene[1].head.at("path")));
    std::map<int, QImage> sheets;
    std::map<int, const GodotSection*> sources;
    for (const GodotSection& section : tileset) {
        if (section.tag == "ext_resource") {
            textures[section.head.at("id")] = resolve(section.head.at("path"));
        } else if (section.tag == "sub_resource") {
            subs[section.head.at("id")] = &section;
        } else if (section.tag == "resource") {
            for (const auto& [key, value] : section.values) {
                if (key.startsWith("sources/")) {
                    const int id = key.mid(8).toInt();
                    sources[id] = subs.at(value.section('"', 1, 1));
                    sheets[id] = QImage(textures.at(sources[id]->Value("texture").section('"', 1, 1)));
                }
            }
        }
    }
    EXPECT_EQ(resolve(scene[1].head.at("path")), out + "/" + QFileInfo(map).completeBaseName() + ".tres");
    QFile tmx(rasterMap);
    EXPECT_TRUE(tmx.open(QIODevice::ReadOnly));
    const auto mapTag = QRegularExpression(QStringLiteral("<map [^>]*")).match(QString::fromUtf8(tmx.readAll())).captured(0);
    const auto attribute = [&](const char* name) {
        return QRegularExpression(QStringLiteral(" %1=\"(\\d+)\"").arg(QLatin1String(name))).match(mapTag).captured(1).toInt();
    };
    const QSize mapSize(attribute("width"), attribute("height"));
    std::int64_t compared = 0;
    for (const GodotSection& node : scene) {
        if (node.tag != "node" || node.head.at("type") != "TileMapLayer") {
            continue;
        }
        Cells cells;
        const QSize cell(attribute("tilewidth"), attribute("tileheight"));
        const std::vector<double> data = numbers(node.Value("tile_map_data"));
        EXPECT_EQ((data.size() - 2) % 12, 0u);
        EXPECT_EQ(data[0] + data[1], 0);  // format 0
        for (std::size_t k = 2; k + 12 <= data.size(); k += 12) {
            const auto field = [&](int n) { return static_cast<std::int16_t>(static_cast<int>(data[k + 2 * n]) | static_cast<int>(data[k + 2 * n + 1]) << 8); };
            const GodotSection& source = *sources.at(field(2));
            const std::vector<double> margins = numbers(source.Value("margins"));
            const std::vector<double> separation = numbers(source.Value("separation"));
            const std::vector<double> region = numbers(source.Value("texture_region_size"));
            const QSize size(static_cast<int>(region[0]), static_cast<int>(region[1]));
            EXPECT_FALSE(source.Value(QStringLiteral("%1:%2/0").arg(field(3)).arg(field(4))).isEmpty());
            const QPoint at(static_cast<int>(margins[0] + field(3) * (size.width() + separation[0])),
                            static_cast<int>(margins[1] + field(4) * (size.height() + separation[1])));
            cells[{field(0), field(1)}] = godotTile(sheets.at(field(2)).copy(QRect(at, size)), static_cast<std::uint16_t>(field(5)));
        }
        compared += expectCellsShowRaster(node.head.at("name"), cells, rasterMap, cell, mapSize, work);
    }
    EXPECT_GT(compared, 0);
    return scene;
}

// A copy of a TMX map beside it whose layers are all opaque, in place, untinted and visible.
QString plainCopy(const QString& tmx) {
    QFile in(tmx);
    EXPECT_TRUE(in.open(QIODevice::ReadOnly));
    QString text = QString::fromUtf8(in.readAll());
    text.remove(QRegularExpression(QStringLiteral(" (opacity|visible|offsetx|offsety|tintcolor)=\"[^\"]*\"")));
    const QString plain = tmx + ".plain.tmx";
    QFile out(plain);
    EXPECT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(text.toUtf8());
    return plain;
}

bool phaserThere() {
    if (QStandardPaths::findExecutable("node").isEmpty() || !QFileInfo::exists(QStringLiteral(TILVEX_NODE_MODULES) + "/phaser/dist/phaser.js")) {
        return false;
    }
    return !QStandardPaths::findExecutable("tmxrasterizer").isEmpty();
}

// A tile picture whose every pixel tells tile and place apart, some of them half transparent
// or of the key colour.
QImage tilePicture(QSize size, int seed) {
    QImage image(size, QImage::Format_ARGB32);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            const int alpha = (x + y + seed) % 7 == 0 ? 128 : 255;
            image.setPixel(x, y, (x == 3 && y == 2) ? 0xFFFF00FFu : qRgba((seed * 37 + x * 13) % 256, (seed * 71 + y * 17) % 256, (x * y + seed) % 256, alpha));
        }
    }
    return image;
}

// Gids with every flip, from three tilesets: a sheet with margin and spacing, an embedded
// sheet with a key colour, and an image collection with gaps in its ids.
struct OwnMap {
    QString tmx;
    QString plain;  // every layer opaque, in place and visible
};

QString layerData(const std::vector<std::uint32_t>& gids, const QString& encoding) {
    if (encoding == "csv") {
        QStringList cells;
        for (const std::uint32_t gid : gids) {
            cells += QString::number(gid);
        }
        return QStringLiteral("<data encoding=\"csv\">%1</data>").arg(cells.join(','));
    }
    if (encoding == "xml") {
        QString tiles;
        for (const std::uint32_t gid : gids) {
            tiles += QStringLiteral("<tile gid=\"%1\"/>").arg(gid);
        }
        return "<data>" + tiles + "</data>";
    }
    QByteArray bytes;
    for (const std::uint32_t gid : gids) {
        for (int k = 0; k < 4; ++k) {
            bytes += static_cast<char>((gid >> (8 * k)) & 0xFF);
        }
    }
    if (encoding == "zlib") {
        return QStringLiteral("<data encoding=\"base64\" compression=\"zlib\">%1</data>").arg(QString::fromLatin1(qCompress(bytes).mid(4).toBase64()));
    }
    return QStringLiteral("<data encoding=\"base64\">%1</data>").arg(QString::fromLatin1(bytes.toBase64()));
}

OwnMap ownMap(const QString& folder, const QString& encoding) {
    QImage a(72, 54, QImage::Format_ARGB32);
    a.fill(0xFFFF00FFu);
    for (int k = 0; k < 12; ++k) {
        QPainter(&a).drawImage(1 + (k % 4) * 18, 1 + (k / 4) * 18, tilePicture(QSize(16, 16), k));
    }
    a.save(folder + "/a.png");
    QImage b(32, 32, QImage::Format_ARGB32);
    for (int k = 0; k < 4; ++k) {
        QPainter painter(&b);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage((k % 2) * 16, (k / 2) * 16, tilePicture(QSize(16, 16), 20 + k));
    }
    b.save(folder + "/b.png");
    for (const int id : {0, 2, 5, 7}) {
        tilePicture(id == 7 ? QSize(32, 32) : QSize(16, 16), 40 + id).save(folder + QStringLiteral("/c%1.png").arg(id));
    }
    QFile tsx(folder + "/a.tsx");
    EXPECT_TRUE(tsx.open(QIODevice::WriteOnly));
    tsx.write("<tileset version=\"1.10\" name=\"ground\" tilewidth=\"16\" tileheight=\"16\" spacing=\"2\" margin=\"1\" tilecount=\"12\" "
              "columns=\"4\"><image source=\"a.png\" width=\"72\" height=\"54\"/><tile id=\"3\"><properties><property name=\"solid\" "
              "type=\"bool\" value=\"true\"/></properties></tile></tileset>");
    tsx.close();
    QFile collection(folder + "/c.tsx");
    EXPECT_TRUE(collection.open(QIODevice::WriteOnly));
    collection.write("<tileset version=\"1.10\" name=\"things\" tilewidth=\"32\" tileheight=\"32\" tilecount=\"4\" columns=\"0\">"
                     "<grid orientation=\"orthogonal\" width=\"1\" height=\"1\"/>"
                     "<tile id=\"0\"><image source=\"c0.png\" width=\"16\" height=\"16\"/></tile>"
                     "<tile id=\"2\"><image source=\"c2.png\" width=\"16\" height=\"16\"/></tile>"
                     "<tile id=\"5\"><image source=\"c5.png\" width=\"16\" height=\"16\"/></tile>"
                     "<tile id=\"7\"><image source=\"c7.png\" width=\"32\" height=\"32\"/></tile></tileset>");
    collection.close();
    const std::uint32_t tiles[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 19, 22, 0};
    std::vector<std::uint32_t> ground, top;
    for (std::uint32_t k = 0; k < 30; ++k) {
        ground.push_back(tiles[k % 20] | (tiles[k % 20] != 0 ? (k % 8) << 29 : 0));
        top.push_back(k % 3 == 0 ? tiles[(k * 7) % 19] | ((k / 3) % 8) << 29 : 0);
    }
    OwnMap map;
    for (const bool plain : {false, true}) {
        const QString file = folder + (plain ? "/plain.tmx" : "/level." + encoding + ".tmx");
        QFile tmx(file);
        EXPECT_TRUE(tmx.open(QIODevice::WriteOnly));
        const QString text = QStringLiteral(
            "<?xml version=\"1.0\"?><map version=\"1.10\" orientation=\"orthogonal\" renderorder=\"right-down\" width=\"6\" height=\"5\" "
            "tilewidth=\"16\" tileheight=\"16\" infinite=\"0\" nextlayerid=\"5\" nextobjectid=\"5\">"
            "<properties><property name=\"level\" type=\"int\" value=\"3\"/></properties>"
            "<tileset firstgid=\"1\" source=\"a.tsx\"/>"
            "<tileset firstgid=\"13\" name=\"props\" tilewidth=\"16\" tileheight=\"16\" tilecount=\"4\" columns=\"2\">"
            "<image source=\"b.png\" trans=\"ff00ff\" width=\"32\" height=\"32\"/></tileset>"
            "<tileset firstgid=\"17\" source=\"c.tsx\"/>"
            "<layer id=\"1\" name=\"ground\" width=\"6\" height=\"5\">%1</layer>"
            "<group id=\"2\" name=\"deco\" %3><layer id=\"3\" name=\"top\" width=\"6\" height=\"5\" %4>%2</layer>"
            "<objectgroup id=\"4\" name=\"things\"><object id=\"1\" x=\"1\" y=\"2\" width=\"10\" height=\"10\"/>"
            "<object id=\"2\" x=\"20\" y=\"20\"><polygon points=\"0,0 10,0 10,10\"/></object>"
            "<object id=\"3\" gid=\"2147483672\" x=\"16\" y=\"64\" width=\"32\" height=\"32\"/>"
            "<object id=\"4\" x=\"5\" y=\"5\" width=\"50\" height=\"20\"><text>hi</text></object></objectgroup></group></map>")
                                 .arg(layerData(ground, encoding), layerData(top, encoding),
                                      plain ? QString() : QStringLiteral("offsetx=\"8\" offsety=\"4\" opacity=\"0.5\""),
                                      plain ? QString() : QStringLiteral("visible=\"0\""));
        tmx.write(text.toUtf8());
        (plain ? map.plain : map.tmx) = file;
    }
    return map;
}
}  // namespace

TEST(ExportPhaser, OwnMapsInEveryEncodingPlaceTheSourcePixels) {
    if (!phaserThere()) {
        GTEST_SKIP() << "node with npm phaser (bash scripts/setup.sh installs it into build-node/) or tmxrasterizer is missing";
    }
    TestFolder folder;
    const TilvexProgram program(folder);
    for (const QString encoding : {"csv", "xml", "base64", "zlib", "tmj"}) {
        SCOPED_TRACE(encoding.toStdString());
        const QString work = folder.File(encoding);
        QDir().mkpath(work + "/maps");
        OwnMap map = ownMap(work + "/maps", encoding == "tmj" ? QStringLiteral("zlib") : encoding);
        if (encoding == "tmj") {
            // Tiled's own JSON of the map, under the name .json that export reads by content.
            const QString tmj = work + "/maps/level.json";
            ASSERT_EQ(runTool("tiled", {"--export-map", map.tmx, tmj}).status, 0);
            map.tmx = tmj;
        }
        for (const int extrude : {0, 2}) {
            SCOPED_TRACE(extrude);
            const QString out = work + QStringLiteral("/out%1").arg(extrude);
            const QStringList extra = extrude > 0 ? QStringList{"--extrude", QString::number(extrude)} : QStringList{};
            const PhaserMap phaser = expectPhaserPlacesTheSourcePixels(program, map.tmx, map.plain, out, extra);
            ASSERT_EQ(phaser.layers.size(), 2u);
            EXPECT_EQ(phaser.layers[0].name, "ground");
            EXPECT_TRUE(phaser.layers[0].visible);
            EXPECT_EQ(phaser.layers[1].name, "deco/top");
            EXPECT_FALSE(phaser.layers[1].visible);
            EXPECT_DOUBLE_EQ(phaser.layers[1].alpha, 0.5);
            EXPECT_EQ(phaser.layers[1].offset, QPointF(8, 4));
            // The text object is left out; the rectangle, polygon and tile object are kept.
            EXPECT_EQ(phaser.objects, QStringList{"deco/things 3 1"});
        }
    }
}

TEST(ExportPhaser, LevelMapsThatSplitWritesPlaceTheSourcePixels) {
    if (!phaserThere()) {
        GTEST_SKIP() << "node with npm phaser (bash scripts/setup.sh installs it into build-node/) or tmxrasterizer is missing";
    }
    TestFolder folder;
    const TilvexProgram program(folder);
    // A level of repeated, mirrored and turned tiles, split into an image collection and a map of flips.
    QImage level(96, 64, QImage::Format_ARGB32);
    for (int k = 0; k < 24; ++k) {
        const QImage tile = tilePicture(QSize(16, 16), k % 5);
        QPainter(&level).drawImage((k % 6) * 16, (k / 6) * 16, k % 3 == 1 ? tile.mirrored(true, false) : k % 3 == 2 ? tile.transformed(QTransform().rotate(90)) : tile);
    }
    level.save(folder.File("level.png"));
    for (const QString map : {"level.tmx", "level.tmj"}) {
        SCOPED_TRACE(map.toStdString());
        const QString work = folder.File(QFileInfo(map).suffix());
        QDir().mkpath(work + "/tiles");
        const TilvexResult split = program.Run({"split", folder.File("level.png"), work + "/tiles", "--tile", "16", "--format", "png", "--unique",
                                                "--flips", "--map", work + "/" + map, "--tileset", work + "/level.tsx"});
        ASSERT_EQ(split.status, 0) << split.err.toStdString();
        QString raster = work + "/" + map;
        if (map.endsWith(".tmj")) {
            raster = work + "/raster.tmx";
            ASSERT_EQ(runTool("tiled", {"--export-map", work + "/" + map, raster}).status, 0);
        }
        expectPhaserPlacesTheSourcePixels(program, work + "/" + map, raster, work + "/out");
    }
}

TEST(ExportGodot, OwnMapsInEveryEncodingPlaceTheSourcePixelsInLayersInOrder) {
    if (QStandardPaths::findExecutable("tmxrasterizer").isEmpty()) {
        GTEST_SKIP() << "tmxrasterizer (Debian package tiled) is not installed";
    }
    TestFolder folder;
    const TilvexProgram program(folder);
    for (const QString encoding : {"csv", "xml", "zlib"}) {
        SCOPED_TRACE(encoding.toStdString());
        const QString work = folder.File(encoding);
        QDir().mkpath(work + "/maps");
        const OwnMap map = ownMap(work + "/maps", encoding);
        const std::vector<GodotSection> scene = expectGodotPlacesTheSourcePixels(program, map.tmx, map.plain, work);
        QStringList nodes;
        for (const GodotSection& node : scene) {
            if (node.tag == "node") {
                nodes += QStringList{node.head.at("name"), node.head.at("type"), node.head.count("parent") ? node.head.at("parent") : "",
                                     node.Value("position"), node.Value("visible"), node.Value("modulate")}
                             .join('|');
            }
        }
        EXPECT_EQ(nodes, (QStringList{"level_" + encoding + "|Node2D||||", "ground|TileMapLayer|.|||", "deco|Node2D|.|Vector2(8, 4)||Color(1, 1, 1, 0.5)",
                                      "top|TileMapLayer|deco||false|", "things|Node2D|deco|||",
                                      "Object1|Area2D|deco/things|Vector2(1, 2)||", "CollisionPolygon2D|CollisionPolygon2D|deco/things/Object1|||",
                                      "Object2|Area2D|deco/things|Vector2(20, 20)||", "CollisionPolygon2D|CollisionPolygon2D|deco/things/Object2|||",
                                      "Object3|Sprite2D|deco/things|Vector2(16, 64)||"}));
    }
}

TEST(ExportGodot, TiledsSamplesAsSavedPlaceTheSourcePixels) {
    TestFolder folder;
    if (copiedTiledSamples(folder, "examples").isEmpty()) {
        GTEST_SKIP() << "tmxrasterizer or the sample maps of Debian's tiled are not installed";
    }
    const TilvexProgram program(folder);
    for (const QString map : {"desert.tmx", "sewers.tmx", "rpg/island.tmx"}) {
        SCOPED_TRACE(map.toStdString());
        const QString source = folder.File("examples/" + map);
        const QString work = folder.File("godot-" + QFileInfo(map).completeBaseName());
        QDir().mkpath(work);
        expectGodotPlacesTheSourcePixels(program, source, plainCopy(source), work);
    }
}

TEST(ExportPhaser, TiledsSamplesAsSavedPlaceTheSourcePixels) {
    if (!phaserThere()) {
        GTEST_SKIP() << "node with npm phaser (bash scripts/setup.sh installs it into build-node/) or tmxrasterizer is missing";
    }
    TestFolder folder;
    if (copiedTiledSamples(folder, "examples").isEmpty()) {
        GTEST_SKIP() << "the sample maps of Debian's tiled are not installed";
    }
    const TilvexProgram program(folder);
    for (const QString map : {"desert.tmx", "sewers.tmx", "rpg/island.tmx"}) {
        SCOPED_TRACE(map.toStdString());
        const QString source = folder.File("examples/" + map);
        const QString out = folder.File(QFileInfo(map).completeBaseName());
        expectPhaserPlacesTheSourcePixels(program, source, plainCopy(source), out);
    }
}

TEST(ExportLdtk, OwnMapsAreSchemaValidAndPlaceTheSourcePixels) {
    if (QStandardPaths::findExecutable("tmxrasterizer").isEmpty() || runTool("/usr/bin/python3", {"-c", "import jsonschema"}).status != 0) {
        GTEST_SKIP() << "tmxrasterizer (Debian tiled) or python3-jsonschema is not installed (bash scripts/setup.sh installs them)";
    }
    TestFolder folder;
    const TilvexProgram program(folder);
    QDir().mkpath(folder.File("maps"));
    // Three tilesets, an image collection and every flip; the same map twice as two levels.
    const OwnMap map = ownMap(folder.File("maps"), QStringLiteral("zlib"));
    for (const int extrude : {0, 2}) {
        SCOPED_TRACE(extrude);
        const QStringList extra = extrude > 0 ? QStringList{"--extrude", QString::number(extrude)} : QStringList{};
        const QJsonObject project = expectLdtkPlacesTheSourcePixels(program, {map.tmx, map.plain}, map.plain, folder.File(QStringLiteral("out%1").arg(extrude)), extra);
        QStringList layers;
        for (const QJsonValue level : project["levels"].toArray()) {
            for (const QJsonValue instance : level["layerInstances"].toArray()) {
                if (!instance["gridTiles"].toArray().isEmpty()) {
                    layers += QStringLiteral("%1 %2 %3 %4,%5 %6")
                                  .arg(level["identifier"].toString(), instance["__identifier"].toString())
                                  .arg(instance["__opacity"].toDouble())
                                  .arg(instance["pxOffsetX"].toInt())
                                  .arg(instance["pxOffsetY"].toInt())
                                  .arg(instance["visible"].toBool() ? 1 : 0);
                }
            }
        }
        // Top-most first; the group's offset and opacity on its layer, its hidden layer hidden.
        // The opaque top layer of the second map needs definitions of its own, named apart;
        // each map's embedded tileset is a sheet of its own (props, props-2).
        EXPECT_EQ(layers, (QStringList{"Level_zlib Top_Ground_2 0.5 8,4 0", "Level_zlib Top_Props 0.5 8,4 0",
                                       "Level_zlib Top_Things_16x16_2 0.5 8,4 0", "Level_zlib Ground_Ground 1 0,0 1",
                                       "Level_zlib Ground_Props 1 0,0 1", "Level_zlib Ground_Things_16x16 1 0,0 1", "Plain Top_Ground 1 0,0 1",
                                       "Plain Top_Props_2 1 0,0 1", "Plain Top_Things_16x16 1 0,0 1", "Plain Ground_Ground 1 0,0 1",
                                       "Plain Ground_Props_2 1 0,0 1", "Plain Ground_Things_16x16 1 0,0 1"}));
    }
}

TEST(Export, RefusalsNameTheirFileAndWriteNothing) {
    TestFolder folder;
    const TilvexProgram program(folder);
    const QString maps = folder.File("maps");
    QDir().mkpath(maps);
    const OwnMap map = ownMap(maps, QStringLiteral("csv"));
    QFile tmx(map.tmx);
    ASSERT_TRUE(tmx.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(tmx.readAll());
    for (const auto& [name, edited] : {std::pair<QString, QString>{"infinite.tmx", QString(text).replace("infinite=\"0\"", "infinite=\"1\"")},
                                       {"missing.tmx", QString(text).replace("a.tsx", "gone.tsx")},
                                       {"oblique.tmx", QString(text).replace("orthogonal", "oblique")},
                                       {"flat.tmx", QString(text).replace("name=\"props\" tilewidth=\"16\" tileheight=\"16\" tilecount=\"4\"",
                                                                          "name=\"props\" tilewidth=\"16\" tileheight=\"8\" tilecount=\"8\"")}}) {
        QFile file(maps + "/" + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(edited.toUtf8());
    }
    QFile(folder.File("afile")).open(QIODevice::WriteOnly);
    struct Case {
        QStringList arguments;
        int status;
        QString message;  // in stderr
    };
    const QString out = folder.File("out");
    const Case cases[] = {
        {{map.tmx, "--to", "phaser", "--out", maps}, 2, "holds " + map.tmx},
        {{map.tmx, "--to", "godot", "--out", folder.Path()}, 2, "which is read"},
        {{map.tmx, "--out", out}, 2, "export needs --to"},
        {{map.tmx, "--to", "unity", "--out", out}, 2, "--to unity"},
        {{map.tmx, map.plain, "--to", "phaser", "--name", "x", "--out", out}, 2, "--name"},
        {{maps + "/infinite.tmx", "--to", "phaser", "--out", out}, 2, maps + "/infinite.tmx: an infinite map"},
        {{maps + "/oblique.tmx", "--to", "phaser", "--out", out}, 2, maps + "/oblique.tmx: an oblique map, which Phaser does not draw"},
        {{map.tmx, maps + "/flat.tmx", "--to", "ldtk", "--out", out}, 2, maps + "/flat.tmx: the tileset props has tiles of 16x8 pixels"},
        {{map.tmx, maps + "/missing.tmx", "--to", "godot", "--out", out}, 1, maps + "/gone.tsx is missing"},
        {{map.tmx, "--to", "phaser", "--out", folder.File("afile")}, 1, "afile"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const QStringList before = QDir(maps).entryList(QDir::Files | QDir::Hidden);
        const TilvexResult run = program.Run(QStringList{"export"} + c.arguments);
        EXPECT_EQ(run.status, c.status);
        EXPECT_TRUE(run.err.contains(c.message)) << run.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(out));
        EXPECT_EQ(QDir(maps).entryList(QDir::Files | QDir::Hidden), before);
        EXPECT_EQ(QFileInfo(folder.File("afile")).size(), 0);
    }
}

TEST(Export, ASheetWrittenFromItsFilesBytesIsCheckedAsADecodedOneIs) {
    TestFolder folder;
    const TilvexProgram program(folder);
    // RGBA PNGs of 32 pixels wide, rows of 16 by 16 tiles (the filter byte of row 5 given),
    // its stream holding some rows: a sound one is written as it is, without being decoded.
    const auto png = [](int height, int rows, char filter) {
        QByteArray stream;
        for (int y = 0; y < rows; ++y) {
            stream += y == 5 ? filter : '\0';
            for (int x = 0; x < 4 * 32; ++x) {
                stream += static_cast<char>(x * 7 + y);
            }
        }
        QByteArray file("\x89PNG\r\n\x1a\n", 8);
        unsigned char ihdr[13] = {0, 0, 0, 32, 0, 0, 0, static_cast<unsigned char>(height), 8, 6, 0, 0, 0};
        AppendPngChunk(file, "IHDR", ihdr, sizeof ihdr);
        const QByteArray zlib = qCompress(stream).mid(4);
        AppendPngChunk(file, "IDAT", zlib.constData(), static_cast<std::size_t>(zlib.size()));
        return file + PngTail();
    };
    QFile tmx(folder.File("m.tmx"));
    ASSERT_TRUE(tmx.open(QIODevice::WriteOnly));
    tmx.write("<?xml version=\"1.0\"?><map version=\"1.10\" orientation=\"orthogonal\" renderorder=\"right-down\" width=\"2\" "
              "height=\"2\" tilewidth=\"16\" tileheight=\"16\" infinite=\"0\" nextlayerid=\"2\" nextobjectid=\"1\">"
              "<tileset firstgid=\"1\" name=\"s\" tilewidth=\"16\" tileheight=\"16\" tilecount=\"4\" columns=\"2\">"
              "<image source=\"s.png\"/></tileset><layer id=\"1\" name=\"l\" width=\"2\" height=\"2\">"
              "<data encoding=\"csv\">1,2,3,4</data></layer></map>");
    tmx.close();
    const std::pair<const char*, QByteArray> cases[] = {
        {"sound", png(32, 32, 0)}, {"unknown filter", png(32, 32, 9)}, {"rows missing", png(48, 32, 0)}, {"rows over", png(32, 48, 0)}};
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        QFile sheet(folder.File("s.png"));
        ASSERT_TRUE(sheet.open(QIODevice::WriteOnly));
        sheet.write(bytes);
        sheet.close();
        const QString out = folder.File(QStringLiteral("out-%1").arg(name).replace(' ', '-'));
        const TilvexResult run = program.Run({"export", folder.File("m.tmx"), "--to", "phaser", "--out", out});
        QFile written(out + "/s.png");
        if (QByteArray(name) == "sound") {
            EXPECT_EQ(run.status, 0) << run.err.toStdString();
            ASSERT_TRUE(written.open(QIODevice::ReadOnly));
            EXPECT_EQ(written.readAll(), bytes);
        } else {
            EXPECT_NE(run.status, 0);
            EXPECT_TRUE(run.err.contains(folder.File("s.png"))) << run.err.toStdString();
            EXPECT_FALSE(QFileInfo::exists(out));
        }
    }
}
