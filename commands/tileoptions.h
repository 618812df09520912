#pragma once

#include "sheets/tileformat.h"
#include "sheets/tilegrid.h"

#include <QRgb>
#include <QString>

#include <cstdint>
#include <optional>

// What the tile options of a command said, checked.
struct TileOptions {
    // True when any option beyond the window's was given: the tile commands run, not the
    // window's convert path.
    bool tiled = false;
    std::int32_t start = 0;
    TileGrid grid;
    QString gridOption;  // the first of --tile, --margin and --spacing given, "" for none
    TileFormat format = TileFormat::Bmp;
    QString formatText;  // --format as given; "" where not given
    bool FormatGiven() const { return !formatText.isEmpty(); }
    bool keepEdges = false;
    bool autoWidth = false;
    std::optional<int> width;
    QString tileset;
    // Pixels each tile's edges are repeated outward (0: none).
    int extrude = 0;
    // Distinct tiles and the map that places them.
    bool unique = false;
    bool flips = false;
    bool skipEmpty = false;
    std::optional<QRgb> emptyColour;
    QString map;
};

// "tile WxH, margin M, spacing S"
QString GridText(const TileGrid& grid);

// "WxH"
QString SizeText(QSize size);

// "1 layer", "2 layers"
QString CountText(std::int64_t count, const QString& noun);
