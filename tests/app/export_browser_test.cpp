// Maps exported to Phaser, drawn by Phaser in Debian's chromium the way the README loads
// them, equal the map as compile --map draws it with its object and image layers hidden; and
// Phaser reads the tiles' animations and collision shapes.
#include "tiledpictures.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>

#include <cmath>

namespace {
QString chromium() { return QStandardPaths::findExecutable(QStringLiteral("chromium")); }

QString browserMissing() {
    const QString modules = QStringLiteral(TILVEX_NODE_MODULES);
    if (QStandardPaths::findExecutable("node").isEmpty() || !QFileInfo::exists(modules + "/phaser/dist/phaser.js") ||
        !QFileInfo::exists(modules + "/puppeteer-core/package.json")) {
        return QStringLiteral("node with npm phaser and puppeteer-core (bash scripts/setup.sh installs them into build-node/)");
    }
    return chromium().isEmpty() ? QStringLiteral("Debian's chromium (bash scripts/setup.sh installs it)") : QString();
}

// The layers Phaser's plain calls do not draw: object and image layers.
void undrawnLayers(const QJsonArray& layers, QStringList& names) {
    for (const QJsonValue& value : layers) {
        const QJsonObject layer = value.toObject();
        const QString type = layer.value("type").toString();
        if (type == "objectgroup" || type == "imagelayer") {
            names += layer.value("name").toString();
        }
        undrawnLayers(layer.value("layers").toArray(), names);
    }
}

void write(const QString& file, const QString& text) {
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(text.toUtf8());
}

// A map of flips, a group with an offset and opacity, a hidden layer, tiles taller than the
// grid with a tileset offset mixed with plain ones in one layer, some flipped, an animated tile, a tile with
// collision shapes, an image layer and an object layer.
QString ownMap(const QString& folder) {
    QImage sheet(64, 32, QImage::Format_ARGB32);
    QImage tall(48, 40, QImage::Format_ARGB32);
    for (QImage* image : {&sheet, &tall}) {
        QPainter painter(image);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(0, 0, noise(image->size(), image == &sheet ? 1 : 2));
    }
    sheet.save(folder + "/sheet.png");
    tall.save(folder + "/tall.png");
    noise(QSize(20, 12), 3).save(folder + "/back.png");
    write(folder + "/tall.tsx",
          "<tileset version=\"1.10\" name=\"tall\" tilewidth=\"24\" tileheight=\"40\" tilecount=\"2\" columns=\"2\" objectalignment=\"bottom\">"
          "<tileoffset x=\"3\" y=\"-5\"/><image source=\"tall.png\" width=\"48\" height=\"40\"/></tileset>");
    QStringList ground, top, hidden;
    for (int k = 0; k < 48; ++k) {
        ground += QString::number((1 + k % 8) | (static_cast<std::uint32_t>(k % 8) << 29));
        // Tall tiles, some of them flipped (diagonally too, though not square), over plain ones.
        const std::uint32_t flip = k % 10 == 5 ? 0x20000000u : k % 15 == 0 ? 0x80000000u : 0;
        top += QString::number(k % 5 == 0 ? (9 + k % 2) | flip : k % 7 == 0 ? 3 : 0);
        hidden += QString::number(k % 3 == 0 ? 2 : 0);
    }
    write(folder + "/own.tmx",
          QStringLiteral(
              "<?xml version=\"1.0\"?><map version=\"1.10\" orientation=\"orthogonal\" renderorder=\"right-down\" width=\"8\" height=\"6\" "
              "tilewidth=\"16\" tileheight=\"16\" infinite=\"0\" nextlayerid=\"7\" nextobjectid=\"2\">"
              "<tileset firstgid=\"1\" name=\"sheet\" tilewidth=\"16\" tileheight=\"16\" tilecount=\"8\" columns=\"4\">"
              "<image source=\"sheet.png\" width=\"64\" height=\"32\"/>"
              "<tile id=\"0\"><animation><frame tileid=\"0\" duration=\"500\"/><frame tileid=\"5\" duration=\"500\"/></animation></tile>"
              "<tile id=\"2\" type=\"wall\"><properties><property name=\"solid\" type=\"bool\" value=\"true\"/></properties>"
              "<objectgroup draworder=\"index\"><object id=\"1\" x=\"0\" y=\"0\" width=\"16\" height=\"8\"/>"
              "<object id=\"2\" x=\"2\" y=\"2\"><polygon points=\"0,0 12,0 6,10\"/></object></objectgroup></tile></tileset>"
              "<tileset firstgid=\"9\" source=\"tall.tsx\"/>"
              "<layer id=\"1\" name=\"ground\" width=\"8\" height=\"6\"><data encoding=\"csv\">%1</data></layer>"
              "<imagelayer id=\"2\" name=\"backdrop\" offsetx=\"4\"><image source=\"back.png\" width=\"20\" height=\"12\"/></imagelayer>"
              "<group id=\"3\" name=\"deco\" offsetx=\"4\" offsety=\"6\" opacity=\"0.75\">"
              "<layer id=\"4\" name=\"top\" width=\"8\" height=\"6\"><data encoding=\"csv\">%2</data></layer>"
              "<layer id=\"5\" name=\"secret\" visible=\"0\" width=\"8\" height=\"6\"><data encoding=\"csv\">%3</data></layer></group>"
              "<objectgroup id=\"6\" name=\"things\"><object id=\"1\" x=\"3\" y=\"4\" width=\"8\" height=\"8\"/></objectgroup></map>")
              .arg(ground.join(','), top.join(','), hidden.join(',')));
    return folder + "/own.tmx";
}

// A finite staggered or hexagonal map of diamond tiles (attributes as the map element takes
// them), which touch no neighbour, so the order cells are drawn in does not matter, or
// overlapping ones: a reach of 1 touches the cell's corners, 2 fills it.
QString staggeredMap(const QString& folder, const QString& name, const QString& attributes, double reach = 0.8) {
    QImage sheet = noise(QSize(64, 32), 4).convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 64; ++x) {
            if (std::abs((x % 32) - 15.5) / 16 + std::abs((y % 16) - 7.5) / 8 > reach) {
                sheet.setPixel(x, y, 0);
            }
        }
    }
    const QString png = QStringLiteral("diamonds-%1.png").arg(reach);
    sheet.save(folder + "/" + png);
    QStringList cells;
    for (int k = 0; k < 42; ++k) {
        cells += QString::number(k % 5 == 4 ? 0 : 1 + (k * 3) % 4);
    }
    write(folder + "/" + name,
          QStringLiteral("<?xml version=\"1.0\"?><map version=\"1.10\" %1 renderorder=\"right-down\" width=\"7\" height=\"6\" tilewidth=\"32\" "
                         "tileheight=\"16\" infinite=\"0\" nextlayerid=\"2\" nextobjectid=\"1\"><tileset firstgid=\"1\" name=\"diamonds\" "
                         "tilewidth=\"32\" tileheight=\"16\" tilecount=\"4\" columns=\"2\"><image source=\"%3\" width=\"64\" "
                         "height=\"32\"/></tileset><layer id=\"1\" name=\"cells\" width=\"7\" height=\"6\"><data encoding=\"csv\">%2</data>"
                         "</layer></map>")
              .arg(attributes, cells.join(','), png));
    return folder + "/" + name;
}
}  // namespace

TEST(ExportPhaserBrowser, PhaserDrawsEveryMapAsCompileDoes) {
    if (const QString missing = browserMissing(); !missing.isEmpty()) {
        GTEST_SKIP() << missing.toStdString() << " is missing";
    }
    TestFolder folder;
    const QString samples = copiedTiledSamples(folder, "examples");
    const TilvexProgram program(folder);
    // map, whether WebGL draws it too, tiles animated and collision shapes Phaser must read (-1: any)
    struct Case {
        QString map;
        bool webgl;
        int animated;
        int shapes;
    };
    // test_hexagonal_tile_60x60x30's turned tiles overlap their neighbours' edges, so the
    // order Phaser draws its cells in shows (at some 420 pixels). Its turned tiles are drawn
    // from copies, and Qt's raster engine samples a turned picture a little differently at
    // each place it draws it: 15 edge pixels of the copies differ from the tiles turned in
    // place (one cell alone as much), and are allowed.
    std::vector<Case> cases{{ownMap(folder.Path()), true, 1, 2}};
    for (const auto& [name, attributes] : std::vector<std::pair<QString, QString>>{
             {"stagger-y-odd.tmx", "orientation=\"staggered\" staggeraxis=\"y\" staggerindex=\"odd\""},
             {"stagger-y-even.tmx", "orientation=\"staggered\" staggeraxis=\"y\" staggerindex=\"even\""},
             {"stagger-x-odd.tmx", "orientation=\"staggered\" staggeraxis=\"x\" staggerindex=\"odd\""},
             {"stagger-x-even.tmx", "orientation=\"staggered\" staggeraxis=\"x\" staggerindex=\"even\""},
             {"hex-y-even.tmx", "orientation=\"hexagonal\" hexsidelength=\"8\" staggeraxis=\"y\" staggerindex=\"even\""},
             {"hex-x-even.tmx", "orientation=\"hexagonal\" hexsidelength=\"8\" staggeraxis=\"x\" staggerindex=\"even\""}}) {
        cases.push_back({staggeredMap(folder.Path(), name, attributes), false, -1, -1});
    }
    for (const auto& [name, attributes] : std::vector<std::pair<QString, QString>>{
             {"stagger-x-even-over.tmx", "orientation=\"staggered\" staggeraxis=\"x\" staggerindex=\"even\""},
             {"hex-x-odd-over.tmx", "orientation=\"hexagonal\" hexsidelength=\"8\" staggeraxis=\"x\" staggerindex=\"odd\""}}) {
        cases.push_back({staggeredMap(folder.Path(), name, attributes, 2), true, -1, -1});
    }
    if (!samples.isEmpty()) {
        for (const char* map : {"desert.tmx", "orthogonal-outside.tmx", "sewers.tmx", "sewer_automap/rule_006.tmx", "perspective_walls.tmx",
                                "isometric_grass_and_water.tmx", "hexagonal-mini.tmx",
                                "test_hexagonal_tile_60x60x30.tmx"}) {
            cases.push_back({samples + "/" + map, false, -1, -1});
        }
        cases.push_back({samples + "/rpg/island.tmx", true, 1, -1});
    } else {
        std::cerr << "the sample maps of Debian's tiled are not installed: only the test's own map is drawn\n";
    }
    QJsonArray jobs;
    std::vector<QString> expected;
    std::vector<std::size_t> caseOf;
    for (std::size_t k = 0; k < cases.size(); ++k) {
        const QString out = folder.File(QStringLiteral("out-%1").arg(k));
        const TilvexResult run = program.Run({"export", cases[k].map, "--to", "phaser", "--out", out});
        ASSERT_EQ(run.status, 0) << cases[k].map.toStdString() << run.err.toStdString();
        const QString json = out + "/" + QFileInfo(cases[k].map).completeBaseName() + ".json";
        QFile file(json);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << json.toStdString();
        QStringList hide;
        undrawnLayers(QJsonDocument::fromJson(file.readAll()).object().value("layers").toArray(), hide);
        const QString picture = folder.File(QStringLiteral("compiled-%1.png").arg(k));
        QStringList compile{"compile", "--map", cases[k].map, picture};
        for (const QString& name : hide) {
            compile += QStringList{"--hide-layer", name};
        }
        ASSERT_EQ(program.Run(compile).status, 0) << cases[k].map.toStdString();
        const QSize size = QImage(picture).size();
        for (const bool webgl : {false, true}) {
            if (webgl && !cases[k].webgl) {
                continue;
            }
            jobs.append(QJsonObject{{"map", "/" + QDir(folder.Path()).relativeFilePath(json)},
                                    {"width", size.width()},
                                    {"height", size.height()},
                                    {"webgl", webgl},
                                    {"out", folder.File(QStringLiteral("phaser-%1-%2.png").arg(k).arg(webgl ? "webgl" : "canvas"))}});
            expected.push_back(picture);
            caseOf.push_back(k);
        }
    }
    write(folder.File("jobs.json"), QString::fromUtf8(QJsonDocument(jobs).toJson()));
    const TilvexResult browser = runTool("node", {QStringLiteral(TILVEX_APP_TESTS) + "/phaserbrowser.js", QStringLiteral(TILVEX_NODE_MODULES),
                                                  chromium(), QDir(folder.Path()).canonicalPath(), folder.File("jobs.json")});
    ASSERT_EQ(browser.status, 0) << browser.err.toStdString();
    const QStringList lines = browser.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), jobs.size()) << browser.out.toStdString();
    for (qsizetype k = 0; k < jobs.size(); ++k) {
        const QJsonObject job = jobs[k].toObject();
        const QStringList words = lines[k].split('\t');
        const std::size_t source = caseOf[static_cast<std::size_t>(k)];
        SCOPED_TRACE((cases[source].map + (job.value("webgl").toBool() ? " in WebGL" : " on canvas")).toStdString());
        if (words[0] == "nowebgl") {
            std::cerr << "this chromium has no WebGL: " << cases[source].map.toStdString() << " drawn on canvas only\n";
            continue;
        }
        ASSERT_GE(words.size(), 5);
        EXPECT_EQ(words[4], "0") << lines[k].toStdString();
        if (cases[source].animated >= 0) {
            EXPECT_GE(words[2].toInt(), cases[source].animated);
        }
        if (cases[source].shapes >= 0) {
            EXPECT_EQ(words[3].toInt(), cases[source].shapes);
        }
        const Difference d = difference(QImage(expected[static_cast<std::size_t>(k)]), QImage(job.value("out").toString()));
        const int turnedEdges = cases[source].map.endsWith("test_hexagonal_tile_60x60x30.tmx") ? 15 : 0;
        EXPECT_LE(d.beyond2, turnedEdges) << d.first.toStdString() << ", " << d.pixels << " pixels differ, most by " << d.most;
    }
}

// What the drawing does not show: the image layer's picture copied beside the map under a
// plain name of its own (here the sheet's own name is taken), the tileset's object alignment, the tiles' data as Tiled's JSON holds it, and
// a tint Phaser does not draw counted as left out.
TEST(ExportPhaser, ImageLayersTileDataAndTintsArriveOrAreCounted) {
    TestFolder folder;
    const TilvexProgram program(folder);
    QDir().mkpath(folder.File("maps/art"));
    const QString map = ownMap(folder.File("maps"));
    ASSERT_TRUE(QFile::rename(folder.File("maps/back.png"), folder.File("maps/art/sheet.png")));
    QFile source(map);
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(source.readAll()).replace("source=\"back.png\"", "source=\"art/sheet.png\"");
    source.close();
    write(map, QString(text).replace("name=\"ground\"", "name=\"ground\" tintcolor=\"#ff8040\""));
    const TilvexResult run = program.Run({"export", map, "--to", "phaser", "--out", folder.File("out")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("left out: 1 layer tint")) << run.out.toStdString();
    QFile json(folder.File("out/own.json"));
    ASSERT_TRUE(json.open(QIODevice::ReadOnly));
    const QJsonObject root = QJsonDocument::fromJson(json.readAll()).object();
    const QJsonArray layers = root.value("layers").toArray();
    const QJsonObject image = layers[1].toObject();
    EXPECT_EQ(image.value("image").toString(), "sheet-2.png");
    QFile copied(folder.File("out/sheet-2.png")), original(folder.File("maps/art/sheet.png"));
    ASSERT_TRUE(copied.open(QIODevice::ReadOnly) && original.open(QIODevice::ReadOnly));
    EXPECT_EQ(copied.readAll(), original.readAll());
    const QJsonArray tilesets = root.value("tilesets").toArray();
    EXPECT_EQ(tilesets[1].toObject().value("objectalignment").toString(), "bottom");
    EXPECT_FALSE(tilesets[1].toObject().contains("tileoffset"));  // carried by the layer: see PhaserMap
    const QJsonArray tiles = tilesets[0].toObject().value("tiles").toArray();
    ASSERT_EQ(tiles.size(), 2);
    EXPECT_EQ(tiles[0].toObject().value("animation").toArray().size(), 2);
    EXPECT_EQ(tiles[1].toObject().value("type").toString(), "wall");
    EXPECT_EQ(tiles[1].toObject().value("objectgroup").toObject().value("objects").toArray()[1].toObject().value("polygon").toArray().size(), 3);
}
