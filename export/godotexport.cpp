#include "export/godotexport.h"

#include "export/godottext.h"
#include "export/godotwriter.h"
#include "tiled/tiledvalues.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <memory>
#include <set>

namespace {
// The text of the folder's scenes or resources (by extension) that this export does not replace.
std::vector<std::pair<QString, QByteArray>> earlier(const QString& folder, const QString& extension, const std::set<QString>& written) {
    std::vector<std::pair<QString, QByteArray>> found;
    for (const QString& entry : QDir(folder).entryList({"*." + extension}, QDir::Files)) {
        if (written.count(entry.toLower()) != 0) {
            continue;
        }
        QFile file(folder + entry);
        if (file.open(QIODevice::ReadOnly)) {
            found.emplace_back(entry, file.readAll());
        }
    }
    return found;
}

bool names(const QByteArray& text, const QString& res) { return text.contains("path=" + GodotQuoted(res)); }
}  // namespace

GodotExport GodotFiles(const std::vector<TiledMap>& maps, const QStringList& bases, const QString& name, ExportSheets& sheets,
                       const QString& folder, const QString& res, ExportCounts& counts) {
    GodotExport out;
    GodotAnimations animations;
    std::vector<std::unique_ptr<GodotTileSet>> tilesets;
    std::vector<QString> tilesetNames;
    std::vector<GodotGrid> grids(maps.size());
    std::vector<std::size_t> tilesetOf(maps.size());
    for (std::size_t k = 0; k < maps.size(); ++k) {
        GodotGridOf(maps[k], grids[k]);
        for (const TilesetRef& ref : maps[k].tilesets) {
            if (ref.tileset->renderAtGridSize && ref.tileset->tile != maps[k].tile && !sheets.SheetsOf(*ref.tileset).empty()) {
                out.refusal = QStringLiteral("the tileset %1 draws its %2x%3 tiles at the map's cell size (tile render size grid), which Godot does not")
                                  .arg(ref.tileset->name)
                                  .arg(ref.tileset->tile.width())
                                  .arg(ref.tileset->tile.height());
                out.file = maps[k].file;
                return out;
            }
        }
        if (!name.isEmpty() && k > 0 && !grids[k].SameCells(grids[0])) {
            out.refusal = QStringLiteral("its cells (%1x%2) are not laid out as those of %3 (%4x%5), so they cannot share the TileSet %6.tres; "
                                         "export them without --name, each with a TileSet of its own")
                              .arg(grids[k].tile.width())
                              .arg(grids[k].tile.height())
                              .arg(bases[0])
                              .arg(grids[0].tile.width())
                              .arg(grids[0].tile.height())
                              .arg(name);
            out.file = maps[k].file;
            return out;
        }
        if (name.isEmpty() || k == 0) {
            tilesetNames.push_back((name.isEmpty() ? bases[static_cast<qsizetype>(k)] : name) + ".tres");
            tilesets.push_back(std::make_unique<GodotTileSet>(sheets, animations, res, grids[k]));
        }
        tilesetOf[k] = tilesets.size() - 1;
        tilesets.back()->AddMap(maps[k]);
    }
    std::set<QString> written;
    for (std::size_t k = 0; k < maps.size(); ++k) {
        written.insert((bases[static_cast<qsizetype>(k)] + ".tscn").toLower());
    }
    for (const QString& tileset : tilesetNames) {
        written.insert(tileset.toLower());
    }
    // A scene this export leaves must keep the TileSet it draws from.
    for (const auto& [scene, text] : earlier(folder, QStringLiteral("tscn"), written)) {
        for (const QString& tileset : tilesetNames) {
            if (names(text, res + tileset)) {
                out.refusal = QStringLiteral("draws from %1, which this export would replace; export its map with these, or give another --name").arg(tileset);
                out.file = folder + scene;
                return out;
            }
        }
    }
    std::map<QString, QString> pictures;
    const auto scenes = [&](ExportCounts& counted) {
        for (std::size_t k = 0; k < maps.size(); ++k) {
            GodotWriter writer(*tilesets[tilesetOf[k]], grids[k], res, tilesetNames[tilesetOf[k]]);
            out.files.push_back({bases[static_cast<qsizetype>(k)] + ".tscn", writer.Scene(maps[k], bases[static_cast<qsizetype>(k)], sheets, pictures, counted)});
        }
    };
    scenes(counts);
    bool moved = false;
    // A TileSet this export leaves must keep its sheets' pixels.
    const auto others = earlier(folder, QStringLiteral("tres"), written);
    for (int sheet = 0; sheet < static_cast<int>(sheets.Sheets().size()); ++sheet) {
        bool used = false;
        for (const auto& [tileset, text] : others) {
            used = used || names(text, res + sheets.FileName(sheet));
        }
        QFile there(folder + sheets.FileName(sheet));
        if (!used || !there.open(QIODevice::ReadOnly)) {
            continue;
        }
        const QByteArray png = sheets.Png(sheet);
        if (there.readAll() == png) {
            continue;
        }
        const QString base = sheets.Sheets()[static_cast<std::size_t>(sheet)].name;
        for (int n = 2;; ++n) {
            const QString renamed = QStringLiteral("%1-%2").arg(base).arg(n);
            // A copy an earlier export made of these same pixels is taken again.
            QFile copy(folder + renamed + ".png");
            bool taken = copy.exists() && !(copy.open(QIODevice::ReadOnly) && copy.readAll() == png);
            for (const ExportSheets::Sheet& other : sheets.Sheets()) {
                taken = taken || other.name.compare(renamed, Qt::CaseInsensitive) == 0;
            }
            if (!taken) {
                sheets.Rename(sheet, renamed);
                break;
            }
        }
        moved = true;
    }
    if (moved) {
        // Tile objects name their sheets: the scenes again, under the new names.
        out.files.clear();
        ExportCounts again;
        scenes(again);
    }
    for (std::size_t t = 0; t < tilesets.size(); ++t) {
        out.files.push_back({tilesetNames[t], tilesets[t]->Write()});
    }
    for (const auto& [source, copy] : pictures) {
        QFile file(source);
        if (!QFileInfo(source).isFile() || !file.open(QIODevice::ReadOnly)) {
            InvalidMapFile(source, QStringLiteral("the image is missing"));
        }
        out.files.push_back({copy, file.readAll()});
        out.read += source;
    }
    return out;
}
