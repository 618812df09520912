#pragma once

#include "imaging/picturesink.h"
#include "sheets/tileindex.h"
#include "sheets/tilemap.h"

#include <QRgb>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

class SheetSplitter;

// Cuts a picture into the tiles of its grid and keeps each distinct tile once: the map of
// the picture and the new tiles of the index.
class UniqueSplitter {
public:
    struct Counts {
        std::int64_t seen = 0;     // cells cut
        std::int64_t stored = 0;   // tiles new to the index
        std::int64_t flipped = 0;  // cells placed with a flip
        std::int64_t empty = 0;    // cells left empty
    };

    // With skipEmpty, a cell is empty when every pixel is emptyColour, or, without one,
    // fully transparent.
    UniqueSplitter(bool skipEmpty, std::optional<QRgb> emptyColour);

    // Places every tile of the splitter in the index (new ones appended in order of first
    // appearance) and returns the map of the cells.
    TileMap Place(const SheetSplitter& splitter, TileIndex& index);

    // Tiles of the index from first on, written as folder + TileFileName(start + id).
    static void WriteTiles(const TileIndex& index, std::int32_t first, const QString& folder, std::int32_t start,
                           TileFormat format);

    const Counts& Count() const { return counts_; }

private:
    bool isEmpty(const QImage& tile) const;

    bool skipEmpty_;
    std::optional<QRgb> emptyColour_;
    Counts counts_;
};
