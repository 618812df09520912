#include "ldtkschema.h"
#include "tiledpictures.h"
#include "tilvexrun.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>

// Objects exported to LDtk become entities drawn where Tiled draws them, properties become
// fields and tile data, and what LDtk's 32-bit integers cannot hold is refused.

namespace {
QJsonObject jsonOf(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return QJsonDocument::fromJson(file.readAll()).object();
}

void writeText(const QString& path, const QString& text) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text.toUtf8());
}

QString mapText(QSize cells, QSize tile, const QString& body) {
    return QStringLiteral("<?xml version=\"1.0\"?><map version=\"1.10\" orientation=\"orthogonal\" renderorder=\"right-down\" width=\"%1\" "
                          "height=\"%2\" tilewidth=\"%3\" tileheight=\"%4\" infinite=\"0\" nextlayerid=\"9\" nextobjectid=\"99\">%5</map>")
        .arg(cells.width())
        .arg(cells.height())
        .arg(tile.width())
        .arg(tile.height())
        .arg(body);
}

// Tile objects of two tilesets over one sheet (the second aligns its objects at their centre),
// flipped and stretched; shapes of every kind with properties of every type; and what LDtk
// cannot hold: a tint, a blend mode, a layer property, an animation and a collision shape.
void writeEntityMap(const QString& folder) {
    noise(QSize(32, 32), 7).save(folder + "/s.png");
    QString ground;
    for (int k = 0; k < 30; ++k) {
        ground += QString::number(k % 4 + 9) + (k < 29 ? "," : "");
    }
    writeText(folder + "/m.tmx",
              mapText(QSize(6, 5), QSize(16, 16),
                      "<properties><property name=\"music\" type=\"file\" value=\"sounds/a.ogg\"/>"
                      "<property name=\"boss\" type=\"object\" value=\"3\"/></properties>"
                      "<tileset firstgid=\"1\" name=\"a\" tilewidth=\"16\" tileheight=\"16\" tilecount=\"4\" columns=\"2\">"
                      "<image source=\"s.png\" width=\"32\" height=\"32\"/><tile id=\"1\" type=\"wall\"><properties>"
                      "<property name=\"hp\" type=\"int\" value=\"5\"/><property name=\"solid\" type=\"bool\" value=\"true\"/></properties></tile>"
                      "<tile id=\"2\"><objectgroup><object id=\"1\" width=\"4\" height=\"4\"/></objectgroup><animation>"
                      "<frame tileid=\"2\" duration=\"100\"/><frame tileid=\"3\" duration=\"100\"/></animation></tile></tileset>"
                      "<tileset firstgid=\"5\" name=\"b\" tilewidth=\"16\" tileheight=\"16\" tilecount=\"4\" columns=\"2\" "
                      "objectalignment=\"center\"><image source=\"s.png\" width=\"32\" height=\"32\"/></tileset>"
                      "<tileset firstgid=\"9\" name=\"c\" tilewidth=\"16\" tileheight=\"16\" tilecount=\"4\" columns=\"2\">"
                      "<tileoffset x=\"3\" y=\"-2\"/><image source=\"s.png\" width=\"32\" height=\"32\"/></tileset>"
                      "<layer id=\"1\" name=\"ground\" width=\"6\" height=\"5\"><properties>"
                      "<property name=\"p\" value=\"x\"/></properties><data encoding=\"csv\">" + ground + "</data></layer>"
                      "<objectgroup id=\"2\" name=\"tiles\">"
                      "<object id=\"1\" type=\"Crate\" gid=\"2\" x=\"16\" y=\"32\" width=\"16\" height=\"16\"/>"
                      "<object id=\"2\" type=\"Crate\" gid=\"2147483651\" x=\"40\" y=\"48\" width=\"32\" height=\"16\"/>"
                      "<object id=\"3\" type=\"Crate\" gid=\"1073741828\" x=\"0\" y=\"80\" width=\"16\" height=\"32\"/>"
                      "<object id=\"4\" type=\"Crate\" gid=\"6\" x=\"72\" y=\"24\" width=\"16\" height=\"16\"/></objectgroup>"
                      "<objectgroup id=\"3\" name=\"shapes\" tintcolor=\"#80ff0000\" mode=\"multiply\">"
                      "<object id=\"5\" type=\"Box\" x=\"1.4\" y=\"2.6\" width=\"10\" height=\"12\" rotation=\"30\"><properties>"
                      "<property name=\"speed\" type=\"float\" value=\"1.5\"/><property name=\"tint\" type=\"color\" value=\"#ff102030\"/>"
                      "<property name=\"door\" type=\"object\" value=\"1\"/><property name=\"note\" value=\"a&#10;b\"/></properties></object>"
                      "<object id=\"6\" type=\"Spot\" x=\"8\" y=\"9\"><point/></object>"
                      "<object id=\"7\" type=\"Ring\" x=\"2\" y=\"3\" width=\"6\" height=\"6\"><ellipse/></object>"
                      "<object id=\"8\" type=\"Outline\" x=\"20\" y=\"20\"><polygon points=\"0,0 10,-5 12,8\"/></object>"
                      "<object id=\"9\" type=\"Label\" x=\"5\" y=\"5\" width=\"40\" height=\"10\"><text>hi</text></object></objectgroup>"));
}

std::map<int, QJsonObject> byUid(const QJsonArray& list) {
    std::map<int, QJsonObject> found;
    for (const QJsonValue item : list) {
        found[item["uid"].toInt()] = item.toObject();
    }
    return found;
}

const QJsonObject fieldNamed(const QJsonArray& fields, const QString& name) {
    for (const QJsonValue field : fields) {
        if (field["__identifier"] == name) {
            return field.toObject();
        }
    }
    return {};
}
}  // namespace

TEST(ExportLdtk, ObjectsBecomeEntitiesWhereTiledDrawsThemWithTheirFieldsAndTileData) {
    if (tiledTool("tmxrasterizer").isEmpty() || !ldtkSchemaCheckable()) {
        GTEST_SKIP() << "tmxrasterizer (Debian tiled) or python3-jsonschema is not installed (bash scripts/setup.sh installs them)";
    }
    TestFolder folder;
    const TilvexProgram program(folder);
    writeEntityMap(folder.Path());
    const QString out = folder.File("out");
    const TilvexResult run = program.Run({"export", folder.File("m.tmx"), "--to", "ldtk", "--out", out, "--json"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(ldtkSchemaErrors(out + "/m.ldtk"), "");
    const QJsonObject counts = QJsonDocument::fromJson(run.out.toUtf8()).object();
    for (const char* count : {"tintsLeftOut", "blendsLeftOut", "propertiesLeftOut", "animationsLeftOut", "shapesLeftOut", "rotationsLeftOut",
                              "outlinesLeftOut"}) {
        EXPECT_EQ(counts[count].toInt(), 1) << count;
    }
    EXPECT_EQ(counts["objects"].toInt(), 9);

    const QJsonObject project = jsonOf(out + "/m.ldtk");
    const std::map<int, QJsonObject> defs = byUid(project["defs"]["entities"].toArray());
    const std::map<int, QJsonObject> tilesets = byUid(project["defs"]["tilesets"].toArray());
    const QJsonObject level = project["levels"][0].toObject();
    std::map<QString, QJsonObject> entities;  // by identifier, the first of each
    std::map<std::pair<int, int>, QJsonValue> iidAt;  // by px
    // The tile entities drawn as LDtk draws them: the tile stretched over the entity's box.
    QImage drawn(96, 80, QImage::Format_ARGB32_Premultiplied);
    drawn.fill(0);
    // The tile layer's cells, moved by its tileset's tile offset as Tiled moves them.
    QImage ground = drawn;
    for (const QJsonValue layer : level["layerInstances"].toArray()) {
        for (const QJsonValue tile : layer["gridTiles"].toArray()) {
            const QImage sheet(out + "/" + layer["__tilesetRelPath"].toString());
            QPainter(&ground).drawImage(QPoint(tile["px"][0].toInt() + layer["pxOffsetX"].toInt(), tile["px"][1].toInt() + layer["pxOffsetY"].toInt()),
                                        sheet, QRect(tile["src"][0].toInt(), tile["src"][1].toInt(), 16, 16));
        }
        for (const QJsonValue e : layer["entityInstances"].toArray()) {
            entities.emplace(e["__identifier"].toString(), e.toObject());
            iidAt[{e["px"][0].toInt(), e["px"][1].toInt()}] = e["iid"];
            if (layer["__identifier"] == "Tiles") {
                const QJsonObject tile = e["__tile"].toObject();
                const QPointF pivot(e["__pivot"][0].toDouble(), e["__pivot"][1].toDouble());
                const QSize size(e["width"].toInt(), e["height"].toInt());
                const QPoint at(e["px"][0].toInt() - static_cast<int>(pivot.x() * size.width()), e["px"][1].toInt() - static_cast<int>(pivot.y() * size.height()));
                QPainter(&drawn).drawImage(QRect(at, size), QImage(out + "/" + tilesets.at(tile["tilesetUid"].toInt())["relPath"].toString()),
                                           QRect(tile["x"].toInt(), tile["y"].toInt(), tile["w"].toInt(), tile["h"].toInt()));
            }
        }
    }
    for (const auto& [name, image] : {std::pair<QString, const QImage&>{"tiles", drawn}, {"ground", ground}}) {
        const QString raster = folder.File(name + ".png");
        ASSERT_EQ(runTool("tmxrasterizer", {"--no-smoothing", "--show-layer", name, folder.File("m.tmx"), raster}).status, 0);
        const Difference d = difference(image, QImage(raster));
        EXPECT_EQ(d.beyond2, 0) << name.toStdString() << ": " << d.first.toStdString();
    }

    struct Shape {
        const char* identifier;
        const char* render;
        QPoint px;
        QSize size;
        QPointF pivot;
    };
    const Shape shapes[] = {{"Box", "Rectangle", {1, 3}, {10, 12}, {0, 0}},    {"Spot", "Cross", {8, 9}, {16, 16}, {0.5, 0.5}},
                            {"Ring", "Ellipse", {2, 3}, {6, 6}, {0, 0}},        {"Outline", "Rectangle", {20, 15}, {12, 13}, {0, 0}},
                            {"Label", "Rectangle", {5, 5}, {40, 10}, {0, 0}},   {"Crate", "Tile", {16, 32}, {16, 16}, {0, 1}},
                            {"Crate_2", "Tile", {72, 24}, {16, 16}, {0.5, 0.5}}};
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(shape.identifier);
        const QJsonObject e = entities[shape.identifier];
        const QJsonObject def = defs.at(e["defUid"].toInt());
        EXPECT_EQ(def["renderMode"], shape.render);
        EXPECT_EQ(QPoint(e["px"][0].toInt(), e["px"][1].toInt()), shape.px);
        EXPECT_EQ(QSize(e["width"].toInt(), e["height"].toInt()), shape.size);
        EXPECT_EQ(QPointF(def["pivotX"].toDouble(), def["pivotY"].toDouble()), shape.pivot);
        EXPECT_EQ(QPointF(e["__pivot"][0].toDouble(), e["__pivot"][1].toDouble()), shape.pivot);
    }

    // Fields of their own types; an object reference names the entity of that object.
    const QJsonArray box = entities["Box"]["fieldInstances"].toArray();
    const QJsonArray levelFields = level["fieldInstances"].toArray();
    struct Field {
        QJsonArray fields;
        const char* name;
        const char* type;
        QJsonValue value;
    };
    const Field fields[] = {{box, "speed", "Float", 1.5},
                            {box, "tint", "Color", "#102030"},
                            {box, "note", "String", "a\\nb"},
                            {box, "door", "EntityRef", iidAt[{16, 32}]},
                            {levelFields, "music", "FilePath", "../sounds/a.ogg"},
                            {levelFields, "boss", "EntityRef", iidAt[{0, 80}]}};
    for (const Field& f : fields) {
        SCOPED_TRACE(f.name);
        const QJsonObject field = fieldNamed(f.fields, f.name);
        EXPECT_EQ(field["__type"], f.type);
        const QJsonValue value = field["__value"].isObject() ? field["__value"]["entityIid"] : field["__value"];
        EXPECT_EQ(value, f.value);
    }
    // The tile's properties as custom data and its class as a tag, at LDtk's number of the tile.
    QJsonObject a;
    for (const auto& [uid, tileset] : tilesets) {
        a = tileset["identifier"] == "A" ? tileset : a;
    }
    EXPECT_EQ(a["customData"], (QJsonArray{QJsonObject{{"tileId", 1}, {"data", "{\"hp\":5,\"solid\":true}"}}}));
    EXPECT_EQ(a["enumTags"], (QJsonArray{QJsonObject{{"enumValueId", "wall"}, {"tileIds", QJsonArray{1}}}}));
    EXPECT_EQ(a["tagsSourceEnumUid"], project["defs"]["enums"][0]["uid"]);
}

TEST(ExportLdtk, WhatPassesLdtksIntegersIsRefusedAndNothingWritten) {
    TestFolder folder;
    const TilvexProgram program(folder);
    // Four levels of 536,870,912 pixels side by side pass LDtk's world positions; an object
    // 900,000,000 pixels into a level after three of them does too.
    for (const char* name : {"w1", "w2", "w3", "w4"}) {
        writeText(folder.File(QStringLiteral("%1.tmx").arg(name)), mapText(QSize(131072, 1), QSize(4096, 4096), QString()));
    }
    writeText(folder.File("far.tmx"), mapText(QSize(2, 2), QSize(16, 16),
                                              "<objectgroup id=\"1\" name=\"o\"><object id=\"1\" x=\"900000000\" y=\"1\" width=\"4\" height=\"4\"/></objectgroup>"));
    writeText(folder.File("tall.tmx"), mapText(QSize(8192, 8192), QSize(1, 256), QString()));
    writeText(folder.File("huge.tmx"), mapText(QSize(65536, 1), QSize(131072, 131072), QString()));
    const std::pair<QStringList, QString> cases[] = {
        {{"w1", "w2", "w3", "w4"}, "w4.tmx: the level would end at x 2147532800"},
        {{"w1", "w2", "w3", "far"}, "far.tmx: the object with id 1 at 900000000,1 lies beyond LDtk's coordinates"},
        {{"tall"}, "tall.tmx: the level would hold 17179869184 cells a layer"},
        {{"huge"}, "huge.tmx: the level would be 8589934592x131072 pixels"},
        {{"w1", "w2", "w3"}, ""}};
    for (const auto& [maps, message] : cases) {
        SCOPED_TRACE(maps.join(' ').toStdString());
        QStringList arguments{"export"};
        for (const QString& map : maps) {
            arguments += folder.File(map + ".tmx");
        }
        const QString out = folder.File("out-" + maps.join('-'));
        const TilvexResult run = program.Run(arguments + QStringList{"--to", "ldtk", "--out", out});
        EXPECT_EQ(run.status, message.isEmpty() ? 0 : 2) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(message)) << run.err.toStdString();
        EXPECT_EQ(QFileInfo::exists(out), message.isEmpty());
    }
}
