#include "conversion/headlessform.h"
#include "runtime/runtimeerror.h"
#include "support/testsupport.h"
#include "support/tilefixtures.h"
#include "surfaces/modrecs.h"
#include "surfaces/surfacetable.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <climits>

namespace {

const QString kMissingInfo = QStringLiteral("Tilvex converter could not locate your tile information (info.ini) file.");

std::int32_t FailureOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const RuntimeError& e) {
        return e.Number();
    }
    return 0;
}

class SurfaceTable : public FreshRecords {
protected:
    // The tile folder as the convert command hands it over: with a trailing separator.
    QString Source() const { return folder.File("tiles") + "/"; }
    void PrepareDD() {
        modRecs::DX = std::make_unique<DirectX7>();
        modRecs::DD = modRecs::DX->DirectDrawCreate(QString());
    }

    TestFolder folder;
    MessageRecorder messages;
    HeadlessForm form;
};

TEST_F(SurfaceTable, TileCountFromInfoIni) {
    struct Case {
        const char* numFiles;
        const char* count;  // nullptr: the count fails
        std::int32_t failure;
    } cases[] = {
        {"12", "12", 0},          {"12.5", "12", 0},      {"13.5", "14", 0},      {"0", "0", 0},
        {" 7 ", "7", 0},          {"&H10", "16", 0},      {"2147483647", "2147483647", 0},
        {"abc", nullptr, Err::TypeMismatch}, {"", nullptr, Err::TypeMismatch},
        {"12abc", nullptr, Err::TypeMismatch}, {"1e300", nullptr, Err::Overflow},
        {"2147483648", nullptr, Err::Overflow}, {"-1", "-1", Err::SubscriptOutOfRange},
    };
    for (const Case& c : cases) {
        modRecs::Reset();
        HeadlessForm fresh;
        QDir().mkpath(folder.File("tiles"));
        WriteInfo(folder.File("tiles"), c.numFiles);
        const std::int32_t failure = FailureOf([&] { InitSurfaces(fresh, Source()); });
        EXPECT_EQ(failure, c.failure) << c.numFiles;
        EXPECT_EQ(fresh.NumTileSurfs, c.count ? QString(c.count) : QString()) << c.numFiles;
        if (failure == 0) {
            EXPECT_EQ(modRecs::TileSurf.UpperBound(), fresh.NumTileSurfs.toInt()) << c.numFiles;
            EXPECT_EQ(modRecs::TileSurf.FilledCount(), 0u) << c.numFiles;
        } else {
            EXPECT_FALSE(modRecs::TileSurf.Sized()) << c.numFiles;
        }
        // The surface request is set before the count is read.
        EXPECT_EQ(modRecs::ddsdTile.lFlags, 1) << c.numFiles;
        EXPECT_EQ(modRecs::ddsdTile.ddsCaps.lCaps, 2112) << c.numFiles;
    }
    EXPECT_TRUE(messages.Messages().isEmpty());
}

TEST_F(SurfaceTable, MissingKeyOrBadCountKeepsTheEarlierState) {
    QDir().mkpath(folder.File("tiles"));
    WriteInfo(folder.File("tiles"), "3");
    InitSurfaces(form, Source());
    PrepareDD();
    ASSERT_TRUE(WriteTile(folder.File("tiles"), 1));
    ReadyTileSurface(form, 1, Source());
    form.SetText(FormView::Box::txtWidth, "9");
    for (const QByteArray& info : {QByteArray("[MAIN]\r\nOther=1\r\n"), QByteArray("[MAIN]\r\nNumFiles=abc\r\n"),
                                   QByteArray("[OTHER]\r\nNumFiles=5\r\n")}) {
        WriteBytes(folder.File("tiles/info.ini"), info);
        EXPECT_EQ(FailureOf([&] { InitSurfaces(form, Source()); }), Err::TypeMismatch) << info.constData();
        EXPECT_EQ(form.NumTileSurfs, "3");
        EXPECT_EQ(form.TileWidth, "7");  // still the value of the successful run
        EXPECT_EQ(modRecs::TileSurf.UpperBound(), 3);
        EXPECT_NE(modRecs::TileSurf.At(1), nullptr);
    }
    // A negative count: the count and width are set, the old table stays.
    WriteInfo(folder.File("tiles"), "-5");
    EXPECT_EQ(FailureOf([&] { InitSurfaces(form, Source()); }), Err::SubscriptOutOfRange);
    EXPECT_EQ(form.NumTileSurfs, "-5");
    EXPECT_EQ(form.TileWidth, "9");
    EXPECT_EQ(modRecs::TileSurf.UpperBound(), 3);
    EXPECT_NE(modRecs::TileSurf.At(1), nullptr);
}

TEST_F(SurfaceTable, RowWidthFromTheWidthBox) {
    struct Case {
        const char* box;
        const char* width;
    } cases[] = {{"0", "6"},   {"0.5", "6"}, {"-2", "6"},   {"abc", "6"}, {"", "6"},
                 {"2.5", "2.5"}, {"7", "7"}, {"1", "1"},   {"12abc", "12"}, {"0.99", "6"}};
    QDir().mkpath(folder.File("tiles"));
    WriteInfo(folder.File("tiles"), "4");
    for (const Case& c : cases) {
        form.SetText(FormView::Box::txtWidth, c.box);
        form.TileWidth = "unchanged";
        InitSurfaces(form, Source());
        EXPECT_EQ(form.TileWidth, c.width) << c.box;
    }
}

TEST_F(SurfaceTable, RowWidthUnderACommaLocale) {
    const char* comma = CommaLocale();
    if (comma == nullptr) {
        GTEST_SKIP() << "no comma locale on this machine";
    }
    NumericLocale locale(comma);
    QDir().mkpath(folder.File("tiles"));
    WriteInfo(folder.File("tiles"), "12.5");  // the file's number is strict, so "." is no separator here
    form.SetText(FormView::Box::txtWidth, "2.5");
    EXPECT_EQ(FailureOf([&] { InitSurfaces(form, Source()); }), Err::TypeMismatch);
    WriteInfo(folder.File("tiles"), "12,5");
    InitSurfaces(form, Source());
    EXPECT_EQ(form.NumTileSurfs, "12");
    EXPECT_EQ(form.TileWidth, "2,5");
}

TEST_F(SurfaceTable, MissingInfoIniChangesNothing) {
    struct Case {
        const char* name;
        bool folderExists;
        bool infoIsFolder;
    } cases[] = {{"no info.ini", true, false}, {"no folder", false, false}, {"info.ini is a folder", true, true}};
    for (const Case& c : cases) {
        modRecs::Reset();
        HeadlessForm fresh;
        fresh.TileWidth = "0";
        const QString source = folder.File(c.name) + "/";
        if (c.folderExists) {
            QDir().mkpath(folder.File(c.name));
        }
        if (c.infoIsFolder) {
            QDir().mkpath(folder.File(c.name) + "/info.ini");
        }
        const qsizetype before = messages.Messages().size();
        bool found = true;
        EXPECT_EQ(FailureOf([&] { found = InitSurfaces(fresh, source); }), 0) << c.name;
        EXPECT_FALSE(found) << c.name;
        ASSERT_EQ(messages.Messages().size(), before + 1) << c.name;
        EXPECT_EQ(messages.Messages().last(), kMissingInfo);
        EXPECT_EQ(fresh.NumTileSurfs, QString()) << c.name;
        EXPECT_EQ(fresh.TileWidth, "0") << c.name;
        EXPECT_FALSE(modRecs::TileSurf.Sized()) << c.name;
        EXPECT_EQ(modRecs::ddsdTile, DDSURFACEDESC2{}) << c.name;
    }
}

TEST_F(SurfaceTable, InfoIniFoundWithOrWithoutTrailingSeparator) {
    QDir().mkpath(folder.File("tiles"));
    WriteInfo(folder.File("tiles"), "5");
    for (const QString& source : {folder.File("tiles") + "/", folder.File("tiles"), folder.File("tiles") + "//"}) {
        form.NumTileSurfs.clear();
        EXPECT_TRUE(InitSurfaces(form, source));
        EXPECT_EQ(form.NumTileSurfs, "5") << source.toStdString();
    }
    EXPECT_TRUE(messages.Messages().isEmpty());
}

TEST_F(SurfaceTable, FileExistTakesOnlyOrdinaryFiles) {
    QDir().mkpath(folder.File("sub"));
    WriteBytes(folder.File("file.txt"), "x");
    struct Case {
        QString name;
        bool exists;
    } cases[] = {
        {folder.File("file.txt"), true},       {folder.File("sub"), false},
        {folder.File("sub") + "/", false},     {folder.File("missing.txt"), false},
        {folder.Path() + "//file.txt", true},  {QString(), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FileExist(c.name, true), c.exists) << c.name.toStdString();
    }
}

TEST_F(SurfaceTable, ReadyTileSurfaceLoadsOnDemandOnce) {
    MakeTileFolder(folder.File("tiles"), 0, 14, "12");
    InitSurfaces(form, Source());
    PrepareDD();
    ReadCounter reads;

    ReadyTileSurface(form, 3, Source());
    ASSERT_EQ(reads.Names(), QStringList{"3"});
    const DirectDrawSurface7* three = modRecs::TileSurf.At(3);
    ASSERT_NE(three, nullptr);
    EXPECT_EQ(three->Image().pixel(5, 9), TilePixel(3, 5, 9));
    bool keyed = false;
    EXPECT_EQ(three->GetColorKey(DDCKEY_SRCBLT, &keyed), (DDCOLORKEY{0, 0}));
    EXPECT_TRUE(keyed);

    // A second call reads nothing, even with the file gone.
    ASSERT_TRUE(QFile::remove(folder.File("tiles/3.bmp")));
    EXPECT_EQ(FailureOf([&] { ReadyTileSurface(form, 3, Source()); }), 0);
    EXPECT_EQ(reads.Total(), 1);
    EXPECT_EQ(modRecs::TileSurf.At(3), three);

    // Slot N is the spare one; N + 1 is above the count and reads nothing.
    ReadyTileSurface(form, 12, Source());
    EXPECT_NE(modRecs::TileSurf.At(12), nullptr);
    ReadyTileSurface(form, 13, Source());
    ReadyTileSurface(form, INT32_MAX, Source());
    EXPECT_EQ(reads.Names(), (QStringList{"3", "12"}));
    EXPECT_EQ(modRecs::TileSurf.FilledCount(), 2u);

    // The next sizing empties the table: the tile is read again.
    InitSurfaces(form, Source());
    EXPECT_EQ(modRecs::TileSurf.FilledCount(), 0u);
    ReadyTileSurface(form, 12, Source());
    EXPECT_EQ(reads.Of(12), 2);
}

TEST_F(SurfaceTable, NegativeTileNumbersNeverReachTheTable) {
    MakeTileFolder(folder.File("tiles"), 0, 2, "2");
    WriteTile(folder.File("tiles"), -1);
    InitSurfaces(form, Source());
    PrepareDD();
    ReadCounter reads;
    for (std::int32_t bad : {-1, -2, INT32_MIN}) {
        EXPECT_EQ(FailureOf([&] { ReadyTileSurface(form, bad, Source()); }), Err::SubscriptOutOfRange) << bad;
    }
    EXPECT_EQ(reads.Total(), 0);
    EXPECT_EQ(modRecs::TileSurf.FilledCount(), 0u);
}

TEST_F(SurfaceTable, ReadyTileSurfaceFailures) {
    MakeTileFolder(folder.File("tiles"), 0, 2, "4");
    WriteBytes(folder.File("tiles/2.bmp"), "no picture");
    InitSurfaces(form, Source());
    // No DirectDraw object yet: nothing can be created.
    EXPECT_GT(FailureOf([&] { ReadyTileSurface(form, 0, Source()); }), 0);
    PrepareDD();
    // Tile 2 is no picture and tile 3 is missing: negative failures, slots stay empty.
    EXPECT_EQ(FailureOf([&] { ReadyTileSurface(form, 2, Source()); }), Err::E_FAIL_);
    EXPECT_EQ(FailureOf([&] { ReadyTileSurface(form, 3, Source()); }), Err::E_FAIL_);
    try {
        ReadyTileSurface(form, 3, Source());
    } catch (const RuntimeError& e) {
        // The tile's own name, not its folder, so the entry stays short.
        EXPECT_EQ(e.Description(), "Automation error: unspecified failure (tile 3.bmp)");
    }
    EXPECT_EQ(modRecs::TileSurf.At(2), nullptr);
    EXPECT_EQ(modRecs::TileSurf.At(3), nullptr);
    // The name is folder + number with no separator added.
    EXPECT_EQ(FailureOf([&] { ReadyTileSurface(form, 1, folder.File("tiles")); }), Err::E_FAIL_);
    // A count that is no number.
    form.NumTileSurfs = "abc";
    EXPECT_EQ(FailureOf([&] { ReadyTileSurface(form, 1, Source()); }), Err::TypeMismatch);
    form.NumTileSurfs.clear();
    EXPECT_EQ(FailureOf([&] { ReadyTileSurface(form, 1, Source()); }), Err::TypeMismatch);
}

TEST_F(SurfaceTable, SpriteSide) {
    MakeTileFolder(folder.File("tiles"), 0, 3, "3");
    PrepareDD();
    ReadCounter reads;
    // Negative numbers return before anything is read; the empty count fails for the rest.
    EXPECT_EQ(FailureOf([&] { ReadySpriteSurface(form, -1, Source()); }), 0);
    EXPECT_EQ(FailureOf([&] { ReadySpriteSurface(form, 0, Source()); }), Err::TypeMismatch);
    // A count with unsized tables: the tables refuse the index.
    form.NumSpriteSurfs = "2";
    EXPECT_EQ(FailureOf([&] { ReadySpriteSurface(form, 1, Source()); }), Err::SubscriptOutOfRange);
    EXPECT_EQ(FailureOf([&] { ReadySpriteSurface(form, 3, Source()); }), 0);  // above the count
    // Sized tables: loads once, with the all-zero description and the black key.
    modRecs::SpriteLoaded.assign(3, 0);
    modRecs::SpriteSurf.Resize(2);
    ReadySpriteSurface(form, 1, Source());
    ReadySpriteSurface(form, 1, Source());
    EXPECT_EQ(reads.Names(), QStringList{"1"});
    ASSERT_NE(modRecs::SpriteSurf.At(1), nullptr);
    EXPECT_EQ(modRecs::SpriteSurf.At(1)->Image().pixel(0, 0), TilePixel(1, 0, 0));
    // A non-zero entry of SpriteLoaded skips the load.
    modRecs::SpriteLoaded[2] = 10000;
    ReadySpriteSurface(form, 2, Source());
    EXPECT_EQ(modRecs::SpriteSurf.At(2), nullptr);
    EXPECT_EQ(reads.Total(), 1);
    EXPECT_EQ(modRecs::ddsdSprite, DDSURFACEDESC2{});
    EXPECT_FALSE(modRecs::TileSurf.Sized());
}

}  // namespace
