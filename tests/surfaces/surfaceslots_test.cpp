#include "runtime/runtimeerror.h"
#include "support/tilefixtures.h"
#include "surfaces/surfaceslots.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

std::int32_t FailureOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const RuntimeError& e) {
        return e.Number();
    }
    return 0;
}

std::unique_ptr<DirectDrawSurface7> Surface(int n) { return std::make_unique<DirectDrawSurface7>(TileImage(n)); }

TEST(SurfaceSlots, UnsizedTableTakesNoIndex) {
    SurfaceSlots table;
    EXPECT_FALSE(table.Sized());
    EXPECT_EQ(table.UpperBound(), -1);
    for (std::int64_t i : {std::int64_t{-1}, std::int64_t{0}, std::int64_t{1}}) {
        EXPECT_EQ(FailureOf([&] { table.At(i); }), Err::SubscriptOutOfRange) << i;
        EXPECT_EQ(FailureOf([&] { table.Set(i, Surface(0)); }), Err::SubscriptOutOfRange) << i;
    }
    EXPECT_EQ(table.FilledCount(), 0u);
}

TEST(SurfaceSlots, BoundsAreZeroToUpperInclusive) {
    struct Case {
        std::int32_t upper;
        std::vector<std::int64_t> inside, outside;
    } cases[] = {
        {0, {0}, {-1, 1}},
        {12, {0, 5, 12}, {-1, 13, INT32_MIN}},
        {INT32_MAX, {0, INT32_MAX}, {-1, std::int64_t{INT32_MAX} + 1, INT32_MIN}},
    };
    for (const Case& c : cases) {
        SurfaceSlots table;
        table.Resize(c.upper);
        EXPECT_EQ(table.UpperBound(), c.upper);
        for (std::int64_t i : c.inside) {
            EXPECT_EQ(table.At(i), nullptr) << c.upper << " " << i;
            table.Set(i, Surface(1));
            EXPECT_NE(table.At(i), nullptr) << c.upper << " " << i;
        }
        for (std::int64_t i : c.outside) {
            EXPECT_EQ(FailureOf([&] { table.At(i); }), Err::SubscriptOutOfRange) << c.upper << " " << i;
            EXPECT_EQ(FailureOf([&] { table.Set(i, Surface(1)); }), Err::SubscriptOutOfRange) << c.upper << " " << i;
        }
        EXPECT_EQ(table.FilledCount(), c.inside.size()) << c.upper;
    }
}

TEST(SurfaceSlots, ResizeEmptiesEveryFilledSlot) {
    SurfaceSlots table;
    table.Resize(5);
    table.Set(2, Surface(2));
    table.Set(5, Surface(5));
    table.Resize(5);
    EXPECT_EQ(table.At(2), nullptr);
    EXPECT_EQ(table.At(5), nullptr);
    EXPECT_EQ(table.FilledCount(), 0u);
}

TEST(SurfaceSlots, BoundBelowZeroKeepsTheTableAsItWas) {
    SurfaceSlots table;
    table.Resize(3);
    table.Set(1, Surface(1));
    const DirectDrawSurface7* kept = table.At(1);
    for (std::int32_t bad : {-1, INT32_MIN}) {
        EXPECT_EQ(FailureOf([&] { table.Resize(bad); }), Err::SubscriptOutOfRange) << bad;
        EXPECT_EQ(table.UpperBound(), 3);
        EXPECT_EQ(table.At(1), kept);
    }
    table.Erase();
    EXPECT_FALSE(table.Sized());
    EXPECT_EQ(FailureOf([&] { table.At(0); }), Err::SubscriptOutOfRange);
}

TEST(SurfaceSlots, FillingASlotAgainReplacesItsSurface) {
    SurfaceSlots table;
    table.Resize(2);
    table.Set(1, Surface(1));
    table.Set(1, Surface(9));
    EXPECT_EQ(table.FilledCount(), 1u);
    EXPECT_EQ(table.At(1)->Image().pixel(0, 0), TilePixel(9, 0, 0));
    table.Set(1, nullptr);
    EXPECT_EQ(table.At(1), nullptr);
    EXPECT_EQ(table.FilledCount(), 0u);
}

}  // namespace
