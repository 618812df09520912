#include "tiled/mapfile.h"

#include "runtime/limits.h"
#include "runtime/runtimeerror.h"
#include "runtime/wholefile.h"
#include "tiled/tiledfiles.h"
#include "sheets/tileindex.h"
#include "tiled/xmlfile.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <limits>
#include <vector>

namespace {
const char* const PictureWidth = "picturewidth";
const char* const PictureHeight = "pictureheight";

QString suffixOf(const QString& path) { return QFileInfo(path).suffix().toLower(); }

[[noreturn]] void invalid(const QString& path, const QString& reason) {
    throw RuntimeError(Err::InvalidPicture, reason, path);
}

std::uint32_t gidOf(const MapCell& cell) {
    return cell.id < 0 ? 0u : (static_cast<std::uint32_t>(cell.id) + 1u) | cell.flips;
}

MapCell cellOf(std::uint32_t gid) {
    const std::uint32_t id = gid & ~GidFlag::Flips;
    return id == 0 ? MapCell{} : MapCell{static_cast<std::int32_t>(id - 1), gid & GidFlag::Flips};
}

QString colourText(QRgb colour) { return QStringLiteral("#%1").arg(colour & 0xFFFFFFu, 6, 16, QLatin1Char('0')); }

QString relativeTileset(const QString& mapPath, const TileMap& map) {
    return QFileInfo(mapPath).absoluteDir().relativeFilePath(QFileInfo(map.Tileset).absoluteFilePath());
}

// The cells as the TMX CSV layer text: a line per row.
QString csvRows(const TileMap& map, bool gids) {
    QString text;
    for (int row = 0; row < map.Cells().height(); ++row) {
        text += '\n';
        for (int column = 0; column < map.Cells().width(); ++column) {
            const MapCell& cell = map.At(column, row);
            text += gids ? QString::number(gidOf(cell)) : QString::number(cell.id);
            if (column + 1 < map.Cells().width() || (gids && row + 1 < map.Cells().height())) {
                text += ',';
            }
        }
    }
    return text + '\n';
}

void writeTmx(const QString& path, const TileMap& map, QXmlStreamWriter& xml) {
    xml.writeStartElement("map");
    xml.writeAttribute("version", "1.8");
    xml.writeAttribute("orientation", "orthogonal");
    xml.writeAttribute("renderorder", "right-down");
    xml.writeAttribute("width", QString::number(map.Cells().width()));
    xml.writeAttribute("height", QString::number(map.Cells().height()));
    xml.writeAttribute("tilewidth", QString::number(map.Tile().width()));
    xml.writeAttribute("tileheight", QString::number(map.Tile().height()));
    xml.writeAttribute("infinite", "0");
    if (map.Background) {
        xml.writeAttribute("backgroundcolor", colourText(*map.Background));
    }
    xml.writeAttribute("nextlayerid", "2");
    xml.writeAttribute("nextobjectid", "1");
    if (map.HasPictureSize()) {
        xml.writeStartElement("properties");
        const int sides[2] = {map.PictureSize().width(), map.PictureSize().height()};
        const char* const names[2] = {PictureWidth, PictureHeight};
        for (int i = 0; i < 2; ++i) {
            xml.writeStartElement("property");
            xml.writeAttribute("name", names[i]);
            xml.writeAttribute("type", "int");
            xml.writeAttribute("value", QString::number(sides[i]));
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }
    xml.writeStartElement("tileset");
    xml.writeAttribute("firstgid", "1");
    xml.writeAttribute("source", relativeTileset(path, map));
    xml.writeEndElement();
    xml.writeStartElement("layer");
    xml.writeAttribute("id", "1");
    xml.writeAttribute("name", "level");
    xml.writeAttribute("width", QString::number(map.Cells().width()));
    xml.writeAttribute("height", QString::number(map.Cells().height()));
    xml.writeStartElement("data");
    xml.writeAttribute("encoding", "csv");
    xml.writeCharacters(csvRows(map, true));
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndElement();
}

QByteArray tmjBytes(const QString& path, const TileMap& map) {
    QJsonArray data;
    for (int row = 0; row < map.Cells().height(); ++row) {
        for (int column = 0; column < map.Cells().width(); ++column) {
            data.append(static_cast<qint64>(gidOf(map.At(column, row))));
        }
    }
    QJsonObject layer{{"data", data},       {"height", map.Cells().height()}, {"id", 1},
                      {"name", "level"},    {"opacity", 1},                   {"type", "tilelayer"},
                      {"visible", true},    {"width", map.Cells().width()},   {"x", 0},
                      {"y", 0}};
    QJsonObject root{{"height", map.Cells().height()},
                     {"infinite", false},
                     {"layers", QJsonArray{layer}},
                     {"nextlayerid", 2},
                     {"nextobjectid", 1},
                     {"orientation", "orthogonal"},
                     {"renderorder", "right-down"},
                     {"tileheight", map.Tile().height()},
                     {"tilesets", QJsonArray{QJsonObject{{"firstgid", 1}, {"source", relativeTileset(path, map)}}}},
                     {"tilewidth", map.Tile().width()},
                     {"type", "map"},
                     {"version", "1.8"},
                     {"width", map.Cells().width()}};
    if (map.Background) {
        root["backgroundcolor"] = colourText(*map.Background);
    }
    if (map.HasPictureSize()) {
        root["properties"] = QJsonArray{
            QJsonObject{{"name", PictureWidth}, {"type", "int"}, {"value", map.PictureSize().width()}},
            QJsonObject{{"name", PictureHeight}, {"type", "int"}, {"value", map.PictureSize().height()}}};
    }
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

// A count of cells or pixels from a map file: 1 to 2^17.
int side(const QString& path, const QString& name, qint64 value) {
    if (value < 1 || value > Limits::PictureSide) {
        invalid(path, QStringLiteral("%1 %2 is not from 1 to %3").arg(name).arg(value).arg(Limits::PictureSide));
    }
    return static_cast<int>(value);
}

// A map of cells and tiles that fits a picture the tool can draw.
TileMap sized(const QString& path, QSize cells, QSize tile) {
    if (std::int64_t{cells.width()} * cells.height() > Limits::LayerCells) {
        invalid(path, QStringLiteral("%1x%2 cells are more than %3").arg(cells.width()).arg(cells.height()).arg(Limits::LayerCells));
    }
    if (tile.isValid() && (std::int64_t{cells.width()} * tile.width() > Limits::PictureSide ||
                           std::int64_t{cells.height()} * tile.height() > Limits::PictureSide)) {
        invalid(path, QStringLiteral("the map is larger than %1 pixels a side").arg(Limits::PictureSide));
    }
    return TileMap(cells, tile);
}

// The picture's side from the map's property: within a tile of the cells' side, as split
// drops or pads the edges; anything else is no picture of these cells.
int pictureSide(const TiledMap& map, const char* name, int cells, int tile) {
    const auto text = map.Property(QLatin1String(name));
    if (!text) {
        return cells * tile;
    }
    bool ok = false;
    const qint64 value = text->toLongLong(&ok);
    const qint64 whole = qint64{cells} * tile;
    if (!ok || value <= whole - tile || value >= whole + tile) {
        invalid(map.file, QStringLiteral("%1 %2 is not within a tile of the %3 pixels of %4 cells of %5")
                              .arg(name, text->left(20)).arg(whole).arg(cells).arg(tile));
    }
    return static_cast<int>(value);
}

TileMap readCsv(const QString& path, const QByteArray& bytes) {
    QStringList lines = QString::fromUtf8(bytes).split('\n');
    while (!lines.isEmpty() && lines.back().trimmed().isEmpty()) {
        lines.removeLast();
    }
    std::vector<std::int32_t> ids;
    int columns = -1;
    for (const QString& line : lines) {
        const QStringList items = line.split(',');
        if (columns >= 0 && items.size() != columns) {
            invalid(path, QStringLiteral("rows of %1 and of %2 tiles").arg(columns).arg(items.size()));
        }
        columns = static_cast<int>(items.size());
        for (const QString& item : items) {
            bool ok = false;
            const int id = item.trimmed().toInt(&ok);
            if (!ok || id < -1) {
                invalid(path, QStringLiteral("\"%1\" is no tile id (-1 for empty)").arg(item.trimmed()));
            }
            ids.push_back(id);
        }
    }
    TileMap map = sized(path, QSize(side(path, "width", columns), side(path, "height", lines.size())), QSize());
    for (std::size_t k = 0; k < ids.size(); ++k) {
        map.At(static_cast<int>(k % static_cast<std::size_t>(columns)), static_cast<int>(k / static_cast<std::size_t>(columns))).id = ids[k];
    }
    map.Tileset = QFileInfo(path).absoluteDir().filePath(QFileInfo(path).completeBaseName() + ".tsx");
    return map;
}
}  // namespace

bool IsMapFileName(const QString& path) {
    const QString suffix = suffixOf(path);
    return QFileInfo(path).completeBaseName().size() > 0 && (suffix == "tmx" || suffix == "tmj" || suffix == "json" || suffix == "csv");
}

void WriteMapFile(const QString& path, const TileMap& map) {
    const QString suffix = suffixOf(path);
    if (suffix == "tmx") {
        WriteXmlFile(path, [&](QXmlStreamWriter& xml) { writeTmx(path, map, xml); });
        return;
    }
    const QByteArray bytes = suffix == "tmj" || suffix == "json" ? tmjBytes(path, map) : csvRows(map, false).mid(1).toUtf8();
    WriteWholeFile(path, bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

TileMap ReadMapFile(const QString& path) {
    if (suffixOf(path) == "csv") {
        return readCsv(path, ReadWholeFile(path));
    }
    // The tileset is read by whoever draws the map.
    const TiledMap tiled = LoadMap(path, false);
    QString why;
    auto map = PlainTileMap(tiled, why);
    if (!map) {
        invalid(path, why);
    }
    return *map;
}

std::optional<TileMap> PlainTileMap(const TiledMap& tiled, QString& why) {
    const auto refuse = [&](const QString& reason) {
        why = reason;
        return std::nullopt;
    };
    if (tiled.orientation != "orthogonal" || tiled.infinite) {
        return refuse(QStringLiteral("only finite orthogonal maps are read"));
    }
    if (tiled.tilesets.size() != 1 || tiled.tilesets[0].firstGid != 1 || tiled.tilesets[0].tileset->file.isEmpty() ||
        tiled.tilesets[0].tileset->tileOffset != QPoint()) {
        return refuse(QStringLiteral("only maps of one external tileset from gid 1 are read"));
    }
    const bool oneLayer = tiled.layers.size() == 1 && tiled.layers[0].kind == LayerKind::Tiles;
    const TiledLayer* layer = oneLayer ? &tiled.layers[0] : nullptr;
    if (layer == nullptr || !layer->visible || layer->opacity != 1.0 || !layer->offset.isNull() ||
        (layer->tint && layer->tint->rgba() != 0xFFFFFFFFu) || layer->size != tiled.size) {
        return refuse(QStringLiteral("only maps of one plain tile layer are read"));
    }
    if (layer->encoding != "csv" && !(!tiled.file.endsWith(".tmx", Qt::CaseInsensitive) && layer->encoding.isEmpty())) {
        return refuse(QStringLiteral("only CSV layer data is read"));
    }
    if (tiled.tilesets[0].tileset->loaded && tiled.tilesets[0].tileset->tile != tiled.tile) {
        return refuse(QStringLiteral("only maps whose tileset has the map's tile size are read"));
    }
    const int width = pictureSide(tiled, PictureWidth, tiled.size.width(), tiled.tile.width());
    const int height = pictureSide(tiled, PictureHeight, tiled.size.height(), tiled.tile.height());
    TileMap map = sized(tiled.file, QSize(side(tiled.file, "width", tiled.size.width()), side(tiled.file, "height", tiled.size.height())),
                        tiled.tile);
    const std::vector<std::uint32_t>& gids = layer->chunks[0].gids;
    for (std::size_t k = 0; k < gids.size(); ++k) {
        if ((gids[k] & GidFlag::Rotated120) != 0) {
            return refuse(QStringLiteral("only flips H, V and D are read"));
        }
        map.At(static_cast<int>(k % static_cast<std::size_t>(tiled.size.width())),
               static_cast<int>(k / static_cast<std::size_t>(tiled.size.width()))) = cellOf(gids[k]);
    }
    if (tiled.background && tiled.background->alpha() == 255) {
        map.Background = tiled.background->rgba();
    }
    if (map.PictureSize() != QSize(width, height)) {
        map.SetPictureSize(QSize(width, height));
    }
    map.Tileset = tiled.tilesets[0].tileset->file;
    return map;
}
