#include "export/phaserwriter.h"

#include "export/jsonwriter.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <map>
#include <vector>

namespace {
// The map written straight into its JSON text, in one pass: the cells' arrays built as a
// document tree first took most of an export's time.
class PhaserJson {
public:
    PhaserJson(const TiledMap& map, const QString& name, const ExportSheets& sheets, const PhaserPlan& plan, const QString& folder,
               ExportCounts& counts, PhaserPictures& pictures)
        : map_(map), name_(name), sheets_(sheets), plan_(plan), folder_(folder), counts_(counts), pictures_(pictures) {}

    QByteArray Write();

private:
    void properties(const std::vector<TiledProperty>& list);
    std::uint32_t gid(std::uint32_t source) const;
    std::uint32_t placed(ExportSheets::Place place, std::uint32_t source) const;
    void common(const TiledLayer& layer, int id, const QString& name, QPointF offset);
    void object(const TiledObject& object);
    void layers(const std::vector<TiledLayer>& list);
    void tileLayer(const TiledLayer& layer);
    QString picture(const TiledLayer& layer);
    struct TileExtras;
    std::map<int, TileExtras> extrasOf(int sheet);
    void tileset(int sheet, std::uint32_t firstGid);
    const TiledTileset* tilesetOf(int sheet) const;

    const TiledMap& map_;
    QString name_;
    const ExportSheets& sheets_;
    const PhaserPlan& plan_;
    QDir folder_;
    ExportCounts& counts_;
    PhaserPictures& pictures_;
    JsonWriter json_;
    std::vector<std::uint32_t> firstGids_;  // by sheet
    QPointF mapShift_;  // where Phaser's orientation starts the map, against Tiled's
    QSize halfRows_;  // see PhaserPlan::HalfRows
    int nextLayer_ = 1;
    int nextObject_ = 1;
};

struct PhaserJson::TileExtras {
    const TiledTile* info = nullptr;
    std::vector<TiledFrame> animation;  // frames numbered in the sheet
};

void PhaserJson::properties(const std::vector<TiledProperty>& list) {
    json_.BeginArray();
    for (const TiledProperty& p : list) {
        json_.BeginObject().Key("name").Value(p.name).Key("type").Value(p.type.isEmpty() ? QStringLiteral("string") : p.type).Key("value");
        if (p.type == "int") {
            json_.Value(static_cast<std::int64_t>(p.value.toLongLong()));
        } else if (p.type == "float") {
            json_.Value(p.value.toDouble());
        } else if (p.type == "bool") {
            json_.Value(p.value == "true");
        } else if (p.type == "file" && !p.value.isEmpty()) {
            json_.Value(folder_.relativeFilePath(QDir(QFileInfo(map_.file).absolutePath()).absoluteFilePath(p.value)));
        } else {
            json_.Value(p.value);
        }
        json_.EndObject();
    }
    json_.EndArray();
}

std::uint32_t PhaserJson::gid(std::uint32_t source) const {
    const ExportSheets::Place place = sheets_.Of(map_, source);
    return place.sheet < 0 ? 0 : placed(place, source);
}

std::uint32_t PhaserJson::placed(ExportSheets::Place place, std::uint32_t source) const {
    return (firstGids_[static_cast<std::size_t>(place.sheet)] + static_cast<std::uint32_t>(place.index)) | (source & GidFlag::Flips);
}

void PhaserJson::common(const TiledLayer& layer, int id, const QString& name, QPointF offset) {
    json_.Key("id").Value(id).Key("name").Value(name).Key("visible").Value(layer.visible).Key("opacity").Value(layer.opacity);
    json_.Key("x").Value(0).Key("y").Value(0);
    if (!offset.isNull()) {
        json_.Key("offsetx").Value(offset.x()).Key("offsety").Value(offset.y());
    }
    if (layer.tint) {
        // Kept for the game's own use; Phaser draws no layer tint.
        json_.Key("tintcolor").Value(layer.tint->name(QColor::HexArgb));
        ++counts_.tintsLeftOut;
    }
    if (!layer.properties.empty()) {
        json_.Key("properties");
        properties(layer.properties);
    }
}

void PhaserJson::object(const TiledObject& object) {
    json_.BeginObject().Key("id").Value(object.id).Key("name").Value(object.name).Key("type").Value(object.type);
    json_.Key("x").Value(object.position.x()).Key("y").Value(object.position.y());
    json_.Key("width").Value(object.size.width()).Key("height").Value(object.size.height());
    json_.Key("rotation").Value(object.rotation).Key("visible").Value(object.visible);
    if (object.kind == ObjectKind::Tile) {
        json_.Key("gid").Value(gid(object.gid));
    } else if (object.shape == "ellipse" || object.shape == "point") {
        json_.Key(object.shape == "point" ? "point" : "ellipse").Value(true);
    } else if (object.shape == "polygon" || object.shape == "polyline") {
        json_.Key(object.shape == "polygon" ? "polygon" : "polyline").BeginArray();
        for (const QPointF& point : object.points) {
            json_.BeginObject().Key("x").Value(point.x()).Key("y").Value(point.y()).EndObject();
        }
        json_.EndArray();
    }
    if (!object.properties.empty()) {
        json_.Key("properties");
        properties(object.properties);
    }
    json_.EndObject();
}

void PhaserJson::tileLayer(const TiledLayer& layer) {
    ++counts_.layers;
    const int width = map_.size.width();
    const int height = map_.size.height();
    const int rows = halfRows_.isEmpty() ? height : 2 * height;
    const int lowered = map_.staggerIndex == "even" ? 0 : 1;
    const PhaserPlan::Layer& plan = plan_.Of(layer);
    std::vector<std::uint32_t> cells(static_cast<std::size_t>(width) * static_cast<std::size_t>(rows), 0);
    sheets_.ForEachPlaced(map_, layer, [&](QPoint cell, std::uint32_t source, ExportSheets::Place place) {
        if (cell.x() < 0 || cell.y() < 0 || cell.x() >= width || cell.y() >= height) {
            return;
        }
        const int row = halfRows_.isEmpty() ? cell.y() : 2 * cell.y() + ((cell.x() & 1) == lowered ? 1 : 0);
        std::uint32_t& gid = cells[static_cast<std::size_t>(row) * width + cell.x()];
        gid = placed(place, source);
        if (!plan.copies.empty()) {
            if (const auto copy = plan.copies.find(source); copy != plan.copies.end()) {
                gid = firstGids_[static_cast<std::size_t>(copy->second.sheet)] + static_cast<std::uint32_t>(copy->second.index);
            }
        }
        ++counts_.tiles;
    });
    json_.BeginObject();
    common(layer, layer.id > 0 ? layer.id : nextLayer_, layer.name, layer.offset + mapShift_ + QPointF(plan.shift));
    nextLayer_ = std::max(nextLayer_, layer.id + 1);
    json_.Key("type").Value("tilelayer").Key("width").Value(width).Key("height").Value(rows);
    json_.Key("data").Numbers(cells.data(), cells.size());
    json_.EndObject();
}

// The picture's file name in the folder: the source's own name, numbered where another
// picture or a sheet took it; an image held in the map is named after its layer.
QString PhaserJson::picture(const TiledLayer& layer) {
    const QString key = layer.image.source.isEmpty() ? QStringLiteral("%1#%2").arg(name_).arg(layer.id) : layer.image.source;
    if (const auto known = pictures_.names.find(key); known != pictures_.names.end()) {
        return known->second;
    }
    const QFileInfo info(layer.image.source.isEmpty() ? QStringLiteral("%1-%2.png").arg(name_).arg(layer.id)
                                                      : layer.image.source);
    QString name = info.fileName();
    const auto taken = [&](const QString& n) {
        for (int sheet = 0; sheet < static_cast<int>(sheets_.Sheets().size()); ++sheet) {
            if (sheets_.FileName(sheet).compare(n, Qt::CaseInsensitive) == 0) {
                return true;
            }
        }
        return std::any_of(pictures_.names.begin(), pictures_.names.end(), [&](const auto& p) { return p.second.compare(n, Qt::CaseInsensitive) == 0; });
    };
    for (int k = 2; taken(name); ++k) {
        name = QStringLiteral("%1-%2.%3").arg(info.completeBaseName()).arg(k).arg(info.suffix());
    }
    pictures_.names.emplace(key, name);
    if (layer.image.source.isEmpty()) {
        pictures_.embedded.emplace(name, layer.image.data);
    }
    return name;
}

void PhaserJson::layers(const std::vector<TiledLayer>& list) {
    json_.BeginArray();
    for (const TiledLayer& layer : list) {
        if (layer.kind == LayerKind::Tiles) {
            tileLayer(layer);
            continue;
        }
        json_.BeginObject();
        common(layer, layer.id > 0 ? layer.id : nextLayer_, layer.name, layer.offset);
        nextLayer_ = std::max(nextLayer_, layer.id + 1);
        switch (layer.kind) {
        case LayerKind::Tiles:
            break;
        case LayerKind::Objects:
            json_.Key("type").Value("objectgroup").Key("draworder").Value(layer.topDown ? "topdown" : "index").Key("objects").BeginArray();
            for (const TiledObject& object : layer.objects) {
                if (object.kind == ObjectKind::Text || object.kind == ObjectKind::Template) {
                    ++counts_.objectsLeftOut;
                    continue;
                }
                this->object(object);
                ++counts_.objects;
                nextObject_ = std::max(nextObject_, object.id + 1);
            }
            json_.EndArray();
            break;
        case LayerKind::Image:
            json_.Key("type").Value("imagelayer").Key("image").Value(layer.image.Empty() ? QString() : picture(layer));
            if (!layer.image.size.isEmpty()) {
                json_.Key("imagewidth").Value(layer.image.size.width()).Key("imageheight").Value(layer.image.size.height());
            }
            json_.Key("repeatx").Value(layer.repeatX).Key("repeaty").Value(layer.repeatY);
            break;
        case LayerKind::Group:
            json_.Key("type").Value("group").Key("layers");
            layers(layer.layers);
            break;
        }
        json_.EndObject();
    }
    json_.EndArray();
}

// Each tile's class, properties and collision shapes, and its animation where every frame lies
// in the tile's own sheet (Phaser animates within one tileset); the others are counted.
std::map<int, PhaserJson::TileExtras> PhaserJson::extrasOf(int sheet) {
    std::map<int, TileExtras> extras;
    const ExportSheets::Sheet& s = sheets_.Sheets()[static_cast<std::size_t>(sheet)];
    for (std::size_t k = 0; k < s.info.size(); ++k) {
        if (s.info[k] != nullptr) {
            extras[static_cast<int>(k)].info = s.info[k];
        }
    }
    for (const TilesetRef& ref : map_.tilesets) {
        for (const auto& [id, tile] : ref.tileset->tiles) {
            if (tile.animation.empty() || sheets_.Of(map_, ref.firstGid + static_cast<std::uint32_t>(id)).sheet != sheet) {
                continue;
            }
            std::vector<TiledFrame> frames;
            for (const TiledFrame& frame : tile.animation) {
                const ExportSheets::Place to = sheets_.Of(map_, ref.firstGid + static_cast<std::uint32_t>(frame.tileId));
                if (to.sheet != sheet) {
                    frames.clear();
                    break;
                }
                frames.push_back({to.index, frame.duration});
            }
            if (frames.empty()) {
                ++counts_.animationsLeftOut;
            } else {
                extras[sheets_.Of(map_, ref.firstGid + static_cast<std::uint32_t>(id)).index].animation = std::move(frames);
            }
        }
    }
    return extras;
}

void PhaserJson::tileset(int sheet, std::uint32_t firstGid) {
    const ExportSheets::Sheet& s = sheets_.Sheets()[static_cast<std::size_t>(sheet)];
    const TileGrid grid = sheets_.Grid(sheet);
    const QSize size = sheets_.SheetSize(sheet);
    json_.BeginObject().Key("firstgid").Value(firstGid).Key("name").Value(s.name).Key("image").Value(sheets_.FileName(sheet));
    json_.Key("imagewidth").Value(size.width()).Key("imageheight").Value(size.height());
    json_.Key("tilewidth").Value(s.tile.width()).Key("tileheight").Value(s.tile.height());
    json_.Key("margin").Value(grid.Margin()).Key("spacing").Value(grid.Spacing());
    json_.Key("columns").Value(s.columns).Key("tilecount").Value(sheets_.Capacity(sheet));
    // Phaser reads no tileset offset: its tile layers carry it (see PhaserMap).
    const TiledTileset* source = tilesetOf(sheet);
    if (source != nullptr && !source->objectAlignment.isEmpty() && source->objectAlignment != "unspecified") {
        json_.Key("objectalignment").Value(source->objectAlignment);
    }
    bool any = false;
    for (const auto& [id, extras] : extrasOf(sheet)) {
        const TiledTile* info = extras.info;
        const bool typed = info != nullptr && !info->type.isEmpty();
        const bool propertied = info != nullptr && !info->properties.empty();
        const bool shaped = info != nullptr && !info->collision.empty();
        if (!typed && !propertied && !shaped && extras.animation.empty()) {
            continue;
        }
        if (!any) {
            json_.Key("tiles").BeginArray();
            any = true;
        }
        json_.BeginObject().Key("id").Value(id);
        if (typed) {
            json_.Key("type").Value(info->type);
        }
        if (propertied) {
            json_.Key("properties");
            properties(info->properties);
        }
        if (!extras.animation.empty()) {
            json_.Key("animation").BeginArray();
            for (const TiledFrame& frame : extras.animation) {
                json_.BeginObject().Key("tileid").Value(frame.tileId).Key("duration").Value(frame.duration).EndObject();
            }
            json_.EndArray();
        }
        if (shaped) {
            json_.Key("objectgroup").BeginObject().Key("type").Value("objectgroup").Key("name").Value("").Key("draworder").Value("index");
            json_.Key("visible").Value(true).Key("opacity").Value(1).Key("x").Value(0).Key("y").Value(0).Key("objects").BeginArray();
            for (const TiledObject& shape : info->collision) {
                if (shape.kind != ObjectKind::Text && shape.kind != ObjectKind::Template) {
                    object(shape);
                }
            }
            json_.EndArray().EndObject();
        }
        json_.EndObject();
    }
    if (any) {
        json_.EndArray();
    }
    json_.EndObject();
}

const TiledTileset* PhaserJson::tilesetOf(int sheet) const {
    for (const TilesetRef& ref : map_.tilesets) {
        const std::vector<int> of = sheets_.SheetsOf(*ref.tileset);
        if (std::find(of.begin(), of.end(), sheet) != of.end()) {
            return ref.tileset.get();
        }
    }
    return nullptr;
}

QByteArray PhaserJson::Write() {
    const bool staggered = map_.orientation == "staggered";
    // Phaser's staggered maps shift odd rows only; as hexagons without a straight side every
    // stagger is drawn, even ones from half a cell further back.
    halfRows_ = plan_.HalfRows(map_);
    const bool asHexagonal = halfRows_.isEmpty() && (map_.orientation == "hexagonal" || (staggered && (map_.staggerAxis != "y" || map_.staggerIndex != "odd")));
    if (map_.orientation == "isometric") {
        mapShift_ = QPointF((map_.size.height() - 1) * map_.tile.width() / 2.0, 0);
    } else if (asHexagonal && map_.staggerIndex == "even") {
        mapShift_ = map_.staggerAxis == "x" ? QPointF(0, map_.tile.height() / 2.0) : QPointF(map_.tile.width() / 2.0, 0);
    }
    // Each sheet a map draws from, in the order of its tilesets, numbered on from gid 1.
    std::vector<int> used;
    for (const TilesetRef& ref : map_.tilesets) {
        for (const int sheet : sheets_.SheetsOf(*ref.tileset)) {
            if (std::find(used.begin(), used.end(), sheet) == used.end()) {
                used.push_back(sheet);
            }
        }
    }
    for (const int sheet : plan_.CopySheets(map_)) {
        used.push_back(sheet);
    }
    firstGids_.assign(sheets_.Sheets().size(), 0);
    std::uint32_t next = 1;
    for (const int sheet : used) {
        firstGids_[static_cast<std::size_t>(sheet)] = next;
        // Phaser counts every cell of the sheet's grid, the empty ones after the tiles too.
        next += static_cast<std::uint32_t>(sheets_.Capacity(sheet));
    }
    json_.BeginObject().Key("type").Value("map").Key("version").Value("1.8").Key("tiledversion").Value("1.8.0");
    const QString orientation = !halfRows_.isEmpty() ? QStringLiteral("orthogonal") : asHexagonal ? QStringLiteral("hexagonal") : map_.orientation;
    const QSize grid = halfRows_.isEmpty() ? map_.tile : halfRows_;
    json_.Key("orientation").Value(orientation);
    // Tiled draws a map staggered along x left to right whatever its order says.
    json_.Key("renderorder").Value(map_.renderOrder.isEmpty() || !halfRows_.isEmpty() ? QStringLiteral("right-down") : map_.renderOrder);
    json_.Key("width").Value(map_.size.width()).Key("height").Value(halfRows_.isEmpty() ? map_.size.height() : 2 * map_.size.height());
    json_.Key("tilewidth").Value(grid.width()).Key("tileheight").Value(grid.height());
    json_.Key("infinite").Value(false).Key("compressionlevel").Value(-1);
    if (asHexagonal || (staggered && halfRows_.isEmpty())) {
        json_.Key("staggeraxis").Value(map_.staggerAxis).Key("staggerindex").Value(map_.staggerIndex);
    }
    if (asHexagonal) {
        json_.Key("hexsidelength").Value(map_.orientation == "hexagonal" ? map_.hexSideLength : 0);
    }
    if (map_.background) {
        json_.Key("backgroundcolor").Value(map_.background->name(map_.background->alpha() == 255 ? QColor::HexRgb : QColor::HexArgb));
    }
    if (!map_.properties.empty()) {
        json_.Key("properties");
        properties(map_.properties);
    }
    json_.Key("layers");
    layers(map_.layers);
    json_.Key("tilesets").BeginArray();
    for (const int sheet : used) {
        tileset(sheet, firstGids_[static_cast<std::size_t>(sheet)]);
    }
    json_.EndArray();
    json_.Key("nextlayerid").Value(nextLayer_).Key("nextobjectid").Value(nextObject_);
    json_.EndObject();
    return json_.Take();
}
}  // namespace

QByteArray PhaserMap(const TiledMap& map, const QString& name, const ExportSheets& sheets, const PhaserPlan& plan, const QString& folder,
                     ExportCounts& counts, PhaserPictures& pictures) {
    return PhaserJson(map, name, sheets, plan, folder, counts, pictures).Write();
}

QString PhaserRefusal(const TiledMap& map) {
    if (map.orientation == "orthogonal" || map.orientation == "isometric" || map.orientation == "hexagonal" || map.orientation == "staggered") {
        return {};
    }
    const bool vowel = !map.orientation.isEmpty() && QStringLiteral("aeiou").contains(map.orientation.front());
    return QStringLiteral("%1 %2 map, which Phaser does not draw (it draws orthogonal, isometric, staggered and hexagonal maps)")
        .arg(vowel ? QStringLiteral("an") : QStringLiteral("a"), map.orientation);
}
