#include "summaries.h"

#include "commands/autotile.h"
#include "commands/compile.h"
#include "commands/drawmap.h"
#include "commands/export.h"
#include "commands/extrude.h"
#include "commands/info.h"
#include "commands/optimize.h"
#include "commands/split.h"

#include <QDir>
#include <QFileInfo>

namespace {
QString seconds(double value) { return QString::number(value, 'f', 2); }
}  // namespace

QString SummaryLine(const SplitResult& result) {
    if (result.way == SplitResult::Way::Level) {
        return QStringLiteral("%1 tiles seen, %2 unique tiles stored (%3 new) in %4, %5 flips found, %6 empty cells, "
                              "next free number %7, %8 s")
            .arg(result.CountOf("seen"))
            .arg(result.CountOf("unique"))
            .arg(result.tiles->count)
            .arg(result.tiles->folder)
            .arg(result.CountOf("flips"))
            .arg(result.CountOf("empty"))
            .arg(result.next, seconds(result.seconds));
    }
    QString line =
        QStringLiteral("%1 tiles written to %2, next free number %3").arg(result.tiles->count).arg(result.tiles->folder, result.next);
    if (const std::int64_t dropped = result.CountOf("dropped"); dropped > 0) {
        line += QStringLiteral("; %1 pixels at the right and bottom edges dropped (--keep-edges keeps them)").arg(dropped);
    }
    return line;
}

QString SummaryLine(const CompileResult& result) {
    if (result.windowsWay) {
        return QStringLiteral("%1 written, %2 by %3 pixels").arg(result.sheet).arg(result.size.width()).arg(result.size.height());
    }
    QString line = QStringLiteral("%1 written, %2 by %3 pixels, %4 tiles at %5 to a row")
                       .arg(result.sheet)
                       .arg(result.size.width())
                       .arg(result.size.height())
                       .arg(result.tileCount)
                       .arg(result.columns);
    if (result.extrusion > 0) {
        line += "; " + ExtrusionSummary(result.extrusion, result.extruded);
    }
    return line;
}

QString SummaryLine(const DrawMapResult& result, const QString& destination) {
    if (result.plain) {
        return QStringLiteral("%1 written, %2 by %3 pixels, %4 cells of %5 tiles, %6 s")
            .arg(destination)
            .arg(result.size.width())
            .arg(result.size.height())
            .arg(SizeText(result.cells), SizeText(result.tile), seconds(result.seconds));
    }
    if (result.frames > 0) {
        return QStringLiteral("%1 written, %2 by %3 pixels, %4 frames over a loop of %5 ms, %6 layers drawn, %7 s")
            .arg(destination)
            .arg(result.size.width())
            .arg(result.size.height())
            .arg(result.frames)
            .arg(result.loop)
            .arg(result.layersDrawn)
            .arg(seconds(result.seconds));
    }
    return QStringLiteral("%1 written, %2 by %3 pixels, %4 drawn, %5 drawn, %6 s")
        .arg(destination)
        .arg(result.size.width())
        .arg(result.size.height())
        .arg(CountText(result.layersDrawn, QStringLiteral("layer")), CountText(result.CountOf("shapes"), QStringLiteral("shape or text object")))
        .arg(seconds(result.seconds));
}

QString SummaryLine(const ExtrudeResult& result, int extrusion) {
    const QString tiles = QStringLiteral("%1 tiles (%2)%3")
                              .arg(std::int64_t{result.cells.width()} * result.cells.height())
                              .arg(SizeText(result.cells),
                                   result.partial ? QStringLiteral(", the partial tiles at the right and bottom edges dropped") : QString());
    const QString written = result.tileset.isEmpty() ? result.sheet : QStringLiteral("%1 and %2").arg(result.tileset, result.sheet);
    return QStringLiteral("%1 written, %2 by %3 pixels, %4; %5")
        .arg(written, QString::number(result.size.width()), QString::number(result.size.height()), tiles,
             ExtrusionSummary(extrusion, result.extruded));
}

QString SummaryLine(const OptimizeResult& result, int extrusion, bool dryRun) {
    return QStringLiteral("%1 maps read; tiles: %2 before, %3 used, %4 after (%5 duplicates merged, %6 by "
                          "flips); sheet pixels: %7 before, %8 after; %9 s%10")
        .arg(result.CountOf("maps"))
        .arg(result.CountOf("tilesBefore"))
        .arg(result.CountOf("used"))
        .arg(result.CountOf("tiles"))
        .arg(result.CountOf("merged"))
        .arg(result.CountOf("flips"))
        .arg(result.CountOf("sheetPixelsBefore"))
        .arg(result.CountOf("sheetPixelsAfter"))
        .arg(seconds(result.seconds))
        .arg((extrusion > 0 ? "; " + ExtrusionSummary(extrusion, result.extruded) : QString()) +
             (dryRun ? QStringLiteral(" (dry run: nothing written)") : QString()));
}

QString SummaryLine(const ExportResult& result, const QString& out, int extrusion) {
    QString line = QStringLiteral("%1 exported to %2 for %3: %4, %5 placed, %6 written, %7 kept")
                       .arg(CountText(result.CountOf("maps"), QStringLiteral("map")))
                       .arg(out, result.engine)
                       .arg(CountText(result.CountOf("layers"), QStringLiteral("tile layer")))
                       .arg(CountText(result.CountOf("tiles"), QStringLiteral("tile")))
                       .arg(CountText(result.CountOf("sheets"), QStringLiteral("sheet")))
                       .arg(CountText(result.CountOf("objects"), QStringLiteral("object")));
    QStringList leftOut;
    if (const std::int64_t objects = result.CountOf("objectsLeftOut"); objects > 0) {
        leftOut += CountText(objects, QStringLiteral("object"));
    }
    if (const std::int64_t layers = result.CountOf("layersLeftOut"); layers > 0) {
        leftOut += CountText(layers, QStringLiteral("layer")) + QStringLiteral(" of other kinds");
    }
    for (const auto& [count, noun] : {std::pair{"tintsLeftOut", "layer tint"}, {"blendsLeftOut", "blend mode"},
                                      {"propertiesLeftOut", "property value"}, {"animationsLeftOut", "tile animation"},
                                      {"shapesLeftOut", "collision shape"}, {"rotationsLeftOut", "object rotation"}}) {
        if (const std::int64_t n = result.CountOf(QLatin1String(count)); n > 0) {
            leftOut += CountText(n, QLatin1String(noun));
        }
    }
    if (const std::int64_t outlines = result.CountOf("outlinesLeftOut"); outlines > 0) {
        leftOut += CountText(outlines, QStringLiteral("polygon outline")) + QStringLiteral(" (kept as bounds)");
    }
    line += leftOut.isEmpty() ? QStringLiteral("; nothing left out") : QStringLiteral("; left out: %1").arg(leftOut.join(", "));
    if (!result.resourceRoot.isEmpty()) {
        line += result.godotProject ? QStringLiteral("; res:// is the Godot project %1").arg(result.resourceRoot)
                                    : QStringLiteral("; res:// is %1 (no project.godot above it)").arg(result.resourceRoot);
    }
    if (extrusion > 0) {
        line += QStringLiteral("; sheets extruded by %1").arg(extrusion);
    }
    if (const std::int64_t unused = result.CountOf("tilesetsWithoutPicture"); unused > 0) {
        line += QStringLiteral("; %1 without a picture (used by entities only) not written").arg(CountText(unused, QStringLiteral("tileset")));
    }
    return line;
}

QString SummaryLine(const AutotileResult& result, const QString& out) {
    QStringList files;
    for (const QString& file : result.written) {
        files += QFileInfo(file).fileName();
    }
    return QStringLiteral("%1, %2 of %3x%3 pixels written to %4: %5; res:// is %6")
        .arg(CountText(result.CountOf("terrains"), QStringLiteral("terrain")), CountText(result.CountOf("tiles"), QStringLiteral("tile")))
        .arg(result.tile)
        .arg(out, files.join(", "),
             result.godotProject ? QStringLiteral("the Godot project ") + result.resourceRoot
                                 : result.resourceRoot + QStringLiteral(" (no project.godot above it)"));
}

QString InfoLines(const FileInfo& info) {
    if (info.tileset) {
        return QStringLiteral("%1\ttileset\t%2\t%3\t%4\t%5\t%6\n")
            .arg(info.file, info.name, SizeText(info.tile) + " tiles", CountText(info.tileCount, QStringLiteral("tile")),
                 CountText(info.columns, QStringLiteral("column")),
                 info.image.isEmpty() ? QStringLiteral("collection") : QDir::current().relativeFilePath(info.image));
    }
    if (info.project) {
        QString lines = QStringLiteral("%1\tldtk\t%2\t%3\t%4\t%5\n")
                            .arg(info.file, info.version, CountText(static_cast<std::int64_t>(info.worlds.size()), QStringLiteral("world")),
                                 CountText(static_cast<std::int64_t>(info.levels.size()), QStringLiteral("level")),
                                 CountText(static_cast<std::int64_t>(info.projectTilesets.size()), QStringLiteral("tileset")));
        for (const auto& [name, layout] : info.worlds) {
            lines += QStringLiteral("%1\tworld\t%2\t%3\n").arg(info.file, name, layout);
        }
        for (const LevelInfo& level : info.levels) {
            lines += QStringLiteral("%1\tlevel\t%2\t%3\t%4\t%5\t%6\n")
                         .arg(info.file, level.world, level.name, SizeText(level.size)).arg(level.position.x()).arg(level.position.y());
            for (const LayerInfo& layer : level.layers) {
                lines += QStringLiteral("%1\tlayer\t%2\t%3\t%4\t%5 cells of %6\t%7\t%8\t%9\t%10\n")
                             .arg(info.file, level.name, layer.kind, layer.name, layer.size).arg(layer.grid)
                             .arg(layer.tilesets, CountText(layer.tiles, QStringLiteral("tile")), layer.entities == 1 ? QStringLiteral("1 entity") : QStringLiteral("%1 entities").arg(layer.entities),
                                  layer.visible ? QStringLiteral("visible") : QStringLiteral("hidden"));
            }
        }
        for (const ProjectTilesetInfo& tileset : info.projectTilesets) {
            lines += QStringLiteral("%1\ttileset\t%2\t%3\t%4\n")
                         .arg(info.file, tileset.name, QStringLiteral("%1x%1 tiles").arg(tileset.grid),
                              tileset.picture.isEmpty() ? QStringLiteral("no picture (entities only)") : QDir::current().relativeFilePath(tileset.picture));
        }
        return lines;
    }
    if (info.world) {
        QString lines = QStringLiteral("%1\tworld\t%2 maps\n").arg(info.file).arg(info.worldMaps.size());
        for (const auto& [file, position] : info.worldMaps) {
            lines += QStringLiteral("%1\tmap\t%2\t%3\t%4\n").arg(info.file, file).arg(position.x()).arg(position.y());
        }
        return lines;
    }
    if (!info.map) {
        return QStringLiteral("%1\t%2\t%3\t%4\t%5\n").arg(info.file, info.format).arg(info.width).arg(info.height).arg(info.depth);
    }
    QString lines = QStringLiteral("%1\tmap\t%2\t%3x%4 cells\t%5x%6 tiles\n")
                        .arg(info.file, info.orientation).arg(info.cells.width()).arg(info.cells.height())
                        .arg(info.tile.width()).arg(info.tile.height());
    for (const LayerInfo& layer : info.layers) {
        lines += QStringLiteral("%1\t%2\t%3\t%4\t%5\t%6\n")
                     .arg(info.file, layer.kind, layer.name, layer.size, layer.tilesets,
                          layer.visible ? QStringLiteral("visible") : QStringLiteral("hidden"));
    }
    return lines;
}
