#include "ldtkprojects.h"
#include "tiledpictures.h"
#include "tilvexrun.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QRegularExpression>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <algorithm>

// LDtk projects drawn by compile --map and described by info, against a drawing made here
// from LDtk's documentation of its JSON: a level is its background colour, its background
// picture (crop, scale, top-left), then its layers from the last listed to the first, each
// tile's src square of the sheet mirrored by f (bit 0 X, bit 1 Y) at px plus the layer's total
// offset with the layer's opacity times its alpha a, in the order listed.

namespace {
// The level as the documentation says it is shown.
QImage reference(const QString& projectFile, const QJsonObject& root, QJsonObject level) {
    const QDir dir = QFileInfo(projectFile).dir();
    if (level.value("layerInstances").isNull()) {
        level = objectOf(dir.filePath(level.value("externalRelPath").toString()));
    }
    QImage out(level.value("pxWid").toInt(), level.value("pxHei").toInt(), QImage::Format_ARGB32_Premultiplied);
    out.fill(QColor(level.value("__bgColor").toString()));
    QPainter painter(&out);
    if (!level.value("bgRelPath").toString().isEmpty()) {
        const QJsonObject pos = level.value("__bgPos").toObject();
        const QJsonArray crop = pos["cropRect"].toArray(), scale = pos["scale"].toArray(), at = pos["topLeftPx"].toArray();
        const QRectF source(crop[0].toDouble(), crop[1].toDouble(), crop[2].toDouble(), crop[3].toDouble());
        painter.drawImage(QRectF(at[0].toDouble(), at[1].toDouble(), source.width() * scale[0].toDouble(), source.height() * scale[1].toDouble()),
                          QImage(dir.filePath(level.value("bgRelPath").toString())), source);
    }
    const QJsonArray layers = level.value("layerInstances").toArray();
    for (qsizetype k = layers.size() - 1; k >= 0; --k) {
        const QJsonObject l = layers[k].toObject();
        const QJsonValue override = l.value("overrideTilesetUid");
        const int uid = override.isDouble() ? override.toInt() : l.value("__tilesetDefUid").toInt(-1);
        if (!l.value("visible").toBool() || uid < 0) {
            continue;
        }
        QJsonObject tileset;
        for (const QJsonValue t : root["defs"].toObject()["tilesets"].toArray()) {
            tileset = t.toObject()["uid"].toInt() == uid ? t.toObject() : tileset;
        }
        const QImage sheet(dir.filePath(tileset["relPath"].toString()));
        const int side = tileset["tileGridSize"].toInt();
        for (const char* key : {"gridTiles", "autoLayerTiles"}) {
            for (const QJsonValue t : l.value(key).toArray()) {
                const QJsonObject tile = t.toObject();
                const QJsonArray px = tile["px"].toArray(), src = tile["src"].toArray();
                const int f = tile["f"].toInt();
                painter.setOpacity(l.value("__opacity").toDouble() * tile["a"].toDouble(1.0));
                painter.drawImage(QPoint(px[0].toInt() + l.value("__pxTotalOffsetX").toInt(), px[1].toInt() + l.value("__pxTotalOffsetY").toInt()),
                                  sheet.copy(src[0].toInt(), src[1].toInt(), side, side).mirrored((f & 1) != 0, (f & 2) != 0));
            }
        }
    }
    return out;
}

// The levels of a world where its layout puts them, deeper ones first.
QImage worldReference(const QString& file, const QJsonObject& root, const QJsonArray& levels, const QString& layout) {
    std::vector<std::pair<QRect, QJsonObject>> placed;
    QRect bounds;
    QPoint next(0, 0);
    for (const QJsonValue v : levels) {
        const QJsonObject l = v.toObject();
        const QSize size(l["pxWid"].toInt(), l["pxHei"].toInt());
        const QPoint at = layout.startsWith("Linear") ? next : QPoint(l["worldX"].toInt(), l["worldY"].toInt());
        next += layout == "LinearHorizontal" ? QPoint(size.width(), 0) : QPoint(0, size.height());
        placed.emplace_back(QRect(at, size), l);
        bounds |= placed.back().first;
    }
    std::stable_sort(placed.begin(), placed.end(), [](const auto& a, const auto& b) { return a.second["worldDepth"].toInt() < b.second["worldDepth"].toInt(); });
    QImage out(bounds.size(), QImage::Format_ARGB32_Premultiplied);
    out.fill(0u);
    QPainter painter(&out);
    for (const auto& [area, l] : placed) {
        painter.drawImage(area.topLeft() - bounds.topLeft(), reference(file, root, l));
    }
    return out;
}

void expectDrawn(const TilvexProgram& tilvex, const QString& file, const QStringList& extra, const QImage& expected, const QString& what) {
    const QString out = QFileInfo(file).dir().filePath("drawn.png");
    QFile::remove(out);
    const TilvexResult run = tilvex.Run(QStringList{"compile", "--map", file, out} + extra);
    ASSERT_EQ(run.status, 0) << what.toStdString() << ": " << run.err.toStdString();
    const Difference d = difference(QImage(out), expected);
    EXPECT_EQ(d.beyond2, 0) << what.toStdString() << ": " << d.pixels << " pixels differ, first " << d.first.toStdString();
}

TEST(LdtkIn, LevelsDrawnAsLdtkShowsThem) {
    TestFolder folder;
    const TilvexProgram tilvex(folder);
    for (const LevelCase& c : levelCases()) {
        const QJsonArray levels = caseLevel(c);
        const QString file = folder.File("level.ldtk");
        WriteBytes(file, project(folder, levels));
        expectDrawn(tilvex, file, {}, reference(file, objectOf(file), levels[0].toObject()), QString::fromLatin1(c.what));
    }
}

// The level exported to Tiled, as tmxrasterizer draws it with its object layers hidden, cut to
// the level (the picture grows up and left by negative layer offsets); empty without tmxrasterizer.
QImage tiledDrawing(const QString& tmx, QSize level) {
    QFile in(tmx);
    EXPECT_TRUE(in.open(QIODevice::ReadOnly)) << tmx.toStdString();
    const QString text = QString::fromUtf8(in.readAll());
    QStringList arguments{"--no-smoothing"};
    static const QRegularExpression objects(QStringLiteral("<objectgroup id=\"\\d+\" name=\"([^\"]*)\""));
    for (const QRegularExpressionMatch& m : objects.globalMatch(text)) {
        arguments << "--hide-layer" << m.captured(1);
    }
    QPoint origin(0, 0);
    static const QRegularExpression offsets(QStringLiteral("offset([xy])=\"(-[0-9.]+)\""));
    for (const QRegularExpressionMatch& m : offsets.globalMatch(text)) {
        (m.captured(1) == "x" ? origin.rx() : origin.ry()) = std::max(m.captured(1) == "x" ? origin.x() : origin.y(), -m.captured(2).toInt());
    }
    const QString png = tmx + ".png";
    const TilvexResult run = runTool(tiledTool("tmxrasterizer"), arguments + QStringList{tmx, png});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    // tmxrasterizer leaves out the map's background colour, which Tiled shows under the map.
    static const QRegularExpression background(QStringLiteral("backgroundcolor=\"(#[0-9a-f]+)\""));
    QImage shown(level, QImage::Format_ARGB32_Premultiplied);
    shown.fill(QColor(background.match(text).captured(1)));
    QPainter(&shown).drawImage(QPoint(0, 0), QImage(png).copy(QRect(origin, level)));
    return shown;
}

TEST(LdtkIn, LevelsExportedToTiledDrawAsTheLevel) {
    if (tiledTool("tmxrasterizer").isEmpty()) {
        GTEST_SKIP() << "tmxrasterizer (Debian's tiled) is not installed";
    }
    TestFolder folder;
    const TilvexProgram tilvex(folder);
    const QString out = folder.File("tiled");
    for (const LevelCase& c : levelCases()) {
        const QJsonArray levels = caseLevel(c);
        const QString file = folder.File("level.ldtk");
        WriteBytes(file, project(folder, levels));
        const TilvexResult run = tilvex.Run({"export", file, "--to", "tiled", "--out", out});
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        const Difference d = difference(tiledDrawing(out + "/One.tmx", QSize(100, 70)), reference(file, objectOf(file), levels[0].toObject()));
        EXPECT_EQ(d.beyond2, 0) << c.what << ": " << d.pixels << " pixels differ, first " << d.first.toStdString();
    }
    // An IntGrid layer's values: a hidden layer over a tile per value, with its properties.
    QJsonArray levels = caseLevel(levelCases().front());
    QJsonObject withValues = levels[0].toObject();
    QJsonArray layers = withValues["layerInstances"].toArray();
    QJsonObject values = layer("Walls", "IntGrid", 8, QSize(3, 2), -1, {});
    values["layerDefUid"] = 101;
    values["intGridCsv"] = QJsonArray{0, 2, 1, 0, 0, 2};
    layers.insert(0, values);
    withValues["layerInstances"] = layers;
    levels[0] = withValues;
    QJsonObject root = QJsonDocument::fromJson(project(folder, levels)).object(), defs = root["defs"].toObject();
    QJsonArray definitions = defs["layers"].toArray();
    definitions.append(QJsonObject{{"uid", 101}, {"identifier", "Walls"}, {"type", "IntGrid"},
                                   {"intGridValues", QJsonArray{QJsonObject{{"value", 1}, {"identifier", "stone"}, {"color", "#808080"}},
                                                               QJsonObject{{"value", 2}, {"identifier", "water"}, {"color", "#2040ff"}}}}});
    defs["layers"] = definitions;
    root["defs"] = defs;
    const QString valued = folder.File("values.ldtk");
    WriteBytes(valued, QJsonDocument(root).toJson());
    const QString valuesOut = folder.File("values");
    ASSERT_EQ(tilvex.Run({"export", valued, "--to", "tiled", "--out", valuesOut}).status, 0);
    QFile valuesTmx(valuesOut + "/One.tmx"), valuesTsx(valuesOut + "/Walls_values.tsx");
    ASSERT_TRUE(valuesTmx.open(QIODevice::ReadOnly) && valuesTsx.open(QIODevice::ReadOnly));
    const QString map = QString::fromUtf8(valuesTmx.readAll()), tileset = QString::fromUtf8(valuesTsx.readAll());
    // Every hidden layer of the values together places value 2, 1 and 2 (tiles 1, 0, 1).
    static const QRegularExpression hidden(QStringLiteral("<layer id=\"\\d+\" name=\"Walls values[ 0-9]*\" visible=\"0\"[^>]*>\\s*<data encoding=\"csv\">([^<]*)<"));
    const int first = map.section("source=\"Walls_values.tsx\"", 0, 0).section("firstgid=\"", -1).section('"', 0, 0).toInt();
    std::vector<int> placed;
    for (const QRegularExpressionMatch& m : hidden.globalMatch(map)) {
        for (const QString& gid : m.captured(1).simplified().remove(' ').split(',')) {
            if (gid.toInt() != 0) {
                placed.push_back(gid.toInt() - first);
            }
        }
    }
    std::sort(placed.begin(), placed.end());
    EXPECT_EQ(placed, (std::vector<int>{0, 1, 1})) << map.toStdString();
    for (const char* expected : {R"(<tile id="0">)", R"(<property name="value" type="int" value="1"/>)", R"(<property name="identifier" value="water"/>)"}) {
        EXPECT_TRUE(tileset.contains(QString::fromUtf8(expected))) << expected << " not in\n" << tileset.toStdString();
    }
    EXPECT_EQ(difference(tiledDrawing(valuesOut + "/One.tmx", QSize(100, 70)), reference(valued, root, levels[0].toObject())).beyond2, 0);

    // One object per entity, its class, position from the pivot, tile, iid and fields kept;
    // a reference to an entity of the map as an object property.
    QFile tmx(out + "/One.tmx");
    ASSERT_TRUE(tmx.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(tmx.readAll());
    EXPECT_EQ(text.count("<object "), 2);
    for (const char* expected : {R"(<object id="1" class="Door" gid="2" x="16" y="32" width="16" height="16")",
                                 R"(<property name="iid" value="door-1"/>)", R"(<property name="to" type="object" value="2"/>)",
                                 R"(<property name="hp" type="int" value="3"/>)", R"(<object id="2" class="Key" x="40" y="8" width="8" height="8")"}) {
        EXPECT_TRUE(text.contains(QString::fromUtf8(expected))) << expected << " not in\n" << text.toStdString();
    }
}

// A level carried to Tiled and from there to Phaser, read by Phaser's own parser without a
// warning, every tile of the level placed.
TEST(LdtkIn, ToPhaserThroughTiled) {
    const QString modules = QStringLiteral(TILVEX_NODE_MODULES);
    if (QStandardPaths::findExecutable("node").isEmpty() || !QFileInfo::exists(modules + "/phaser/dist/phaser.js")) {
        GTEST_SKIP() << "node or npm phaser is missing (bash scripts/setup.sh installs phaser)";
    }
    TestFolder folder;
    const TilvexProgram tilvex(folder);
    const LevelCase c = levelCases()[3];  // stacked tiles, an alpha between
    const QString file = folder.File("level.ldtk");
    WriteBytes(file, project(folder, caseLevel(c)));
    ASSERT_EQ(tilvex.Run({"export", file, "--to", "tiled", "--out", folder.File("tiled")}).status, 0);
    const TilvexResult run = tilvex.Run({"export", folder.File("tiled/One.tmx"), "--to", "phaser", "--out", folder.File("phaser")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const TilvexResult parsed = runTool(QStandardPaths::findExecutable("node"),
                                        {QStringLiteral(TILVEX_APP_TESTS) + "/phasercells.js", modules, folder.File("phaser/One.json")});
    ASSERT_EQ(parsed.status, 0) << parsed.err.toStdString();
    EXPECT_TRUE(parsed.out.contains("warnings\t0")) << parsed.out.toStdString();
    EXPECT_EQ(parsed.out.count("\ncell\t") + (parsed.out.startsWith("cell\t") ? 1 : 0), static_cast<qsizetype>(c.tiles.size()) + 2);
}

TEST(LdtkIn, BackgroundPictureCroppedScaledPlaced) {
    TestFolder folder;
    const TilvexProgram tilvex(folder);
    noise(QSize(40, 30), 5).save(folder.File("bg.png"));
    const QJsonObject cases[] = {
        QJsonObject{{"cropRect", QJsonArray{0, 0, 40, 30}}, {"scale", QJsonArray{1, 1}}, {"topLeftPx", QJsonArray{10, 5}}},
        QJsonObject{{"cropRect", QJsonArray{4, 2, 20, 16}}, {"scale", QJsonArray{2, 3}}, {"topLeftPx", QJsonArray{-6, 1}}},
    };
    for (const QJsonObject& pos : cases) {
        const QJsonArray levels{level("Bg", QSize(64, 48), QPoint(0, 0), {layer("T", "Tiles", 16, QSize(4, 3), 1, {{16, 16, 0, 0}})},
                                      {{"bgRelPath", "bg.png"}, {"__bgPos", pos}})};
        const QString file = folder.File("bg.ldtk");
        WriteBytes(file, project(folder, levels));
        expectDrawn(tilvex, file, {}, reference(file, objectOf(file), levels[0].toObject()), "background " + QJsonDocument(pos).toJson(QJsonDocument::Compact));
    }
}

TEST(LdtkIn, WorldsPlacedByTheirLayout) {
    TestFolder folder;
    const TilvexProgram tilvex(folder);
    const auto levelsAt = [](QPoint a, QPoint b, QPoint c) {
        QJsonObject deep = level("C", QSize(32, 48), c, {layer("T", "Tiles", 16, QSize(2, 3), 1, {{0, 0, 16, 16}, {16, 32, 48, 0}})});
        deep["worldDepth"] = -1;
        deep["__bgColor"] = "#a0b0c0";
        return QJsonArray{level("A", QSize(64, 32), a, {layer("T", "Tiles", 16, QSize(4, 2), 1, {{0, 0, 0, 0}, {48, 16, 32, 32}})}),
                          level("B", QSize(48, 48), b, {layer("T", "Tiles", 16, QSize(3, 3), 1, {{16, 16, 16, 0, 1}})}), deep};
    };
    for (const QString layout : {"Free", "GridVania", "LinearHorizontal", "LinearVertical"}) {
        const QJsonArray levels = levelsAt(QPoint(-40, -16), QPoint(30, 8), QPoint(0, 0));
        const QString file = folder.File("world.ldtk");
        WriteBytes(file, project(folder, levels, layout));
        expectDrawn(tilvex, file, {}, worldReference(file, objectOf(file), levels, layout), layout);
        expectDrawn(tilvex, file, {"--level", "B"}, reference(file, objectOf(file), levels[1].toObject()), layout + " --level B");
        // The .world of the export places the maps as LDtk does.
        const QString out = folder.File("tiled-" + layout);
        ASSERT_EQ(tilvex.Run({"export", file, "--to", "tiled", "--out", out}).status, 0);
        const QJsonArray maps = objectOf(out + "/World.world")["maps"].toArray();
        const QPoint linear[] = {{0, 0}, layout == "LinearHorizontal" ? QPoint(64, 0) : QPoint(0, 32),
                                 layout == "LinearHorizontal" ? QPoint(112, 0) : QPoint(0, 80)};
        ASSERT_EQ(maps.size(), 3);
        for (qsizetype k = 0; k < 3; ++k) {
            const QJsonObject l = levels[k].toObject(), m = maps[k].toObject();
            const QPoint expected = layout.startsWith("Linear") ? linear[k] : QPoint(l["worldX"].toInt(), l["worldY"].toInt());
            EXPECT_EQ(m["fileName"].toString(), l["identifier"].toString() + ".tmx");
            EXPECT_EQ(QPoint(m["x"].toInt(), m["y"].toInt()), expected) << layout.toStdString() << " level " << k;
        }
    }
}

TEST(LdtkIn, InfoListsWorldsLevelsLayersAndTilesets) {
    TestFolder folder;
    const TilvexProgram tilvex(folder);
    const QJsonArray levels{level("A", QSize(64, 32), QPoint(-40, 16), {layer("T", "Tiles", 16, QSize(4, 2), 1, {{0, 0, 0, 0}, {16, 0, 0, 0}})}),
                            level("B", QSize(48, 48), QPoint(30, 8), {layer("I", "IntGrid", 8, QSize(6, 6), 2, {{0, 0, 2, 2}})})};
    const QString file = folder.File("info.ldtk");
    WriteBytes(file, project(folder, levels, "GridVania"));
    const TilvexResult text = tilvex.Run({"info", file});
    ASSERT_EQ(text.status, 0) << text.err.toStdString();
    for (const QString line : {"\tlevel\tWorld\tA\t64x32\t-40\t16", "\tlayer\tA\tTiles\tT\t4x2 cells of 16\tBig\t2 tiles\t0 entities\tvisible",
                               "\tlayer\tB\tIntGrid\tI\t6x6 cells of 8\tSmall\t1 tile", "\ttileset\tInternal_Icons\t16x16 tiles\tno picture"}) {
        EXPECT_TRUE(text.out.contains(line)) << line.toStdString() << " not in\n" << text.out.toStdString();
    }
    const TilvexResult json = tilvex.Run({"info", "--json", file});
    const QJsonObject described = QJsonDocument::fromJson(json.out.toUtf8()).object()["projects"].toArray()[0].toObject();
    EXPECT_EQ(described["worlds"].toArray()[0].toObject()["layout"].toString(), "GridVania");
    EXPECT_EQ(described["levels"].toArray()[1].toObject()["worldX"].toInt(), 30);
    EXPECT_EQ(described["levels"].toArray()[0].toObject()["layers"].toArray()[0].toObject()["tiles"].toInt(), 2);
}

TEST(LdtkIn, BadProjectsRefusedNamingFileLevelAndLayer) {
    TestFolder folder;
    const TilvexProgram tilvex(folder);
    const QJsonArray good{level("L", QSize(32, 32), QPoint(0, 0), {layer("T", "Tiles", 16, QSize(2, 2), 1, {{0, 0, 0, 0}})})};
    const QByteArray whole = project(folder, good);
    const auto withLevel = [&](QJsonObject change, QJsonObject layerChange = {}) {
        QJsonObject l = good[0].toObject();
        QJsonObject t = l["layerInstances"].toArray()[0].toObject();
        for (auto it = layerChange.begin(); it != layerChange.end(); ++it) {
            t[it.key()] = it.value();
        }
        l["layerInstances"] = QJsonArray{t};
        for (auto it = change.begin(); it != change.end(); ++it) {
            l[it.key()] = it.value();
        }
        return project(folder, QJsonArray{l});
    };
    QByteArray nested(100000, '[');
    const struct {
        const char* what;
        QByteArray bytes;
        const char* says;
    } cases[] = {
        {"cut JSON", whole.left(whole.size() / 2), "invalid JSON"},
        {"no JSON object", "[1, 2]", "no LDtk project"},
        {"nested to exhaust the parser", "{\"a\":" + nested, "too deeply nested"},
        {"older than 1.0", QByteArray(whole).replace("1.5.3", "0.9.3"), "older than 1.0"},
        {"missing tileset picture", QByteArray(whole).replace("sheet16.png", "gone.png"), "gone.png"},
        {"src outside the sheet", withLevel({}, {{"gridTiles", QJsonArray{QJsonObject{{"px", pair(0, 0)}, {"src", pair(64, 0)}}}}}),
         "level \"L\" layer \"T\": a tile's src [64,0] lies outside"},
        {"level of width 0", withLevel({{"pxWid", 0}}), "level \"L\": pxWid"},
        {"huge level", withLevel({{"pxHei", 1e9}}), "level \"L\": pxHei"},
        {"huge number", QByteArray(whole).replace("\"pxWid\": 32", "\"pxWid\": 1e999"), "illegal number"},
        {"huge grid", withLevel({}, {{"__cWid", 100000}, {"__cHei", 100000}}), "cells"},
        {"missing level file", withLevel({{"layerInstances", QJsonValue()}, {"externalRelPath", "gone/L.ldtkl"}}), "level \"L\": its level file"},
    };
    const QString out = folder.File("out.png");
    for (const auto& c : cases) {
        const QString file = folder.File("bad.ldtk");
        WriteBytes(file, c.bytes);
        for (const QStringList& args : {QStringList{"compile", "--map", file, out}, QStringList{"info", file}}) {
            const TilvexResult run = tilvex.Run(args);
            EXPECT_NE(run.status, 0) << c.what;
            EXPECT_TRUE(run.err.contains(file) && run.err.contains(QString::fromUtf8(c.says))) << c.what << ": " << run.err.toStdString();
        }
        EXPECT_FALSE(QFileInfo::exists(out)) << c.what;
    }
}

// LDtk's own sample projects (MIT), from a copy of deepnight/ldtk that scripts/setup.sh fetches:
// every level of every sample drawn as the documentation says, the separate level files
// included, by compile and by tmxrasterizer from the export to Tiled.
TEST(LdtkIn, LdtkSamplesDrawnLevelByLevel) {
    const QString samples = QStringLiteral(TILVEX_LDTK_SAMPLES);
    if (!QFileInfo::exists(samples + "/Typical_TopDown_example.ldtk")) {
        GTEST_SKIP() << "LDtk's samples are not at " << samples.toStdString() << " (scripts/setup.sh fetches them)";
    }
    TestFolder folder;
    const TilvexProgram tilvex(folder);
    EXPECT_EQ(runTool("cp", {"-r", samples, folder.File("s")}).status, 0);
    int drawn = 0;
    for (const QString& name : QDir(folder.File("s")).entryList({"*.ldtk"})) {
        const QString file = folder.File("s/" + name);
        const QJsonObject root = objectOf(file);
        // Sheets of Aseprite files have no picture here to draw the reference from: their
        // levels are checked in Tiled against compile's drawing (the decoder has its own tests).
        const bool aseprite = QString::fromUtf8(QJsonDocument(root["defs"].toObject()["tilesets"].toArray()).toJson()).contains(".aseprite");
        const QString out = folder.File("tiled-" + name);
        const bool tiled = !tiledTool("tmxrasterizer").isEmpty();
        if (tiled) {
            const TilvexResult run = tilvex.Run({"export", file, "--to", "tiled", "--out", out});
            ASSERT_EQ(run.status, 0) << name.toStdString() << ": " << run.err.toStdString();
        }
        for (const QJsonValue l : root["levels"].toArray()) {
            const QString id = l.toObject()["identifier"].toString();
            QImage expected = reference(file, root, l.toObject());
            if (aseprite) {
                const QString drawn = folder.File("drawn.png");
                ASSERT_EQ(tilvex.Run({"compile", "--map", file, drawn, "--level", id}).status, 0) << name.toStdString();
                expected = QImage(drawn);
            } else {
                expectDrawn(tilvex, file, {"--level", id}, expected, name + " " + id);
            }
            if (tiled) {
                const Difference d = difference(tiledDrawing(out + "/" + id + ".tmx", expected.size()), expected);
                EXPECT_EQ(d.beyond2, 0) << name.toStdString() << " " << id.toStdString() << " in Tiled: " << d.pixels << " pixels differ, first " << d.first.toStdString();
            }
            ++drawn;
        }
    }
    EXPECT_GE(drawn, 40);
}
}  // namespace
