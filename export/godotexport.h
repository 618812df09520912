#pragma once

#include "export/exportcounts.h"
#include "export/exportsheets.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

// The Godot files of an export: a scene per map (BASE.tscn) and the TileSets they draw from.
// Each map gets a TileSet of its own (BASE.tres), so that a later export into the folder, of
// this map or others, leaves every earlier scene whole; with a name, the maps share one
// (NAME.tres), which they can only on the same grid. A sheet whose name an earlier TileSet in
// the folder uses for other pixels is written under a new name. The image layers' pictures
// are copied beside the scenes; read lists them.
struct GodotFile {
    QString name;
    QByteArray bytes;
};
struct GodotExport {
    std::vector<GodotFile> files;
    QStringList read;  // the pictures copied
    QString refusal;   // why nothing may be written, naming file
    QString file;
};
// folder is the export's (absolute, ending with a separator); res its res:// path.
GodotExport GodotFiles(const std::vector<TiledMap>& maps, const QStringList& bases, const QString& name, ExportSheets& sheets,
                       const QString& folder, const QString& res, ExportCounts& counts);
