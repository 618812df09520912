#include "terrain/terrainfiles.h"

#include "terrain/blobshapes.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUuid>

namespace {
// LDtk's uids: the tileset, the layer, the level, then a rule group per terrain, then its rules.
constexpr int TilesetUid = 1;
constexpr int LayerUid = 2;
constexpr int LevelUid = 3;
constexpr int FirstGroupUid = 4;

// Neighbours of Blob's bits as offsets into LDtk's 3 by 3 pattern, row by row.
constexpr int PatternCell[8] = {1, 2, 5, 8, 7, 6, 3, 0};

int groupUid(int terrain) { return FirstGroupUid + terrain; }
int ruleUid(const TerrainSet& set, int terrain, int shape) { return FirstGroupUid + set.Terrains() + terrain * Blob::Shapes + shape; }

// An identifier as LDtk takes it: letters, digits and '_', no digit first.
QString identifier(const QString& name) {
    QString plain = name;
    plain.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_]+")), QStringLiteral("_"));
    if (plain.isEmpty() || plain[0].isDigit()) {
        plain.prepend('_');
    }
    plain[0] = plain[0].toUpper();
    return plain;
}

// Iids that stay the same from one run on the same template to the next.
QString iid(const QString& what) {
    static const QUuid space(QStringLiteral("{2b7f4c1e-8a3d-4e62-b0c9-5d1e7a9f3c20}"));
    return QUuid::createUuidV5(space, what).toString(QUuid::WithoutBraces);
}

QString colour(const QColor& c) { return c.name(QColor::HexRgb).toUpper(); }

// The shape's pattern for the terrain's value v: itself in the middle, +v where a neighbour
// must be the same terrain, -v where it must not, 0 (anything) at a corner beside an open edge.
QJsonArray pattern(int shape, int v) {
    const unsigned mask = Blob::Mask(shape);
    int cells[9] = {0, 0, 0, 0, v, 0, 0, 0, 0};
    for (int k = 0; k < 8; ++k) {
        const bool corner = k % 2 == 1;
        if (!corner || ((mask & (1u << (k - 1))) && (mask & (1u << ((k + 1) % 8))))) {
            cells[PatternCell[k]] = (mask & (1u << k)) ? v : -v;
        }
    }
    QJsonArray values;
    for (const int cell : cells) {
        values.append(cell);
    }
    return values;
}

QJsonObject rule(const TerrainSet& set, int terrain, int shape) {
    const int uid = ruleUid(set, terrain, shape);
    return QJsonObject{{"uid", uid}, {"active", true}, {"size", 3},
                       {"tileRectsIds", QJsonArray{QJsonArray{set.TileId(terrain, shape)}}},
                       {"alpha", 1}, {"chance", 1}, {"breakOnMatch", true}, {"pattern", pattern(shape, terrain + 1)},
                       {"flipX", false}, {"flipY", false}, {"xModulo", 1}, {"yModulo", 1}, {"xOffset", 0}, {"yOffset", 0},
                       {"tileXOffset", 0}, {"tileYOffset", 0}, {"tileRandomXMin", 0}, {"tileRandomXMax", 0},
                       {"tileRandomYMin", 0}, {"tileRandomYMax", 0}, {"checker", "None"}, {"tileMode", "Single"},
                       {"pivotX", 0}, {"pivotY", 0},
                       // Past the level's edge the terrain goes on, as RPG Maker has it, rather than the
                       // rule failing there and leaving the edge cells without a tile.
                       {"outOfBoundsValue", terrain + 1},
                       {"invalidated", false}, {"perlinActive", false}, {"perlinSeed", uid}, {"perlinScale", 0.2},
                       {"perlinOctaves", 2}};
}

QJsonObject tileRect(const TerrainSet& set, int id) {
    return QJsonObject{{"tilesetUid", TilesetUid}, {"x", (id % Blob::Shapes) * set.Tile()}, {"y", (id / Blob::Shapes) * set.Tile()},
                       {"w", set.Tile()}, {"h", set.Tile()}};
}

QJsonObject layerDef(const TerrainSet& set) {
    QJsonArray values, groups;
    for (int terrain = 0; terrain < set.Terrains(); ++terrain) {
        const QString terrainName = identifier(set.TerrainName(terrain));
        values.append(QJsonObject{{"value", terrain + 1}, {"identifier", terrainName}, {"color", colour(set.Colour(terrain))},
                                  {"tile", tileRect(set, set.TileId(terrain, Blob::ShapeOf(0xFF)))}, {"groupUid", 0}});
        QJsonArray rules;
        for (int shape = 0; shape < Blob::Shapes; ++shape) {
            rules.append(rule(set, terrain, shape));
        }
        groups.append(QJsonObject{{"uid", groupUid(terrain)}, {"name", terrainName}, {"color", QJsonValue()}, {"icon", QJsonValue()},
                                  {"active", true}, {"isOptional", false}, {"rules", rules}, {"usesWizard", false},
                                  {"requiredBiomeValues", QJsonArray()}, {"biomeRequirementMode", 0}});
    }
    return QJsonObject{{"__type", "IntGrid"}, {"identifier", "Terrain"}, {"type", "IntGrid"}, {"uid", LayerUid},
                       {"doc", QJsonValue()}, {"uiColor", QJsonValue()}, {"gridSize", set.Tile()}, {"guideGridWid", 0},
                       {"guideGridHei", 0}, {"displayOpacity", 1}, {"inactiveOpacity", 1}, {"hideInList", false},
                       {"hideFieldsWhenInactive", true}, {"canSelectWhenInactive", true}, {"renderInWorldView", true},
                       {"pxOffsetX", 0}, {"pxOffsetY", 0}, {"parallaxFactorX", 0}, {"parallaxFactorY", 0},
                       {"parallaxScaling", true}, {"requiredTags", QJsonArray()}, {"excludedTags", QJsonArray()},
                       {"autoTilesKilledByOtherLayerUid", QJsonValue()}, {"uiFilterTags", QJsonArray()},
                       {"useAsyncRender", false}, {"intGridValues", values}, {"intGridValuesGroups", QJsonArray()},
                       {"autoRuleGroups", groups}, {"autoSourceLayerDefUid", QJsonValue()}, {"tilesetDefUid", TilesetUid},
                       {"tilePivotX", 0}, {"tilePivotY", 0}, {"biomeFieldUid", QJsonValue()}};
}

// The demo level: its IntGrid values and the tiles LDtk's rules put there, listed as LDtk
// lists them (rule groups and their rules last to first, each rule's cells in order).
QJsonObject demoLevel(const TerrainSet& set, const QString& sheetName) {
    const QSize size = set.DemoSize();
    const std::vector<int> cells = set.DemoCells();
    QJsonArray csv;
    std::vector<std::vector<int>> byRule(static_cast<std::size_t>(set.Terrains() * Blob::Shapes));
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            const int terrain = cells[static_cast<std::size_t>(y * size.width() + x)];
            csv.append(terrain + 1);
            if (terrain >= 0) {
                byRule[static_cast<std::size_t>(set.CellTile(cells, size, x, y))].push_back(y * size.width() + x);
            }
        }
    }
    QJsonArray tiles;
    for (int id = set.Terrains() * Blob::Shapes - 1; id >= 0; --id) {
        const int terrain = id / Blob::Shapes, shape = id % Blob::Shapes;
        const QJsonObject rect = tileRect(set, id);
        for (const int coord : byRule[static_cast<std::size_t>(id)]) {
            tiles.append(QJsonObject{{"px", QJsonArray{(coord % size.width()) * set.Tile(), (coord / size.width()) * set.Tile()}},
                                     {"src", QJsonArray{rect["x"], rect["y"]}}, {"f", 0}, {"t", id},
                                     {"d", QJsonArray{ruleUid(set, terrain, shape), coord}}, {"a", 1}});
        }
    }
    const QJsonObject layer{{"__identifier", "Terrain"}, {"__type", "IntGrid"}, {"__cWid", size.width()},
                            {"__cHei", size.height()}, {"__gridSize", set.Tile()}, {"__opacity", 1}, {"__pxTotalOffsetX", 0},
                            {"__pxTotalOffsetY", 0}, {"__tilesetDefUid", TilesetUid}, {"__tilesetRelPath", sheetName},
                            {"iid", iid(QStringLiteral("layer"))}, {"levelId", LevelUid}, {"layerDefUid", LayerUid},
                            {"pxOffsetX", 0}, {"pxOffsetY", 0}, {"visible", true}, {"optionalRules", QJsonArray()},
                            {"intGridCsv", csv}, {"autoLayerTiles", tiles}, {"seed", 0}, {"overrideTilesetUid", QJsonValue()},
                            {"gridTiles", QJsonArray()}, {"entityInstances", QJsonArray()}};
    return QJsonObject{{"identifier", "Demo"}, {"iid", iid(QStringLiteral("level"))}, {"uid", LevelUid}, {"worldX", 0},
                       {"worldY", 0}, {"worldDepth", 0}, {"pxWid", size.width() * set.Tile()}, {"pxHei", size.height() * set.Tile()},
                       {"__bgColor", "#696A79"}, {"bgColor", QJsonValue()}, {"useAutoIdentifier", false}, {"bgRelPath", QJsonValue()},
                       {"bgPos", QJsonValue()}, {"bgPivotX", 0.5}, {"bgPivotY", 0.5}, {"__smartColor", "#ADADB5"},
                       {"__bgPos", QJsonValue()}, {"externalRelPath", QJsonValue()}, {"fieldInstances", QJsonArray()},
                       {"layerInstances", QJsonArray{layer}}, {"__neighbours", QJsonArray()}};
}
}  // namespace

QByteArray TerrainLdtkProject(const TerrainSet& set, const QString& sheetName) {
    const QString name = sheetName.section('.', 0, -2);
    const QSize sheet = set.Sheet().size();
    const QJsonObject tileset{{"__cWid", Blob::Shapes}, {"__cHei", set.Terrains()}, {"identifier", identifier(name)},
                              {"uid", TilesetUid}, {"relPath", sheetName}, {"embedAtlas", QJsonValue()}, {"pxWid", sheet.width()},
                              {"pxHei", sheet.height()}, {"tileGridSize", set.Tile()}, {"spacing", 0}, {"padding", 0},
                              {"tags", QJsonArray()}, {"tagsSourceEnumUid", QJsonValue()}, {"enumTags", QJsonArray()},
                              {"customData", QJsonArray()}, {"savedSelections", QJsonArray()}, {"cachedPixelData", QJsonValue()}};
    const QJsonObject root{
        {"__header__", QJsonObject{{"fileType", "LDtk Project JSON"}, {"app", "LDtk"}, {"doc", "https://ldtk.io/json"},
                                   {"schema", "https://ldtk.io/files/JSON_SCHEMA.json"}, {"appAuthor", "Sebastien 'deepnight' Benard"},
                                   {"appVersion", "1.5.3"}, {"url", "https://ldtk.io"}}},
        {"iid", iid(QStringLiteral("project"))}, {"jsonVersion", "1.5.3"}, {"appBuildId", 473703},
        {"nextUid", ruleUid(set, set.Terrains(), 0)}, {"identifierStyle", "Capitalize"}, {"toc", QJsonArray()},
        {"worldLayout", "Free"}, {"worldGridWidth", 256}, {"worldGridHeight", 256}, {"defaultLevelWidth", 256},
        {"defaultLevelHeight", 256}, {"defaultPivotX", 0}, {"defaultPivotY", 0}, {"defaultGridSize", set.Tile()},
        {"defaultEntityWidth", set.Tile()}, {"defaultEntityHeight", set.Tile()}, {"bgColor", "#40465B"},
        {"defaultLevelBgColor", "#696A79"}, {"minifyJson", false}, {"externalLevels", false}, {"exportTiled", false},
        {"simplifiedExport", false}, {"imageExportMode", "None"}, {"exportLevelBg", true}, {"pngFilePattern", QJsonValue()},
        {"backupOnSave", false}, {"backupLimit", 10}, {"backupRelPath", QJsonValue()}, {"levelNamePattern", "Level_%idx"},
        {"tutorialDesc", QJsonValue()}, {"customCommands", QJsonArray()}, {"flags", QJsonArray()},
        {"defs", QJsonObject{{"layers", QJsonArray{layerDef(set)}}, {"entities", QJsonArray()}, {"tilesets", QJsonArray{tileset}},
                             {"enums", QJsonArray()}, {"externalEnums", QJsonArray()}, {"levelFields", QJsonArray()}}},
        {"levels", QJsonArray{demoLevel(set, sheetName)}}, {"worlds", QJsonArray()}, {"dummyWorldIid", iid(QStringLiteral("world"))}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}
