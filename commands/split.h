#pragma once

#include "commands/commandresult.h"
#include "commands/tileoptions.h"

#include <QSize>

// Split: a picture cut into numbered tiles. Without tile options the window's way (32 by 32
// bitmaps, byte for byte what the window writes); with them any grid and format; with
// --unique each distinct tile once, with the map that places them and its tileset.
struct SplitRequest {
    QString source;
    QString destination;
    TileOptions options;
    QString startText = QStringLiteral("0");  // the start and width boxes, the window's way
    QString widthText;
    Progress progress;
};

struct SplitResult : CommandResult {
    enum class Way { Window, Grid, Level };
    Way way = Way::Window;
    QString folder;        // the tile folder, with its separator
    std::int64_t tileCount = 0;  // tiles written (new tiles of a level)
    QString next;          // the next free number as info.ini holds it
    std::int64_t dropped = 0;
    // A level: cells seen, tiles in the tileset, cells placed flipped, empty cells.
    std::int64_t seen = 0, unique = 0, flips = 0, empty = 0;
    double seconds = 0;
};

SplitResult RunSplit(const SplitRequest& request);
