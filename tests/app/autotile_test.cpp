#include "tiledpictures.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QXmlStreamReader>

#include <map>
#include <optional>
#include <set>

// Terrain sets made by autotile, read back by each editor's own reading: Tiled's export of
// the tileset, Godot's peering bits, LDtk's rules matched as LDtk matches them. Every one of
// the 256 neighbourhoods of every terrain must find exactly one tile, the same in all three,
// whose quarters are the template's pieces the neighbours call for.

namespace {
// Neighbours in Tiled's wang id order: top, top-right, right, ... top-left.
constexpr int Steps[8][2] = {{0, -1}, {1, -1}, {1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}};
// A quarter's (top-left, top-right, bottom-left, bottom-right) vertical, horizontal and diagonal neighbour bits.
constexpr int Around[4][3] = {{0, 6, 7}, {0, 2, 1}, {4, 6, 5}, {4, 2, 3}};
// Outer corner, side, cap, inner corner, body: the half-tiles of an A2 block RPG Maker MV's
// floor table fills each quarter with (x, y in half tiles).
constexpr int A2Half[5][4][2] = {{{0, 2}, {3, 2}, {0, 5}, {3, 5}},
                                 {{0, 4}, {3, 4}, {0, 3}, {3, 3}},
                                 {{2, 2}, {1, 2}, {2, 5}, {1, 5}},
                                 {{2, 0}, {3, 0}, {2, 1}, {3, 1}},
                                 {{2, 4}, {1, 4}, {2, 3}, {1, 3}}};

bool has(unsigned n, int k) { return (n >> k) & 1u; }

int pieceOf(unsigned n, int quarter) {
    const bool v = has(n, Around[quarter][0]), h = has(n, Around[quarter][1]), d = has(n, Around[quarter][2]);
    return v && h ? (d ? 4 : 3) : v ? 1 : h ? 2 : 0;
}

// Where terrains reach: edges that are the same, corners only beside both their edges.
unsigned reach(unsigned n) {
    unsigned mask = n & 0x55u;
    for (const auto& near : Around) {
        mask |= has(n, near[0]) && has(n, near[1]) && has(n, near[2]) ? 1u << near[2] : 0u;
    }
    return mask;
}

struct Case {
    const char* name;
    bool a2;
    int tile;
    QSize blocks;  // terrains across and down
    bool transparent;
    QStringList extra;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

// The tile the terrain's neighbourhood calls for, from the template.
QImage expectedTile(const QImage& pattern, const Case& c, int terrain, unsigned n) {
    const int half = c.tile / 2;
    const QSize block = c.a2 ? QSize(2 * c.tile, 3 * c.tile) : QSize(5 * c.tile, c.tile);
    const QPoint origin((terrain % c.blocks.width()) * block.width(), (terrain / c.blocks.width()) * block.height());
    QImage tile(c.tile, c.tile, QImage::Format_ARGB32);
    for (int q = 0; q < 4; ++q) {
        const int piece = pieceOf(n, q);
        const QPoint inTile((q % 2) * half, (q / 2) * half);
        const QPoint from = c.a2 ? QPoint(A2Half[piece][q][0], A2Half[piece][q][1]) * half : QPoint(piece * c.tile, 0) + inTile;
        for (int y = 0; y < half; ++y) {
            for (int x = 0; x < half; ++x) {
                tile.setPixel(inTile + QPoint(x, y), pattern.pixel(origin + from + QPoint(x, y)));
            }
        }
    }
    return tile;
}

QJsonObject jsonOf(const QString& path) { return QJsonDocument::fromJson(ReadBytes(path)).object(); }

// An LDtk rule: its 3x3 pattern (0 anything, +v that value, -v not that value), the value
// taken outside the grid (none: no match there) and its tile.
struct LdtkRule {
    int pattern[9];
    std::optional<int> outside;
    int tile;
};

std::vector<LdtkRule> ldtkRules(const QJsonObject& layer) {
    std::vector<LdtkRule> rules;
    for (const QJsonValue group : layer["autoRuleGroups"].toArray()) {
        for (const QJsonValue rule : group["rules"].toArray()) {
            LdtkRule r{{}, rule["outOfBoundsValue"].isNull() ? std::nullopt : std::optional<int>(rule["outOfBoundsValue"].toInt()),
                       rule["tileRectsIds"][0][0].toInt()};
            for (int k = 0; k < 9; ++k) {
                r.pattern[k] = rule["pattern"][k].toInt();
            }
            rules.push_back(r);
        }
    }
    return rules;
}

// The tiles of every rule, in LDtk's order, that matches at the cell as LDtk matches it.
std::vector<int> ldtkTiles(const std::vector<LdtkRule>& rules, const std::vector<int>& grid, int width, int x, int y) {
    std::vector<int> tiles;
    const int height = static_cast<int>(grid.size()) / width;
    for (const LdtkRule& rule : rules) {
        bool matches = true;
        for (int k = 0; k < 9 && matches; ++k) {
            const int want = rule.pattern[k], cx = x + k % 3 - 1, cy = y + k / 3 - 1;
            const bool inside = cx >= 0 && cy >= 0 && cx < width && cy < height;
            if (want == 0) {
                continue;
            }
            if (!inside && !rule.outside) {
                matches = false;
                break;
            }
            const int value = inside ? grid[static_cast<std::size_t>(cy * width + cx)] : *rule.outside;
            matches = want > 0 ? value == want : value != -want;
        }
        if (matches) {
            tiles.push_back(rule.tile);
        }
    }
    return tiles;
}

class AutotileTest : public ::testing::TestWithParam<Case> {};

TEST_P(AutotileTest, EveryNeighbourhoodFindsItsOneTileInEveryEditor) {
    const Case& c = GetParam();
    TestFolder folder;
    TilvexProgram program(folder);
    const QSize block = c.a2 ? QSize(2 * c.tile, 3 * c.tile) : QSize(5 * c.tile, c.tile);
    QImage pattern = noise(QSize(block.width() * c.blocks.width(), block.height() * c.blocks.height()), c.tile).convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < pattern.height(); ++y) {
        for (int x = 0; x < pattern.width(); ++x) {
            // Half-transparent pixels here and there; whole quarters clear where asked.
            const bool clear = c.transparent && ((x / (c.tile / 2)) + (y / (c.tile / 2))) % 3 == 0;
            pattern.setPixel(x, y, clear ? 0u : (pattern.pixel(x, y) & 0xFFFFFFu) | ((x + y) % 5 == 0 ? 0x80000000u : 0xFF000000u));
        }
    }
    ASSERT_TRUE(pattern.save(folder.File("grass.png")));
    ASSERT_TRUE(QDir().mkpath(folder.File("game")));
    WriteBytes(folder.File("game/project.godot"), QByteArray());
    const QString out = folder.File("game/levels/out");  // missing folders above it made too
    const TilvexResult run = program.Run(QStringList{"autotile", folder.File("grass.png"), "--layout", c.a2 ? "a2" : "quarters", "--out", out} + c.extra);
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const int terrains = c.blocks.width() * c.blocks.height();
    EXPECT_TRUE(run.out.contains(QStringLiteral("%1 terrain").arg(terrains))) << run.out.toStdString();
    const QImage sheet = QImage(out + "/grass.png").convertToFormat(QImage::Format_ARGB32);

    // Godot: each tile's terrain and peering bits, by its atlas cell.
    const char* const bits[8] = {"top_side", "top_right_corner", "right_side", "bottom_right_corner", "bottom_side", "bottom_left_corner", "left_side", "top_left_corner"};
    std::map<std::pair<int, unsigned>, std::vector<QPoint>> godot;  // terrain and bits to cells
    {
        std::map<QPoint, std::pair<int, unsigned>, bool (*)(const QPoint&, const QPoint&)> tiles(
            [](const QPoint& a, const QPoint& b) { return std::make_pair(a.y(), a.x()) < std::make_pair(b.y(), b.x()); });
        static const QRegularExpression line(QStringLiteral("^(\\d+):(\\d+)/0/terrain(s_peering_bit/(\\w+))? = (\\d+)$"));
        const QString text = QString::fromUtf8(ReadBytes(out + "/grass.tres"));
        EXPECT_TRUE(text.contains(QStringLiteral("path=\"res://levels/out/grass.png\"")));
        EXPECT_TRUE(text.contains(QStringLiteral("terrain_set_0/mode = 0\n")));
        EXPECT_TRUE(text.contains(QStringLiteral("terrain_set_0/terrain_%1/name").arg(terrains - 1)));
        for (const QString& l : text.split('\n')) {
            const QRegularExpressionMatch m = line.match(l);
            if (m.hasMatch()) {
                auto& tile = tiles[QPoint(m.captured(1).toInt(), m.captured(2).toInt())];
                const int value = m.captured(5).toInt();
                if (m.captured(3).isEmpty()) {
                    tile.first = value;
                    continue;
                }
                const auto k = std::find_if(bits, bits + 8, [&](const char* b) { return m.captured(4) == QLatin1String(b); }) - bits;
                EXPECT_TRUE(k < 8 && value == tile.first) << l.toStdString();
                tile.second |= 1u << k;
            }
        }
        for (const auto& [cell, tile] : tiles) {
            godot[tile].push_back(cell);
        }
    }
    // Tiled: the wang sets as Tiled itself reads and saves them.
    std::vector<std::map<QString, std::vector<int>>> tiled;
    int columns = 0;
    if (!tiledTool("tiled").isEmpty()) {
        EXPECT_EQ(runTool("tiled", {"--export-tileset", "json", out + "/grass.tsx", folder.File("grass.tsj")}).status, 0);
        const QJsonObject tileset = jsonOf(folder.File("grass.tsj"));
        columns = tileset["columns"].toInt();
        for (const QJsonValue set : tileset["wangsets"].toArray()) {
            EXPECT_EQ(set["type"].toString(), "mixed");
            tiled.emplace_back();
            for (const QJsonValue tile : set["wangtiles"].toArray()) {
                QStringList id;
                for (const QJsonValue v : tile["wangid"].toArray()) {
                    id += QString::number(v.toInt());
                }
                tiled.back()[id.join(',')].push_back(tile["tileid"].toInt());
            }
        }
        EXPECT_EQ(static_cast<int>(tiled.size()), terrains);
    } else {
        std::cout << "[ SKIPPED  ] Tiled's part: tiled (Debian package tiled) is not installed\n";
    }
    const QJsonObject project = jsonOf(out + "/grass.ldtk");
    const std::vector<LdtkRule> rules = ldtkRules(project["defs"]["layers"][0].toObject());
    const int ldtkColumns = project["defs"]["tilesets"][0]["__cWid"].toInt();

    for (int terrain = 0; terrain < terrains; ++terrain) {
        // A cell at the level's edge still gets its one tile.
        EXPECT_EQ(ldtkTiles(rules, {terrain + 1}, 1, 0, 0).size(), 1u);
        for (unsigned n = 0; n < 256; ++n) {
            SCOPED_TRACE(QStringLiteral("terrain %1, neighbours %2").arg(terrain).arg(n, 8, 2, QChar('0')).toStdString());
            const unsigned mask = reach(n);
            const auto found = godot.find({terrain, mask});
            ASSERT_TRUE(found != godot.end() && found->second.size() == 1);
            const QPoint cell = found->second.front();
            EXPECT_TRUE(sheet.copy(cell.x() * c.tile, cell.y() * c.tile, c.tile, c.tile) == expectedTile(pattern, c, terrain, n));
            if (!tiled.empty()) {
                QStringList id;
                for (int k = 0; k < 8; ++k) {
                    id += has(mask, k) ? QStringLiteral("1") : QStringLiteral("0");
                }
                const std::vector<int> ids = tiled[static_cast<std::size_t>(terrain)][id.join(',')];
                EXPECT_EQ(ids, mask == 0 ? std::vector<int>{} : std::vector<int>{cell.y() * columns + cell.x()});
            }
            // Same neighbours hold the terrain; the others another terrain or nothing.
            const int other = terrains > 1 && n % 2 == 1 ? (terrain + 1) % terrains + 1 : 0;
            std::vector<int> grid(9, terrain + 1);
            for (int k = 0; k < 8; ++k) {
                grid[static_cast<std::size_t>((1 + Steps[k][1]) * 3 + 1 + Steps[k][0])] = has(n, k) ? terrain + 1 : other;
            }
            EXPECT_EQ(ldtkTiles(rules, grid, 3, 1, 1), std::vector<int>{cell.y() * ldtkColumns + cell.x()});
        }
    }

    // The demo level: LDtk's rules place exactly the tiles the project lists.
    const QJsonObject level = project["levels"][0]["layerInstances"][0].toObject();
    const int width = level["__cWid"].toInt();
    std::vector<int> csv;
    for (const QJsonValue v : level["intGridCsv"].toArray()) {
        csv.push_back(v.toInt());
    }
    std::map<int, std::vector<int>> placed;
    for (const QJsonValue tile : level["autoLayerTiles"].toArray()) {
        placed[tile["px"][1].toInt() / c.tile * width + tile["px"][0].toInt() / c.tile].push_back(tile["t"].toInt());
    }
    for (int k = 0; k < static_cast<int>(csv.size()); ++k) {
        EXPECT_EQ(placed[k], csv[static_cast<std::size_t>(k)] == 0 ? std::vector<int>{} : ldtkTiles(rules, csv, width, k % width, k / width)) << k;
    }
    const QString schema = QStringLiteral(TILVEX_APP_TESTS) + "/ldtk/JSON_SCHEMA.json";
    const TilvexResult valid = runTool("/usr/bin/python3", {"-c",
                                                            "import json, sys, jsonschema\n"
                                                            "schema = json.load(open(sys.argv[1]))\n"
                                                            "for e in jsonschema.Draft7Validator(schema).iter_errors(json.load(open(sys.argv[2]))):\n"
                                                            "    print(list(e.absolute_path), e.message[:200])\n",
                                                            schema, out + "/grass.ldtk"});
    if (valid.status == 0) {
        EXPECT_EQ(valid.out, "");
    } else {
        std::cout << "[ SKIPPED  ] LDtk's schema: python3-jsonschema is not installed\n";
    }

    // The demo map as tmxrasterizer draws it: each cell the tile its neighbours call for, every shape there.
    if (tiledTool("tmxrasterizer").isEmpty() || columns == 0) {
        std::cout << "[ SKIPPED  ] the demo map: tmxrasterizer (Debian package tiled) is not installed\n";
        return;
    }
    ASSERT_EQ(runTool("tmxrasterizer", {"--no-smoothing", out + "/grass-demo.tmx", folder.File("demo.png")}).status, 0);
    const QImage drawn(folder.File("demo.png"));
    QXmlStreamReader xml(ReadBytes(out + "/grass-demo.tmx"));
    while (!xml.atEnd() && !(xml.isStartElement() && xml.name() == QLatin1String("data"))) {
        xml.readNext();
    }
    std::vector<int> cells;  // terrain + 1, 0 for none
    for (const QString& gid : xml.readElementText().split(QRegularExpression("[,\\s]+"), Qt::SkipEmptyParts)) {
        cells.push_back(gid.toInt() == 0 ? 0 : (gid.toInt() - 1) / columns + 1);
    }
    const int mapWidth = drawn.width() / c.tile;
    ASSERT_EQ(static_cast<int>(cells.size()), mapWidth * (drawn.height() / c.tile));
    std::map<int, std::set<std::vector<int>>> shapes;
    for (int k = 0; k < static_cast<int>(cells.size()); ++k) {
        const int x = k % mapWidth, y = k / mapWidth, terrain = cells[static_cast<std::size_t>(k)] - 1;
        QImage expected(c.tile, c.tile, QImage::Format_ARGB32);
        expected.fill(0);
        if (terrain >= 0) {
            unsigned n = 0;
            for (int s = 0; s < 8; ++s) {
                const int nx = x + Steps[s][0], ny = y + Steps[s][1];
                n |= nx >= 0 && ny >= 0 && nx < mapWidth && ny * mapWidth + nx < static_cast<int>(cells.size()) &&
                             cells[static_cast<std::size_t>(ny * mapWidth + nx)] == terrain + 1 ? 1u << s : 0u;
            }
            expected = expectedTile(pattern, c, terrain, n);
            shapes[terrain].insert({pieceOf(n, 0), pieceOf(n, 1), pieceOf(n, 2), pieceOf(n, 3)});
        }
        EXPECT_EQ(difference(drawn.copy(x * c.tile, y * c.tile, c.tile, c.tile), expected).beyond2, 0) << "cell " << x << "," << y;
    }
    for (int terrain = 0; terrain < terrains; ++terrain) {
        EXPECT_EQ(shapes[terrain].size(), 47u) << terrain;
    }
}

INSTANTIATE_TEST_SUITE_P(Templates, AutotileTest,
                         ::testing::Values(Case{"OneBlock", true, 8, QSize(1, 1), false, {}},
                                           Case{"TransparentQuarters", true, 6, QSize(1, 1), true, {}},
                                           Case{"WholeA2Sheet", true, 4, QSize(8, 4), false, {"--tile", "4"}},
                                           Case{"QuarterRows", false, 10, QSize(1, 2), true, {"--tile", "10"}}),
                         [](const auto& info) { return std::string(info.param.name); });

// Templates it cannot cut: a clear reason naming the file, and nothing written; a good one's report.
TEST(AutotileRefusals, NameTheFileAndWriteNothing) {
    TestFolder folder;
    TilvexProgram program(folder);
    ASSERT_TRUE(noise(QSize(16, 24), 1).save(folder.File("block.png")));
    ASSERT_TRUE(noise(QSize(17, 24), 1).save(folder.File("odd.png")));
    ASSERT_TRUE(noise(QSize(40, 16), 1).save(folder.File("rows.png")));
    WriteBytes(folder.File("empty.png"), QByteArray());
    const struct {
        const char* file;
        QStringList options;
        const char* reason;
    } cases[] = {
        {"block.png", {"--layout", "a2", "--tile", "3"}, "must be even"},
        {"odd.png", {"--layout", "a2", "--tile", "8"}, "not a whole number of A2 blocks"},
        {"block.png", {"--layout", "a2", "--tile", "16"}, "not a whole number of A2 blocks"},
        {"rows.png", {"--layout", "quarters", "--tile", "16"}, "not a whole number of rows of five tiles"},
        {"empty.png", {"--layout", "a2"}, "an empty file"},
        {"missing.png", {"--layout", "a2"}, "does not exist"},
    };
    const TilvexResult good = program.Run({"autotile", folder.File("block.png"), "--layout", "a2", "--out", folder.File("good"), "--json"});
    const QJsonObject report = QJsonDocument::fromJson(good.out.toUtf8()).object();
    EXPECT_EQ(report["written"]["files"].toArray().size(), 5);
    EXPECT_EQ(report["terrains"].toInt() * 47, report["tiles"].toInt());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const TilvexResult run = program.Run(QStringList{"autotile", folder.File(c.file), "--out", folder.File("out")} + c.options);
        EXPECT_EQ(run.status, 2);
        EXPECT_TRUE(run.err.contains(folder.File(c.file)) && run.err.contains(c.reason)) << run.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(folder.File("out")));
    }
    // Written beside itself, the sheet would take the template's own name.
    const QByteArray original = ReadBytes(folder.File("block.png"));
    const TilvexResult beside = program.Run({"autotile", folder.File("block.png"), "--layout", "a2", "--out", folder.Path()});
    EXPECT_TRUE(beside.status == 2 && beside.err.contains("would replace the template")) << beside.err.toStdString();
    EXPECT_EQ(ReadBytes(folder.File("block.png")), original);
    EXPECT_FALSE(QFileInfo::exists(folder.File("block.tsx")));
}
}  // namespace
