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
    QString next;  // the next free number as info.ini holds it
    double seconds = 0;
};

SplitResult RunSplit(const SplitRequest& request);
