#include "maps/canvasblend.h"

#include "imaging/vectorunits.h"

#include <gtest/gtest.h>

#include <QPainter>
#include <vector>

namespace {

using Row = std::vector<std::uint32_t>;

Row repeated(std::initializer_list<std::uint32_t> pattern, std::size_t length) {
    Row row;
    while (row.size() < length) {
        row.insert(row.end(), pattern);
    }
    row.resize(length);
    return row;
}

// The rows where Qt's vectors round apart from its other paths, each laid by the painter and
// by hand; and a row with a pixel to sum is refused whole, untouched, when none may be summed.
TEST(CanvasBlend, LaysRowsAsThePainterLaysOneSpan) {
    // Debian 12's Qt on a processor with AVX2, whose spans the sums were made after, must be
    // matched; elsewhere the painter may lay the rows with sums.
#ifdef TILVEX_AVX2_PATHS
    const bool known = QString(qVersion()).startsWith("6.4.") && HasAvx2();
#else
    const bool known = false;
#endif
    const struct {
        const char* name;
        Row source, canvas;
        double opacity;
    } cases[] = {
        // Dark opaque canvas pixels come back a step lower where a vector holds a translucent one.
        {"translucent over dark opaque", repeated({0x80402010u}, 16), repeated({0xFF010203u, 0xFF7F7F7Fu}, 16), 1.0},
        {"translucent over mixed vectors", repeated({0x80402010u}, 16),
         repeated({0xFF010203u, 0x80102030u, 0xFF7F7F7Fu}, 16), 1.0},
        // A clear pixel over a translucent one: the round trip through 16 bits moves it.
        {"clear over translucent", repeated({0u, 0xFF00FF00u}, 13), repeated({0x01904AB1u, 0x7F123456u}, 13), 1.0},
        {"three past the last vector", {0x40201008u, 0u, 0x7F7F0000u}, {0x20FFFFFFu, 0x11223344u, 0xFF000000u}, 1.0},
        {"opaque at 0.3", repeated({0xFF9C3F46u, 0u}, 15), repeated({0x17B536FAu, 0xFF847430u}, 15), 0.3},
        {"opaque at 0.77", repeated({0xFF4B3181u}, 19), repeated({0xFF847430u, 0u}, 19), 0.77},
    };
    for (const auto& c : cases) {
        const int length = static_cast<int>(c.source.size());
        QImage picture(length, 1, QImage::Format_ARGB32_Premultiplied), painted(length, 1, QImage::Format_ARGB32);
        std::copy(c.source.begin(), c.source.end(), reinterpret_cast<std::uint32_t*>(picture.bits()));
        std::copy(c.canvas.begin(), c.canvas.end(), reinterpret_cast<std::uint32_t*>(painted.bits()));
        {
            QPainter painter(&painted);
            painter.setOpacity(c.opacity);
            painter.drawImage(0, 0, picture);
        }
        Row laid = c.canvas;
        EXPECT_FALSE(BlendCanvasRow(c.source.data(), laid.data(), length, c.opacity, 0)) << c.name;
        EXPECT_EQ(laid, c.canvas) << c.name << ": touched though refused";
        if (!BlendCanvasRow(c.source.data(), laid.data(), length, c.opacity, length)) {
            ASSERT_FALSE(known) << "the sums differ from this Qt's";
            GTEST_SKIP() << "Qt " << qVersion() << " on this processor lays spans in a way not known here: the painter lays them";
        }
        for (int x = 0; x < length; ++x) {
            EXPECT_EQ(laid[static_cast<std::size_t>(x)], painted.pixel(x, 0)) << c.name << " at " << x;
        }
    }
}

}  // namespace
