#include "godotscene.h"
#include "ldtkprojects.h"
#include "ldtkschema.h"
#include "tilvexrun.h"

#include <QDir>
#include <QPainter>
#include <QStandardPaths>

// LDtk projects carried by export straight to the engines, and the legacy names of LDtk 1.0
// files; what a project cannot become.

// A project of two levels sharing a tileset exported straight to each engine: every level a
// map named after it, the shared sheet written once, each drawn by the engine's own reader as
// compile --map draws the level (entities not drawn, the level's colour under the engine's).
// One grid for both levels: LDtk's export holds only tiles of the map's grid.
TEST(LdtkIn, LevelsExportedToEachEngineDrawAsTheLevel) {
    TestFolder folder;
    const TilvexProgram tilvex(folder);
    // Level Two's bottom layer, an IntGrid's values, is its first tileset: Big is its second.
    QJsonArray levels = caseLevel(levelCases()[3]);
    levels.append(level("Two", QSize(64, 48), QPoint(120, 0),
                        {layer("Top", "Tiles", 16, QSize(4, 3), 1, {{0, 0, 16, 16}, {16, 16, 32, 0, 1}, {48, 32, 0, 32, 2, 0.5}}),
                         layer("Under", "AutoLayer", 16, QSize(4, 3), 1, {{0, 0, 0, 0}, {16, 16, 16, 0, 3}, {32, 0, 48, 32}, {16, 32, 32, 16}},
                               {{"__pxTotalOffsetX", 3}}),
                         walls(QSize(4, 3), {1, 0, 0, 1, 0, 1, 1, 0, 0, 0, 0, 1})}));
    const QString file = folder.File("game.ldtk");
    WriteBytes(file, withWalls(project(folder, levels)));
    const auto levelDrawn = [&](const QString& project, const QString& name) {
        const QString png = folder.File("compiled-" + name + ".png");
        const TilvexResult run = tilvex.Run({"compile", "--map", project, png, "--level", name});
        EXPECT_EQ(run.status, 0) << run.err.toStdString();
        return QImage(png);
    };
    const auto overColour = [](const QImage& drawn) {
        QImage shown(drawn.size(), QImage::Format_ARGB32_Premultiplied);
        shown.fill(QColor("#203040"));
        QPainter(&shown).drawImage(0, 0, drawn);
        return shown;
    };
    const QStringList names{"One", "Two"};
    const auto expectSame = [](const QImage& a, const QImage& b, const QString& what) {
        const Difference d = difference(a, b);
        EXPECT_EQ(d.beyond2, 0) << what.toStdString() << ": " << d.pixels << " pixels differ, first " << d.first.toStdString();
    };
    for (const QString engine : {"phaser", "godot", "ldtk"}) {
        SCOPED_TRACE(engine.toStdString());
        const QString work = folder.File(engine);
        QDir().mkpath(work);
        if (engine == "godot") {
            QFile(work + "/project.godot").open(QIODevice::WriteOnly);
        }
        // LDtk's with extruded sheets, whose tiles move in their sheet: the way extrude's refusal
        // of a project points to.
        const QStringList extrude = engine == "ldtk" ? QStringList{"--extrude", "1"} : QStringList{};
        const TilvexResult run = tilvex.Run(QStringList{"export", file, "--to", engine, "--out", work + "/out"} + extrude);
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        EXPECT_EQ(QDir(work + "/out").entryList({"Big*.png"}), QStringList{"Big.png"});
        if (engine == "ldtk") {
            if (ldtkSchemaCheckable()) {
                EXPECT_EQ(ldtkSchemaErrors(work + "/out/game.ldtk"), "");
            }
            for (const QString& name : names) {
                expectSame(levelDrawn(work + "/out/game.ldtk", name), levelDrawn(file, name), name);
            }
        } else if (engine == "godot") {
            const auto resolve = [&](const QString& res) { return work + "/" + res.mid(QStringLiteral("res://").size()); };
            for (const QString& name : names) {
                const QImage expected = levelDrawn(file, name);
                const GodotDrawing drawing = drawGodotScene(work + "/out/" + name + ".tscn", resolve, expected.size(), 0, {"Things"});
                EXPECT_EQ(drawing.problems.join('\n'), "");
                expectSame(overColour(drawing.picture), expected, name);
            }
        } else {
            const QString modules = QStringLiteral(TILVEX_NODE_MODULES), chromium = QStandardPaths::findExecutable("chromium");
            if (QStandardPaths::findExecutable("node").isEmpty() || chromium.isEmpty() || !QFileInfo::exists(modules + "/puppeteer-core/package.json")) {
                std::cerr << "node, npm phaser and puppeteer-core or chromium are missing: the Phaser maps are not drawn\n";
                continue;
            }
            QJsonArray jobs;
            for (const QString& name : names) {
                const QSize size = levelDrawn(file, name).size();
                jobs.append(QJsonObject{{"map", "/phaser/out/" + name + ".json"}, {"width", size.width()}, {"height", size.height()},
                                        {"webgl", false}, {"out", work + "/" + name + ".png"}});
            }
            WriteBytes(work + "/jobs.json", QJsonDocument(jobs).toJson());
            const TilvexResult browser = runTool("node", {QStringLiteral(TILVEX_APP_TESTS) + "/phaserbrowser.js", modules, chromium,
                                                          QDir(folder.Path()).canonicalPath(), work + "/jobs.json"});
            ASSERT_EQ(browser.status, 0) << browser.err.toStdString();
            const QStringList lines = browser.out.split('\n', Qt::SkipEmptyParts);
            ASSERT_EQ(lines.size(), names.size()) << browser.out.toStdString();
            for (qsizetype k = 0; k < names.size(); ++k) {
                EXPECT_EQ(lines[k].section('\t', 4, 4), "0") << lines[k].toStdString();
                expectSame(overColour(QImage(work + "/" + names[k] + ".png")), levelDrawn(file, names[k]), names[k]);
            }
        }
    }
}

// The names LDtk 1.0 files may still carry (LDtk's own samples of 1.0.0 hold them beside the
// new ones) read as the names that replaced them: the export of each spelling is the same.
TEST(LdtkIn, LegacyNamesReadAsTheirNewOnes) {
    TestFolder folder;
    const TilvexProgram tilvex(folder);
    QJsonArray levels = caseLevel(levelCases().front());
    QJsonObject one = levels[0].toObject();
    QJsonArray layers = one["layerInstances"].toArray();
    layers.insert(0, walls(QSize(2, 2), {0, 1, 0, 1}, -1, {{0, 16, 16, 16}}));
    one["layerInstances"] = layers;
    levels[0] = one;
    const QByteArray current = withWalls(project(folder, levels), 1);
    const std::pair<const char*, const char*> legacy[] = {
        {R"("tilesetDefUid":1)", R"("autoTilesetDefUid":1)"},
        {R"("intGridCsv":[0,1,0,1])", R"("intGrid":[{"coordId":1,"v":1},{"coordId":3,"v":1}])"},
        {R"("__tile":{"h":16,"tilesetUid":1,"w":16,"x":16,"y":0})", R"("__tile":{"srcRect":[16,0,16,16],"tilesetUid":1})"},
    };
    const auto exported = [&](const QByteArray& bytes, const QString& name) {
        const QString file = folder.File(name + ".ldtk"), out = folder.File(name);
        WriteBytes(file, bytes);
        const TilvexResult run = tilvex.Run({"export", file, "--to", "tiled", "--out", out});
        EXPECT_EQ(run.status, 0) << name.toStdString() << ": " << run.err.toStdString();
        QFile tmx(out + "/One.tmx");
        return tmx.open(QIODevice::ReadOnly) ? tmx.readAll() : QByteArray();
    };
    const QByteArray expected = exported(current, "new");
    ASSERT_FALSE(expected.isEmpty());
    int k = 0;
    for (const auto& [now, then] : legacy) {
        ASSERT_TRUE(current.contains(now)) << now;
        EXPECT_EQ(exported(QByteArray(current).replace(now, then), QStringLiteral("old%1").arg(k++)), expected) << then;
    }
}

// What a project cannot become is refused naming it, and the level or the way there, nothing
// written: optimize and extrude rewrite Tiled's files; LDtk's export holds only tiles of the
// level's one grid (this level's 16-pixel tiles lie on a grid of 8).
TEST(LdtkIn, WhatAProjectCannotBecomeIsRefusedNamingIt) {
    TestFolder folder;
    const TilvexProgram tilvex(folder);
    const QString file = folder.File("game.ldtk");
    WriteBytes(file, project(folder, caseLevel(levelCases()[6])));
    const QString out = folder.File("out"), extruded = folder.File("x.ldtk");
    const std::pair<QStringList, const char*> cases[] = {
        {{"optimize", file, "--out", out}, "tilvex export"},
        {{"extrude", file, extruded, "--extrude", "1"}, "tilvex export"},
        {{"export", file, "--to", "ldtk", "--out", out}, "level \"One\": "},
    };
    for (const auto& [arguments, says] : cases) {
        const TilvexResult run = tilvex.Run(arguments);
        EXPECT_NE(run.status, 0) << arguments[0].toStdString();
        EXPECT_TRUE(run.err.contains(file) && run.err.contains(QString::fromUtf8(says))) << run.err.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(out) || QFileInfo::exists(extruded));
}
