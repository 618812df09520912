#include "maps/mapoptimizer.h"

#include "imaging/picturefile.h"
#include "runtime/runtimeerror.h"
#include "tiled/tiledfiles.h"
#include "tiled/tiledvalues.h"
#include "sheets/tilegrid.h"

#include <QFileInfo>
#include <QImageReader>

namespace {
bool isXml(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == "tsx" || suffix == "tmx";
}

QImage pictureOf(const TiledImage& image) {
    QImage picture = AboutFile(image.source, [&] {
        return InTileFormat(LoadPicture(image.source)).convertToFormat(QImage::Format_RGBA8888);
    });
    if (picture.isNull()) {
        RaiseError(Err::OutOfMemory);
    }
    if (image.trans) {
        // Tiled draws the trans colour as nothing; the new sheet holds that as alpha.
        const QRgb key = *image.trans & 0xFFFFFFu;
        for (int y = 0; y < picture.height(); ++y) {
            auto* row = reinterpret_cast<uchar*>(picture.scanLine(y));
            for (int x = 0; x < picture.width(); ++x) {
                uchar* p = row + 4 * x;
                if (qRgb(p[0], p[1], p[2]) == (key | 0xFF000000u)) {
                    std::fill(p, p + 4, 0);
                }
            }
        }
    }
    return picture;
}

// A tileset in JSON as the element the joined tileset reads: what a tile carries that the
// model holds. Collision shapes and wang sets are not in the model, so such tilesets are refused
// rather than joined without them.
XmlNode elementOf(const TiledTileset& tileset, const QString& file) {
    XmlNode root{XmlNode::Kind::Element, "tileset", {}, {}, {}};
    root.Set("name", tileset.name);
    if (!tileset.wangSets.empty()) {
        InvalidMapFile(file, QStringLiteral("the wang sets of a JSON tileset are not joined; save tileset \"%1\" as .tsx")
                                 .arg(tileset.name));
    }
    const auto properties = [](const std::vector<TiledProperty>& list) {
        XmlNode all{XmlNode::Kind::Element, "properties", {}, {}, {}};
        for (const TiledProperty& p : list) {
            XmlNode property{XmlNode::Kind::Element, "property", {}, {}, {}};
            property.Set("name", p.name);
            if (!p.type.isEmpty()) {
                property.Set("type", p.type);
            }
            property.Set("value", p.value);
            all.Insert(property);
        }
        return all;
    };
    if (!tileset.properties.empty()) {
        root.Insert(properties(tileset.properties));
    }
    for (const auto& [id, tile] : tileset.tiles) {
        if (tile.collisionObjects > 0) {
            InvalidMapFile(file, QStringLiteral("the collision shapes of a JSON tileset are not joined; save tileset \"%1\" "
                                                "as .tsx")
                                     .arg(tileset.name));
        }
        XmlNode element{XmlNode::Kind::Element, "tile", {}, {}, {}};
        element.Set("id", QString::number(id));
        if (!tile.type.isEmpty()) {
            element.Set("type", tile.type);
        }
        if (tile.probability != 1.0) {
            element.Set("probability", QString::number(tile.probability));
        }
        if (!tile.properties.empty()) {
            element.Insert(properties(tile.properties));
        }
        if (!tile.animation.empty()) {
            XmlNode animation{XmlNode::Kind::Element, "animation", {}, {}, {}};
            for (const TiledFrame& f : tile.animation) {
                XmlNode frame{XmlNode::Kind::Element, "frame", {}, {}, {}};
                frame.Set("tileid", QString::number(f.tileId));
                frame.Set("duration", QString::number(f.duration));
                animation.Insert(frame);
            }
            element.Insert(animation);
        }
        root.Insert(element);
    }
    return root;
}
}  // namespace

MapOptimizer::MapOptimizer(const QStringList& maps, bool flips) : census_(QSize(), flips) {
    for (const QString& path : maps) {
        maps_.emplace_back(path);
    }
    counts_.maps = static_cast<std::int64_t>(maps_.size());
    for (MapDocument& document : maps_) {
        const TiledMap& map = document.Model();
        std::vector<std::pair<std::uint32_t, std::int32_t>> firstGids;
        for (const TilesetRef& ref : map.tilesets) {
            if (ref.viaTemplate) {
                continue;  // the map file has no entry for it to rewrite
            }
            std::int32_t number = -1;
            for (std::size_t k = 0; k < inputs_.size() && !ref.tileset->file.isEmpty(); ++k) {
                if (inputs_[k].tileset->file == ref.tileset->file) {
                    number = static_cast<std::int32_t>(k);
                }
            }
            if (number < 0) {
                number = static_cast<std::int32_t>(inputs_.size());
                Input input{ref.tileset, {}, {}};
                const QString file = ref.tileset->file.isEmpty() ? map.file : ref.tileset->file;
                if (!isXml(file)) {
                    input.element = elementOf(*ref.tileset, file);
                } else if (!ref.tileset->file.isEmpty()) {
                    input.element = TilesetDocument(file).Xml();
                } else {
                    for (const XmlNode& child : document.Xml().children) {
                        if (child.kind == XmlNode::Kind::Element && child.name == "tileset" &&
                            child.Attr("firstgid").toUInt() == ref.firstGid) {
                            input.element = child;
                        }
                    }
                }
                counts_.tilesBefore += ref.tileset->IsCollection() ? static_cast<std::int64_t>(ref.tileset->tiles.size())
                                                                   : ref.tileset->tileCount;
                if (ref.tileset->IsCollection()) {
                    for (const auto& [id, tile] : ref.tileset->tiles) {
                        const QSize size = tile.image.size.isEmpty() ? ref.tileset->tile : tile.image.size;
                        counts_.sheetPixelsBefore += std::int64_t{size.width()} * size.height();
                    }
                } else {
                    // Tiled's files may leave the size out; the picture's header has it.
                    const QSize size = ref.tileset->image.size.isEmpty() ? QImageReader(ref.tileset->image.source).size()
                                                                         : ref.tileset->image.size;
                    counts_.sheetPixelsBefore += std::int64_t{std::max(size.width(), 0)} * std::max(size.height(), 0);
                }
                inputs_.push_back(std::move(input));
            }
            firstGids.emplace_back(ref.firstGid, number);
        }
        gids_.emplace_back(std::move(firstGids));
    }
    std::vector<const XmlNode*> elements;
    for (const Input& input : inputs_) {
        elements.push_back(&input.element);
    }
    joined_ = std::make_unique<JoinedTileset>(std::move(elements));

    for (std::size_t k = 0; k < maps_.size(); ++k) {
        ForEachLayer(maps_[k].Model().layers, [&](const TiledLayer& layer) {
            for (const TiledObject& object : layer.objects) {
                const auto ref = gids_[k].Ref(object.gid);
                if (ref && object.size.width() > 0 && object.size.height() > 0 && object.size.width() != object.size.height()) {
                    upright_.emplace(ref->tileset, ref->id);
                }
            }
        });
    }
    for (std::size_t k = 0; k < maps_.size(); ++k) {
        const GidMap& gids = gids_[k];
        const auto place = [&](std::uint32_t gid) {
            if (const auto ref = gids.Ref(gid)) {
                use(*ref, maps_[k].File());
            }
        };
        ForEachLayer(maps_[k].Model().layers, [&](const TiledLayer& layer) { ForEachPlacedGid(layer, place); });
    }
}

QStringList MapOptimizer::Inputs() const {
    QStringList files;
    for (const MapDocument& map : maps_) {
        files += map.File();
    }
    for (const Input& input : inputs_) {
        if (!input.tileset->file.isEmpty()) {
            files += input.tileset->file;
        }
    }
    return files;
}

QStringList MapOptimizer::Images() const {
    QStringList files;
    for (const MapDocument& map : maps_) {
        files += map.References();
    }
    for (const Input& input : inputs_) {
        if (!input.tileset->image.Empty()) {
            files += input.tileset->image.source;
        }
        for (const auto& [id, tile] : input.tileset->tiles) {
            if (!tile.image.Empty()) {
                files += tile.image.source;
            }
        }
    }
    return files;
}

QImage MapOptimizer::tilePicture(TileRef ref) {
    Input& input = inputs_[static_cast<std::size_t>(ref.tileset)];
    const TiledTileset& tileset = *input.tileset;
    if (tileset.IsCollection()) {
        const auto tile = tileset.tiles.find(ref.id);
        if (tile == tileset.tiles.end() || tile->second.image.Empty()) {
            InvalidMapFile(tileset.file, QStringLiteral("tile %1 has no image").arg(ref.id));
        }
        return pictureOf(tile->second.image);
    }
    if (input.sheet.isNull()) {
        input.sheet = pictureOf(tileset.image);
        CheckSheetHoldsATile(tileset.file.isEmpty() ? tileset.image.source : tileset.file, input.sheet.size(), tileset.tile, tileset.margin);
    }
    // Tiled counts the columns from the image, whatever the file says.
    const int columns =
        std::max(1, SheetCells(input.sheet.width(), tileset.tile.width(), tileset.margin, tileset.spacing));
    const TileGrid grid(tileset.tile, tileset.margin, tileset.spacing);
    return input.sheet.copy(grid.Cell(ref.id % columns, ref.id / columns));
}

void MapOptimizer::use(TileRef ref, const QString& map) {
    if (census_.Find(ref)) {
        return;
    }
    const TiledTileset& tileset = *inputs_[static_cast<std::size_t>(ref.tileset)].tileset;
    const QImage picture = tilePicture(ref);
    if (census_.Count() == 0) {
        census_ = TileCensus(picture.size(), census_.Flips());
        first_ = ref.tileset;
    }
    const TiledTileset& first = *inputs_[static_cast<std::size_t>(first_)].tileset;
    const QString named = tileset.file.isEmpty() ? QStringLiteral("\"%1\" (in the map)").arg(tileset.name) : tileset.file;
    if (tileset.tileOffset != first.tileOffset || tileset.objectAlignment != first.objectAlignment) {
        throw TilesetMismatch(map, named,
                              QStringLiteral("its tile offset or object alignment differs from tileset \"%1\"'s; one tileset "
                                             "cannot draw the tiles of both").arg(first.name));
    }
    try {
        census_.Use(ref, picture, joined_->Metadata(ref), joined_->Orientable(ref), upright_.count({ref.tileset, ref.id}) == 0);
    } catch (const RuntimeError& e) {
        if (e.Number() != Err::InvalidPicture) {
            throw;
        }
        throw TilesetMismatch(map, named,
                              QStringLiteral("%1 of tileset \"%2\"; one tileset cannot draw the tiles of both").arg(e.Description(), first.name));
    }
    for (const TileRef frame : joined_->Frames(ref)) {
        use(frame, map);
    }
}

XmlNode MapOptimizer::Tileset(int columns, const QString& imageSource, QSize imageSize) const {
    return joined_->Compose(census_, columns, imageSource, imageSize);
}
