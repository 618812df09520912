// The project document of LdtkWriter: definitions, levels and what LDtk's header says.
#include "export/ldtkwriter.h"

#include <QColor>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>

namespace {
// A tile's properties as its custom data: one JSON object, values of their own types.
QString customData(const std::vector<TiledProperty>& properties) {
    QJsonObject data;
    for (const TiledProperty& p : properties) {
        data[p.name] = p.type == "int"     ? QJsonValue(p.value.toLongLong())
                       : p.type == "float" ? QJsonValue(p.value.toDouble())
                       : p.type == "bool"  ? QJsonValue(p.value == "true")
                                           : QJsonValue(p.value);
    }
    return LdtkEscaped(QString::fromUtf8(QJsonDocument(data).toJson(QJsonDocument::Compact)));
}
}  // namespace

QJsonObject LdtkWriter::tilesetJson(int sheet, const std::vector<std::pair<QString, QString>>& classes, int enumUid,
                                    std::set<QString>& taken) const {
    const ExportSheets::Sheet& s = sheets_.Sheets()[static_cast<std::size_t>(sheet)];
    const TileGrid grid = sheets_.Grid(sheet);
    const QSize size = sheets_.SheetSize(sheet);
    const int tile = grid.Tile().width();
    const auto cells = [&](int pixels) { return (pixels - 2 * grid.Margin() + tile + grid.Spacing() - 1) / (tile + grid.Spacing()); };
    // LDtk numbers the cells of a square grid only: a sheet of other tiles keeps no tile data.
    const bool square = grid.Tile().width() == grid.Tile().height();
    QJsonArray custom;
    std::map<QString, QJsonArray> tagged;  // class to its tiles
    for (std::size_t k = 0; square && k < s.info.size(); ++k) {
        if (const TiledTile* info = s.info[k]) {
            const int id = ldtkTileId(sheet, static_cast<int>(k));
            if (!info->properties.empty()) {
                custom.append(QJsonObject{{"tileId", id}, {"data", customData(info->properties)}});
            }
            if (!info->type.isEmpty()) {
                tagged[info->type].append(id);
            }
        }
    }
    QJsonArray enumTags;
    for (const auto& [type, value] : classes) {
        enumTags.append(QJsonObject{{"enumValueId", value}, {"tileIds", tagged[type]}});
    }
    const bool tags = !tagged.empty();
    return QJsonObject{{"__cWid", cells(size.width())},
                       {"__cHei", cells(size.height())},
                       {"identifier", LdtkUnique(LdtkCapitalized(s.name), taken)},
                       {"uid", sheet + 1},
                       {"relPath", sheets_.FileName(sheet)},
                       {"embedAtlas", QJsonValue()},
                       {"pxWid", size.width()},
                       {"pxHei", size.height()},
                       {"tileGridSize", tile},
                       {"spacing", grid.Spacing()},
                       {"padding", grid.Margin()},
                       {"tags", QJsonArray()},
                       {"tagsSourceEnumUid", tags ? QJsonValue(enumUid) : QJsonValue()},
                       {"enumTags", tags ? enumTags : QJsonArray()},
                       {"customData", custom},
                       {"savedSelections", QJsonArray()},
                       {"cachedPixelData", QJsonValue()}};
}

QByteArray LdtkWriter::Project(ExportCounts& counts) {
    const int sheetCount = static_cast<int>(sheets_.Sheets().size());
    // Tile classes, in the order met, as the values of one enum that tags the tiles.
    std::vector<std::pair<QString, QString>> classes;
    std::set<QString> taken;
    for (const ExportSheets::Sheet& sheet : sheets_.Sheets()) {
        const bool square = sheet.tile.width() == sheet.tile.height();
        for (const TiledTile* info : sheet.info) {
            if (info == nullptr) {
                continue;
            }
            counts.animationsLeftOut += info->animation.empty() ? 0 : 1;
            counts.shapesLeftOut += info->collisionObjects;
            if (!square) {
                counts.propertiesLeftOut += static_cast<std::int64_t>(info->properties.size()) + (info->type.isEmpty() ? 0 : 1);
            } else if (!info->type.isEmpty() &&
                       std::none_of(classes.begin(), classes.end(), [&](const auto& c) { return c.first == info->type; })) {
                classes.emplace_back(info->type, LdtkUnique(LdtkIdentifier(info->type), taken));
            }
        }
    }
    int uid = sheetCount + static_cast<int>(defs_.size()) + static_cast<int>(levels_.size()) + 1;
    const int enumUid = classes.empty() ? 0 : uid++;
    taken.clear();
    entities_.Number(uid, taken);
    levelFields_.Number(uid);
    QJsonArray enums;
    if (!classes.empty()) {
        QJsonArray values;
        for (std::size_t k = 0; k < classes.size(); ++k) {
            const QColor shown = QColor::fromHsv(static_cast<int>(k * 47 % 360), 160, 220);
            values.append(QJsonObject{{"id", classes[k].second},
                                      {"tileRect", QJsonValue()},
                                      {"tileId", QJsonValue()},
                                      {"color", static_cast<int>(shown.rgb() & 0xFFFFFFu)},
                                      {"__tileSrcRect", QJsonValue()}});
        }
        enums.append(QJsonObject{{"identifier", "TileClass"},
                                 {"uid", enumUid},
                                 {"values", values},
                                 {"iconTilesetUid", QJsonValue()},
                                 {"externalRelPath", QJsonValue()},
                                 {"externalFileChecksum", QJsonValue()},
                                 {"tags", QJsonArray()}});
    }
    taken.clear();
    QJsonArray tilesets;
    for (int sheet = 0; sheet < sheetCount; ++sheet) {
        tilesets.append(tilesetJson(sheet, classes, enumUid, taken));
    }
    taken.clear();
    std::vector<QString> defNames(defs_.size());
    QJsonArray layers;
    for (const int def : order_) {
        const LayerDef& d = defs_[static_cast<std::size_t>(def)];
        defNames[static_cast<std::size_t>(def)] = LdtkUnique(d.identifier, taken);
        const QString type = d.entities ? QStringLiteral("Entities") : QStringLiteral("Tiles");
        layers.append(QJsonObject{{"__type", type},
                                  {"identifier", defNames[static_cast<std::size_t>(def)]},
                                  {"type", type},
                                  {"uid", sheetCount + def + 1},
                                  {"doc", QJsonValue()},
                                  {"uiColor", QJsonValue()},
                                  {"gridSize", d.grid},
                                  {"guideGridWid", 0},
                                  {"guideGridHei", 0},
                                  {"displayOpacity", d.opacity},
                                  {"inactiveOpacity", 1},
                                  {"hideInList", false},
                                  {"hideFieldsWhenInactive", true},
                                  {"canSelectWhenInactive", true},
                                  {"renderInWorldView", true},
                                  {"pxOffsetX", 0},
                                  {"pxOffsetY", 0},
                                  {"parallaxFactorX", 0},
                                  {"parallaxFactorY", 0},
                                  {"parallaxScaling", true},
                                  {"requiredTags", QJsonArray()},
                                  {"excludedTags", QJsonArray()},
                                  {"autoTilesKilledByOtherLayerUid", QJsonValue()},
                                  {"uiFilterTags", QJsonArray()},
                                  {"useAsyncRender", false},
                                  {"intGridValues", QJsonArray()},
                                  {"intGridValuesGroups", QJsonArray()},
                                  {"autoRuleGroups", QJsonArray()},
                                  {"autoSourceLayerDefUid", QJsonValue()},
                                  {"tilesetDefUid", d.sheet < 0 ? QJsonValue() : QJsonValue(d.sheet + 1)},
                                  {"tilePivotX", 0},
                                  {"tilePivotY", 0},
                                  {"biomeFieldUid", QJsonValue()}});
    }
    QJsonArray levels;
    taken.clear();
    const QString worldIid = LdtkIid(QStringLiteral("world"));
    std::int64_t worldX = 0;  // LdtkRefusal kept every level inside LDtk's range
    int levelUid = sheetCount + static_cast<int>(defs_.size()) + 1;
    for (const LevelData& level : levels_) {
        // Object properties name objects by id: each object's entity, wherever its layer is.
        std::map<int, QJsonObject> refs;
        for (int entity = 0; const int def : order_) {
            const auto found = level.instances.find(def);
            for (std::size_t k = 0; found != level.instances.end() && k < found->second.entities.size(); ++k, ++entity) {
                const int id = found->second.entities[k].id;
                if (id > 0 && refs.count(id) == 0) {
                    refs[id] = QJsonObject{{"entityIid", LdtkIid(QStringLiteral("entity/%1/%2").arg(levelUid).arg(entity))},
                                           {"layerIid", LdtkIid(QStringLiteral("layer/%1/%2").arg(levelUid).arg(sheetCount + def + 1))},
                                           {"levelIid", LdtkIid(QStringLiteral("level/%1").arg(levelUid))},
                                           {"worldIid", worldIid}};
                }
            }
        }
        LdtkFields::Context context;
        context.path = [&](const QString& path) { return QDir(folder_).relativeFilePath(QDir(level.folder).absoluteFilePath(path)); };
        context.entity = [&](int id) { return refs.count(id) > 0 ? refs.at(id) : QJsonObject(); };
        QJsonArray instances;
        for (int entity = 0; const int def : order_) {
            const auto found = level.instances.find(def);
            instances.append(instanceJson(level, levelUid, def, defNames[static_cast<std::size_t>(def)],
                                          found == level.instances.end() ? Instance{} : found->second, QPoint(static_cast<int>(worldX), 0),
                                          context, entity));
        }
        levels.append(QJsonObject{{"identifier", LdtkUnique(LdtkCapitalized(level.identifier), taken)},
                                  {"iid", LdtkIid(QStringLiteral("level/%1").arg(levelUid))},
                                  {"uid", levelUid},
                                  {"worldX", static_cast<qint64>(worldX)},
                                  {"worldY", 0},
                                  {"worldDepth", 0},
                                  {"pxWid", level.pixels.width()},
                                  {"pxHei", level.pixels.height()},
                                  {"__bgColor", level.background.isEmpty() ? QStringLiteral("#696A79") : level.background},
                                  {"bgColor", level.background.isEmpty() ? QJsonValue() : QJsonValue(level.background)},
                                  {"useAutoIdentifier", false},
                                  {"bgRelPath", QJsonValue()},
                                  {"bgPos", QJsonValue()},
                                  {"bgPivotX", 0.5},
                                  {"bgPivotY", 0.5},
                                  {"__smartColor", "#ADADB5"},
                                  {"__bgPos", QJsonValue()},
                                  {"externalRelPath", QJsonValue()},
                                  {"fieldInstances", levelFields_.Instances(level.properties, context)},
                                  {"layerInstances", instances},
                                  {"__neighbours", QJsonArray()}});
        worldX += level.pixels.width() + 4 * std::int64_t{level.grid};
        ++levelUid;
    }
    const int grid = levels_.empty() ? 16 : levels_.front().grid;
    const QJsonObject root{
        {"__header__", QJsonObject{{"fileType", "LDtk Project JSON"}, {"app", "LDtk"}, {"doc", "https://ldtk.io/json"},
                                   {"schema", "https://ldtk.io/files/JSON_SCHEMA.json"}, {"appAuthor", "Sebastien 'deepnight' Benard"},
                                   {"appVersion", "1.5.3"}, {"url", "https://ldtk.io"}}},
        {"iid", LdtkIid(QStringLiteral("project"))},
        {"jsonVersion", "1.5.3"},
        {"appBuildId", 473703},
        {"nextUid", uid},
        {"identifierStyle", "Capitalize"},
        {"toc", QJsonArray()},
        {"worldLayout", "Free"},
        {"worldGridWidth", 256},
        {"worldGridHeight", 256},
        {"defaultLevelWidth", 256},
        {"defaultLevelHeight", 256},
        {"defaultPivotX", 0},
        {"defaultPivotY", 0},
        {"defaultGridSize", grid},
        {"defaultEntityWidth", grid},
        {"defaultEntityHeight", grid},
        {"bgColor", "#40465B"},
        {"defaultLevelBgColor", "#696A79"},
        {"minifyJson", false},
        {"externalLevels", false},
        {"exportTiled", false},
        {"simplifiedExport", false},
        {"imageExportMode", "None"},
        {"exportLevelBg", true},
        {"pngFilePattern", QJsonValue()},
        {"backupOnSave", false},
        {"backupLimit", 10},
        {"backupRelPath", QJsonValue()},
        {"levelNamePattern", "Level_%idx"},
        {"tutorialDesc", QJsonValue()},
        {"customCommands", QJsonArray()},
        {"flags", QJsonArray()},
        {"defs", QJsonObject{{"layers", layers}, {"entities", entities_.Definitions()}, {"tilesets", tilesets}, {"enums", enums},
                             {"externalEnums", QJsonArray()}, {"levelFields", levelFields_.Definitions()}}},
        {"levels", levels},
        {"worlds", QJsonArray()},
        {"dummyWorldIid", LdtkIid(QStringLiteral("world"))}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}
