#include "tiles/mapfile.h"

#include "runtime/runtimeerror.h"
#include "runtime/wholefile.h"
#include "tiles/tileindex.h"
#include "tiles/xmlfile.h"

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
    throw RuntimeError(Err::InvalidPicture, QStringLiteral("%1: %2").arg(path, reason), path);
}

std::uint32_t gidOf(const MapCell& cell) {
    return cell.id < 0 ? 0u : (static_cast<std::uint32_t>(cell.id) + 1u) | cell.flips;
}

MapCell cellOf(std::uint32_t gid) {
    const std::uint32_t id = gid & ~TileFlip::All;
    return id == 0 ? MapCell{} : MapCell{static_cast<std::int32_t>(id - 1), gid & TileFlip::All};
}

QString colourText(QRgb colour) { return QStringLiteral("#%1").arg(colour & 0xFFFFFFu, 6, 16, QLatin1Char('0')); }

std::optional<QRgb> colourOf(const QString& text) {
    static const QRegularExpression hex(QStringLiteral("^#([0-9a-fA-F]{2})?([0-9a-fA-F]{6})$"));
    const auto match = hex.match(text);
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    const uint alpha = match.captured(1).isEmpty() ? 255u : match.captured(1).toUInt(nullptr, 16);
    if (alpha != 255u) {
        return std::nullopt;  // only an opaque background stands for empty cells
    }
    return match.captured(2).toUInt(nullptr, 16) | 0xFF000000u;
}

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
    if (value < 1 || value > (1 << 17)) {
        invalid(path, QStringLiteral("%1 %2 is not from 1 to %3").arg(name).arg(value).arg(1 << 17));
    }
    return static_cast<int>(value);
}

// A map of cells and tiles that fits a picture the tool can draw.
TileMap sized(const QString& path, QSize cells, QSize tile) {
    if (std::int64_t{cells.width()} * cells.height() > (std::int64_t{1} << 26)) {
        invalid(path, QStringLiteral("%1x%2 cells are more than %3").arg(cells.width()).arg(cells.height()).arg(1 << 26));
    }
    if (tile.isValid() && (std::int64_t{cells.width()} * tile.width() > (1 << 17) ||
                           std::int64_t{cells.height()} * tile.height() > (1 << 17))) {
        invalid(path, QStringLiteral("the map is larger than %1 pixels a side").arg(1 << 17));
    }
    return TileMap(cells, tile);
}

// Fills the map from its gids, row by row.
void placeGids(const QString& path, TileMap& map, const std::vector<std::uint32_t>& gids) {
    const std::size_t cells = static_cast<std::size_t>(map.Cells().width()) * static_cast<std::size_t>(map.Cells().height());
    if (gids.size() != cells) {
        invalid(path, QStringLiteral("the layer holds %1 cells, the map %2").arg(gids.size()).arg(cells));
    }
    for (std::size_t k = 0; k < cells; ++k) {
        map.At(static_cast<int>(k % static_cast<std::size_t>(map.Cells().width())),
               static_cast<int>(k / static_cast<std::size_t>(map.Cells().width()))) = cellOf(gids[k]);
    }
}

std::uint32_t gidText(const QString& path, QStringView text) {
    bool ok = false;
    const qulonglong gid = text.trimmed().toULongLong(&ok);
    if (!ok || gid > std::numeric_limits<std::uint32_t>::max()) {
        invalid(path, QStringLiteral("\"%1\" is no tile gid").arg(text.trimmed()));
    }
    return static_cast<std::uint32_t>(gid);
}

QString tilesetBeside(const QString& mapPath, const QString& source) {
    return QFileInfo(QFileInfo(mapPath).absoluteDir().filePath(source)).absoluteFilePath();
}

// One external tileset from gid 1: the only kind this tool writes and reads.
void takeTileset(const QString& path, TileMap& map, qint64 firstGid, const QString& source, int tilesets) {
    if (tilesets > 1 || firstGid != 1 || source.isEmpty()) {
        invalid(path, QStringLiteral("only maps of one external tileset from gid 1 are read"));
    }
    map.Tileset = tilesetBeside(path, source);
}

TileMap readTmx(const QString& path, const QByteArray& bytes) {
    QXmlStreamReader xml(bytes);
    TileMap map;
    int tilesets = 0;
    int layers = 0;
    QSize picture;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) {
            continue;
        }
        const QXmlStreamAttributes a = xml.attributes();
        const auto name = xml.name();
        if (name == u"map") {
            if (a.value("orientation") != u"orthogonal" || a.value("infinite") == u"1") {
                invalid(path, QStringLiteral("only finite orthogonal maps are read"));
            }
            map = sized(path, QSize(side(path, "width", a.value("width").toLongLong()), side(path, "height", a.value("height").toLongLong())),
                          QSize(side(path, "tilewidth", a.value("tilewidth").toLongLong()),
                                side(path, "tileheight", a.value("tileheight").toLongLong())));
            if (a.hasAttribute("backgroundcolor")) {
                map.Background = colourOf(a.value("backgroundcolor").toString());
            }
        } else if (name == u"tileset") {
            takeTileset(path, map, a.value("firstgid").toLongLong(), a.value("source").toString(), ++tilesets);
        } else if (name == u"property" && layers == 0) {
            if (a.value("name") == QLatin1String(PictureWidth)) {
                picture.setWidth(side(path, PictureWidth, a.value("value").toLongLong()));
            } else if (a.value("name") == QLatin1String(PictureHeight)) {
                picture.setHeight(side(path, PictureHeight, a.value("value").toLongLong()));
            }
        } else if (name == u"layer") {
            if (++layers > 1) {
                invalid(path, QStringLiteral("only maps of one tile layer are read"));
            }
        } else if (name == u"data") {
            if (a.value("encoding") != u"csv") {
                invalid(path, QStringLiteral("only CSV layer data is read"));
            }
            const QString text = xml.readElementText();
            std::vector<std::uint32_t> gids;
            for (const QStringView item : QStringView(text).split(u',')) {
                gids.push_back(gidText(path, item));
            }
            placeGids(path, map, gids);
        }
    }
    if (xml.hasError() || map.Cells().isEmpty() || layers != 1 || tilesets != 1) {
        invalid(path, xml.hasError() ? xml.errorString() : QStringLiteral("no map of one tile layer and one tileset"));
    }
    if (picture.isValid()) {
        map.SetPictureSize(picture);
    }
    return map;
}

TileMap readTmj(const QString& path, const QByteArray& bytes) {
    QJsonParseError error;
    const QJsonObject root = QJsonDocument::fromJson(bytes, &error).object();
    if (error.error != QJsonParseError::NoError || root.value("type") != "map") {
        invalid(path, error.error != QJsonParseError::NoError ? error.errorString() : QStringLiteral("no map"));
    }
    if (root.value("orientation") != "orthogonal" || root.value("infinite").toBool()) {
        invalid(path, QStringLiteral("only finite orthogonal maps are read"));
    }
    TileMap map = sized(path, QSize(side(path, "width", root.value("width").toInteger()), side(path, "height", root.value("height").toInteger())),
                        QSize(side(path, "tilewidth", root.value("tilewidth").toInteger()),
                              side(path, "tileheight", root.value("tileheight").toInteger())));
    if (root.contains("backgroundcolor")) {
        map.Background = colourOf(root.value("backgroundcolor").toString());
    }
    const QJsonArray tilesets = root.value("tilesets").toArray();
    const QJsonObject tileset = tilesets.first().toObject();
    takeTileset(path, map, tileset.value("firstgid").toInteger(), tileset.value("source").toString(),
                static_cast<int>(tilesets.size()));
    const QJsonArray layers = root.value("layers").toArray();
    if (layers.size() != 1 || layers[0].toObject().value("type") != "tilelayer" ||
        !layers[0].toObject().value("data").isArray()) {
        invalid(path, QStringLiteral("only maps of one tile layer with its data as an array are read"));
    }
    std::vector<std::uint32_t> gids;
    for (const QJsonValue& gid : layers[0].toObject().value("data").toArray()) {
        const qint64 value = gid.toInteger(-1);
        if (value < 0 || value > std::numeric_limits<std::uint32_t>::max()) {
            invalid(path, QStringLiteral("the layer holds a value that is no tile gid"));
        }
        gids.push_back(static_cast<std::uint32_t>(value));
    }
    placeGids(path, map, gids);
    QSize picture;
    for (const QJsonValue& property : root.value("properties").toArray()) {
        const QJsonObject p = property.toObject();
        if (p.value("name") == PictureWidth) {
            picture.setWidth(side(path, PictureWidth, p.value("value").toInteger()));
        } else if (p.value("name") == PictureHeight) {
            picture.setHeight(side(path, PictureHeight, p.value("value").toInteger()));
        }
    }
    if (picture.isValid()) {
        map.SetPictureSize(picture);
    }
    return map;
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
    return QFileInfo(path).completeBaseName().size() > 0 && (suffix == "tmx" || suffix == "tmj" || suffix == "csv");
}

void WriteMapFile(const QString& path, const TileMap& map) {
    const QString suffix = suffixOf(path);
    if (suffix == "tmx") {
        WriteXmlFile(path, [&](QXmlStreamWriter& xml) { writeTmx(path, map, xml); });
        return;
    }
    const QByteArray bytes = suffix == "tmj" ? tmjBytes(path, map) : csvRows(map, false).mid(1).toUtf8();
    WriteWholeFile(path, bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

TileMap ReadMapFile(const QString& path) {
    std::vector<unsigned char> data;
    ReadWholeFile(path, data);
    const QByteArray bytes(reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(data.size()));
    const QString suffix = suffixOf(path);
    return suffix == "tmx" ? readTmx(path, bytes) : suffix == "tmj" ? readTmj(path, bytes) : readCsv(path, bytes);
}
