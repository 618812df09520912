#include "sheets/uniquesplitter.h"

#include "imaging/pngwriter.h"
#include "runtime/parallel.h"
#include "sheets/sheetsplitter.h"
#include "sheets/tileformat.h"

UniqueSplitter::UniqueSplitter(bool skipEmpty, std::optional<QRgb> emptyColour)
    : skipEmpty_(skipEmpty), emptyColour_(emptyColour) {}

bool UniqueSplitter::isEmpty(const QImage& tile) const {
    const QList<QRgb> palette = tile.colorTable();
    for (int y = 0; y < tile.height(); ++y) {
        const uchar* row = tile.constScanLine(y);
        for (int x = 0; x < tile.width(); ++x) {
            QRgb pixel;
            if (tile.format() == QImage::Format_Indexed8) {
                pixel = palette.value(row[x]);
            } else if (tile.format() == QImage::Format_RGB32) {
                pixel = reinterpret_cast<const QRgb*>(row)[x];
            } else {
                const uchar* p = row + 4 * x;
                pixel = qRgba(p[0], p[1], p[2], p[3]);
            }
            if (emptyColour_ ? pixel != *emptyColour_ : qAlpha(pixel) != 0) {
                return false;
            }
        }
    }
    return true;
}

TileMap UniqueSplitter::Place(const SheetSplitter& splitter, TileIndex& index) {
    const auto count = static_cast<std::size_t>(splitter.TileCount());
    // Keys and emptiness on every core; placing keeps the order of first appearance.
    std::vector<std::uint64_t> keys(count);
    std::vector<char> empty(count, 0);
    ParallelFor(count, [&](std::size_t k) {
        const QImage tile = splitter.Tile(static_cast<std::int64_t>(k));
        empty[k] = skipEmpty_ && isEmpty(tile);
        if (!empty[k]) {
            keys[k] = index.Key(tile);
        }
    });
    const QSize cells = splitter.Cells();
    TileMap map(cells, count > 0 ? splitter.Tile(0).size() : QSize());
    counts_ = Counts{static_cast<std::int64_t>(count), 0, 0, 0};
    for (std::size_t k = 0; k < count; ++k) {
        MapCell& cell = map.At(static_cast<int>(k % static_cast<std::size_t>(cells.width())),
                               static_cast<int>(k / static_cast<std::size_t>(cells.width())));
        if (empty[k]) {
            ++counts_.empty;
            continue;
        }
        const QImage tile = splitter.Tile(static_cast<std::int64_t>(k));
        const TileIndex::Placement found = index.Find(tile, keys[k]);
        if (found.id >= 0) {
            cell = MapCell{found.id, found.flips};
            counts_.flipped += found.flips != 0;
        } else {
            cell = MapCell{index.Add(tile), 0};
            ++counts_.stored;
        }
    }
    return map;
}

void UniqueSplitter::WriteTiles(const TileIndex& index, std::int32_t first, const QString& folder, std::int32_t start,
                                TileFormat format) {
    if (first >= index.Count()) {
        return;
    }
    const QImage& sample = index.Tile(first);
    const PngFilters filters = ChooseFilters(sample, 0, sample.height());
    ParallelFor(static_cast<std::size_t>(index.Count() - first), [&](std::size_t k) {
        const auto id = static_cast<std::int32_t>(first + static_cast<std::int32_t>(k));
        WriteTileImage(index.Tile(id), sample.width(), sample.height(), format, filters,
                       folder + TileFileName(start + id, format));
    });
}
