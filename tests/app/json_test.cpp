// --json: one object on stdout at the end of every command, read back as a build script would.
#include "tilvexprocess.h"

#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace {

QJsonObject parsed(const Result& result) {
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(result.out.toUtf8(), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << result.out.toStdString();
    EXPECT_EQ(result.out.count('\n'), 1) << "one object on one line";
    return document.object();
}

QStringList texts(const QJsonValue& array) {
    QStringList list;
    for (const QJsonValue& value : array.toArray()) {
        list += value.toString();
    }
    return list;
}

struct JsonCase {
    const char* name;
    QStringList arguments;
    QStringList read;
    QStringList written;
    std::map<QString, qint64> counts;
    qint64 tiles;  // written to the tile folder; -1 for none
};

TEST_F(Tilvex, JsonReportsWhatEachCommandReadWroteAndCounted) {
    const auto file = [&](const QString& name) { return folder_.File(name); };
    // A level of 2 by 2 cells of 16 pixels: three alike, one other.
    QImage level(32, 32, QImage::Format_RGBA8888);
    level.fill(qRgba(200, 10, 10, 255));
    for (int y = 16; y < 32; ++y) {
        for (int x = 16; x < 32; ++x) {
            level.setPixel(x, y, qRgba(0, 0, 255, 255));
        }
    }
    ASSERT_TRUE(level.save(file("level.png")));
    ASSERT_TRUE(QDir(folder_.Path()).mkdir("sheet"));

    const JsonCase cases[] = {
        {"split, the window's way", {"split", file("big.bmp"), file("tiles"), "--start", "2", "--json"}, {file("big.bmp")},
         {file("tiles/info.ini")}, {{"next", 8}, {"dropped", 856}}, 6},
        {"compile, the window's way", {"--json", "compile", file("tiles"), file("sheet"), "--start", "2", "--width", "3"},
         {file("tiles")}, {file("sheet/Tiles.bmp")}, {{"width", 96}, {"height", 219}, {"tiles", 6}, {"columns", 3}}, -1},
        {"level split",
         {"split", file("level.png"), file("lvl"), "--tile", "16", "--format", "png", "--unique", "--map", file("level.tmx"),
          "--json"},
         {file("level.png")}, {file("lvl/info.ini"), file("level.tsx"), file("level.tmx")},
         {{"seen", 4}, {"unique", 2}, {"new", 2}, {"flips", 0}, {"empty", 0}, {"next", 2}}, 2},
        {"compile --map", {"compile", "--map", file("level.tmx"), file("again.png"), "--json"},
         {file("level.tmx"), file("level.tsx")}, {file("again.png")}, {{"width", 32}, {"height", 32}}, -1},
    };
    for (const JsonCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Result result = Run(c.arguments);
        ASSERT_EQ(result.status, 0) << result.err.toStdString();
        const QJsonObject report = parsed(result);
        EXPECT_EQ(report["status"].toInt(-1), 0);
        EXPECT_EQ(texts(report["read"]), c.read);
        const QJsonObject written = report["written"].toObject();
        EXPECT_EQ(texts(written["files"]), c.written);
        for (const QString& path : texts(written["files"])) {
            EXPECT_TRUE(QFileInfo::exists(path)) << path.toStdString();
        }
        for (const auto& [name, value] : c.counts) {
            EXPECT_EQ(report[name].toInteger(-1), value) << name.toStdString();
        }
        EXPECT_GE(report["seconds"].toDouble(-1), 0.0);
        EXPECT_FALSE(report.contains("error"));
        const QJsonObject tiles = written["tiles"].toObject();
        EXPECT_EQ(tiles["count"].toInteger(-1), c.tiles);
        if (c.tiles > 0) {
            EXPECT_TRUE(QFileInfo::exists(tiles["first"].toString())) << tiles["first"].toString().toStdString();
            EXPECT_TRUE(QFileInfo::exists(tiles["last"].toString())) << tiles["last"].toString().toStdString();
        }
    }
    // The same picture back from the map.
    EXPECT_EQ(QImage(file("again.png")).convertToFormat(QImage::Format_RGBA8888), level);
}

TEST_F(Tilvex, JsonOfAFailureGivesItsNumberTextAndFile) {
    WriteBytes(folder_.File("bad.png"), "not a picture");
    const Result result = Run({"split", folder_.File("bad.png"), folder_.File("out"), "--json"});
    EXPECT_EQ(result.status, 1);
    const QJsonObject error = parsed(result)["error"].toObject();
    EXPECT_EQ(error["number"].toInt(), 481);
    EXPECT_EQ(error["text"].toString(), "Invalid picture");
    EXPECT_EQ(error["file"].toString(), folder_.File("bad.png"));
    EXPECT_EQ(parsed(result)["status"].toInt(), 1);
}

}  // namespace

namespace {

TEST_F(Tilvex, JsonOfMapsOfFailuresAndOfRefusalsNamesWhatItIsAbout) {
    const auto file = [&](const QString& name) { return folder_.File(name); };
    QImage level(32, 16, QImage::Format_RGBA8888);
    level.fill(qRgba(200, 10, 10, 255));
    ASSERT_TRUE(level.save(file("level.png")));
    ASSERT_EQ(Run({"split", file("level.png"), file("lvl"), "--tile", "16", "--format", "png", "--unique", "--map", file("level.tmx")}).status, 0);

    const Result info = Run({"info", "--json", file("level.tmx"), file("big.bmp"), file("none.png")});
    EXPECT_EQ(info.status, 1);
    const QJsonObject report = parsed(info);
    EXPECT_EQ(texts(report["read"]), (QStringList{file("level.tmx"), file("level.tsx"), file("big.bmp")}));
    const QJsonArray layers = report["maps"].toArray().at(0).toObject()["layers"].toArray();
    ASSERT_EQ(layers.size(), 1);
    EXPECT_EQ(layers.at(0).toObject()["kind"].toString(), "tiles");
    EXPECT_EQ(layers.at(0).toObject()["size"].toString(), "2x1");
    EXPECT_EQ(report["error"].toObject()["file"].toString(), file("none.png"));

    const Result drawn = Run({"compile", "--map", file("level.tmx"), file("again.png"), "--json"});
    ASSERT_EQ(drawn.status, 0) << drawn.err.toStdString();
    EXPECT_EQ(parsed(drawn)["tiles"].toInteger(-1), 2);

    struct Refusal {
        QStringList arguments;
        QString file;
    };
    const Refusal refusals[] = {
        {{"split", file("level.png"), file("lv8"), "--tile", "8", "--unique", "--format", "png", "--map", file("lv8.tmx"), "--tileset",
          file("level.tsx")},
         file("level.tsx")},
        {{"compile", "--map", file("level.tmx"), file("again.png"), "--format", "bmp"}, file("again.png")},
    };
    for (const Refusal& refusal : refusals) {
        const Result result = Run(refusal.arguments + QStringList{"--json"});
        EXPECT_EQ(result.status, 2) << result.err.toStdString();
        EXPECT_EQ(parsed(result)["error"].toObject()["file"].toString(), refusal.file) << result.err.toStdString();
    }
}

TEST_F(Tilvex, AReportThatCannotBeWrittenFailsTheRun) {
    // The shell runs the program ($0) with its arguments, its standard output redirected.
    const char* const outputs[] = {">/dev/full", ">&-"};
    const QStringList runs[] = {{"info", folder_.File("big.bmp")}, {"info", "--json", folder_.File("big.bmp")}};
    for (const char* output : outputs) {
        for (const QStringList& arguments : runs) {
            SCOPED_TRACE(output + (" " + arguments.join(' ')).toStdString());
            const int logged = LogEntries();
            const Result result = RunWrapped({"sh", "-c", QStringLiteral("exec \"$0\" \"$@\" %1").arg(output)}, arguments);
            EXPECT_EQ(result.status, 1) << result.err.toStdString();
            EXPECT_TRUE(result.err.contains("standard output")) << result.err.toStdString();
            EXPECT_EQ(LogEntries(), logged + 1);
        }
    }
}

}  // namespace
