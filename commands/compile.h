#pragma once

#include "commands/commandresult.h"
#include "commands/tileoptions.h"

#include <QSize>

// Compile: the numbered tiles of a folder drawn onto one sheet. Without tile options the
// window's way (Tiles.bmp, byte for byte what the window writes); with them an exact sheet
// of any grid and format, extruded where asked, and its tileset.
struct CompileRequest {
    QString source;       // the tile folder
    QString destination;  // the folder that gets Tiles.*, or the sheet's own name (IsSheetName)
    TileOptions options;
    QString startText = QStringLiteral("0");  // the start and width boxes, the window's way
    QString widthText;                        // also the columns where no --width is given
    Progress progress;
};

struct CompileResult : CommandResult {
    bool windowsWay = true;
    QString sheet;  // the sheet's path as named
    QSize size;
    std::int64_t tileCount = 0;
    int columns = 0;
    int extrusion = 0;
    TileGrid extruded;  // the grid a tileset reads an extruded sheet with
};

CompileResult RunCompile(const CompileRequest& request);

// Whether a compile DEST names the sheet itself (ends in .png or .bmp) rather than its folder.
bool IsSheetName(const QString& destination);
