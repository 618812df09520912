#include "support/testsupport.h"

#include "maps/maprenderer.h"
#include "tiled/tiledfiles.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

namespace {

// Shapes and text cross the bands a map is drawn in: each band shows its part as the whole
// picture does, glyphs blended into translucent pixels included. Qt's anti-aliasing of a
// join moves by a few levels with the canvas's origin (measured: 4 pixels, at most 6 apart).
TEST(ObjectPainter, BandsShowWhatTheWholePictureShows) {
    const char* const orientations[] = {"orthogonal", "isometric"};
    for (const char* orientation : orientations) {
        TestFolder folder;
        WriteBytes(folder.File("m.tmx"), QStringLiteral(R"(<map version="1.8" orientation="%1" width="8" height="8" tilewidth="16" tileheight="16">
 <objectgroup id="1" name="o" color="#a0308020" opacity="0.7">
  <object id="1" x="3.5" y="5" width="50" height="41" rotation="15"><ellipse/></object>
  <object id="2" x="60" y="20"><polygon points="0,0 30,12 5,50"/></object>
  <object id="3" x="20" y="70"><point/></object>
  <object id="4" x="10" y="30" width="90" height="60"><text wrap="1" pixelsize="19" underline="1" color="#c0102030">Across the bands of the picture</text></object>
 </objectgroup>
</map>)").arg(QString::fromLatin1(orientation)).toUtf8());
        const TiledMap map = LoadMap(folder.File("m.tmx"));
        MapRenderer renderer(map, {});
        const QImage whole = renderer.Draw();
        QImage stitched(whole.size(), whole.format());
        QPainter painter(&stitched);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        int bands = 0;
        renderer.DrawBands(7, [&](const QImage& band, int top) {
            painter.drawImage(0, top, band);
            ++bands;
        });
        painter.end();
        EXPECT_GT(bands, 5) << orientation;
        EXPECT_EQ(renderer.ShapesDrawn(), 4) << orientation;
        int apart = 0, worst = 0;
        QPoint first;
        for (int y = 0; y < whole.height(); ++y) {
            for (int x = 0; x < whole.width(); ++x) {
                const QRgb a = stitched.pixel(x, y), b = whole.pixel(x, y);
                const int most = std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b)),
                                           std::abs(qAlpha(a) - qAlpha(b))});
                if (most > 0 && apart++ == 0) {
                    first = QPoint(x, y);
                }
                worst = std::max(worst, most);
            }
        }
        EXPECT_LE(apart, 10) << orientation << ": first at " << first.x() << "," << first.y();
        EXPECT_LE(worst, 8) << orientation << ": first at " << first.x() << "," << first.y();
        EXPECT_NE(whole, QImage(whole.size(), whole.format())) << orientation << ": nothing drawn";
    }
}

}  // namespace

namespace {

// Tiled 1.12 shears the shapes of oblique maps with the grid (tmxrasterizer here cannot draw
// those maps): a rectangle's rows move right by skewx per tile height, its fill with them.
TEST(ObjectPainter, ObliqueMapsShearTheirShapes) {
    TestFolder folder;
    WriteBytes(folder.File("m.tmx"), R"(<map version="1.12" orientation="oblique" width="6" height="6" tilewidth="16" tileheight="16" skewx="8">
 <objectgroup id="1" name="o" color="#ff0000ff">
  <object id="1" x="8" y="16" width="24" height="64"/>
 </objectgroup>
</map>)");
    const TiledMap map = LoadMap(folder.File("m.tmx"));
    MapRenderer renderer(map, {});
    const QImage picture = renderer.Draw().convertToFormat(QImage::Format_ARGB32);
    const int left = -renderer.MapBounds().x();  // the picture's column of map x 0
    // Inside the rectangle at its top and bottom rows, half a skew per 16 rows further right.
    for (const auto& [y, shift] : {std::pair{24, 12}, std::pair{72, 36}}) {
        const QRgb inside = picture.pixel(left + 20 + shift, y), before = picture.pixel(left + 20 + shift - 22, y);
        EXPECT_EQ(qBlue(inside), 255) << y;
        EXPECT_EQ(qAlpha(inside), 50) << y << ": Tiled's fill";
        EXPECT_EQ(qAlpha(before), 0) << y;
    }
}

}  // namespace
