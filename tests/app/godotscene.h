#pragma once

#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QString>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <tuple>
#include <vector>

// Godot 4's scenes and TileSets read and drawn as its loader and TileMapLayer do (from
// Godot's tile_set.cpp and tile_map_layer.cpp): sections, cells, atlas tiles with their
// texture_origin, alternatives and animations, cell centres of every tile shape and layout,
// and the order in which TileMapLayer draws its cells.

// A section of Godot's text format as its loader reads it: [tag key=value ...] and key = value lines.
struct GodotSection {
    QString tag;
    std::map<QString, QString> head;
    std::vector<std::pair<QString, QString>> values;
    QString Value(const QString& key) const {
        for (const auto& [k, v] : values) {
            if (k == key) {
                return v;
            }
        }
        return QString();
    }
};

inline std::vector<GodotSection> readGodot(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    std::vector<GodotSection> sections;
    static const QRegularExpression header(QStringLiteral("^\\[(\\w+)(.*)\\]$"));
    static const QRegularExpression attribute(QStringLiteral("(\\w+)=(\"(?:[^\"\\\\]|\\\\.)*\"|\\S+)"));
    for (const QString& line : QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)) {
        if (const auto match = header.match(line); match.hasMatch()) {
            sections.push_back({match.captured(1), {}, {}});
            for (auto it = attribute.globalMatch(match.captured(2)); it.hasNext();) {
                const auto a = it.next();
                QString value = a.captured(2);
                if (value.startsWith('"')) {
                    value = value.mid(1, value.size() - 2);
                }
                sections.back().head[a.captured(1)] = value;
            }
        } else if (!sections.empty() && line.contains(" = ")) {
            sections.back().values.emplace_back(line.section(" = ", 0, 0), line.section(" = ", 1));
        }
    }
    return sections;
}

// The numbers inside a constructor's brackets: Vector2i(1, 2), PackedByteArray(...).
inline std::vector<double> numbers(const QString& value) {
    std::vector<double> list;
    for (const QString& n : value.section('(', 1).section(')', 0, 0).split(',', Qt::SkipEmptyParts)) {
        list.push_back(n.trimmed().toDouble());
    }
    return list;
}

// The tile as Godot draws a transform: transposed, then mirrored across, then upside down.
inline QImage godotTile(const QImage& tile, bool transpose, bool flipH, bool flipV) {
    QImage image = tile.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (transpose) {
        QImage turned(image.height(), image.width(), image.format());
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                turned.setPixel(y, x, image.pixel(x, y));
            }
        }
        image = turned;
    }
    return image.mirrored(flipH, flipV);
}
inline QImage godotTile(const QImage& tile, int alternative) {
    return godotTile(tile, (alternative & (1 << 14)) != 0, (alternative & (1 << 12)) != 0, (alternative & (1 << 13)) != 0);
}

// An atlas tile's alternative (TileData) and the animation of its tile.
struct GodotTileData {
    QPoint origin;
    bool transpose = false, flipH = false, flipV = false;
    int columns = 0;
    std::vector<double> durations;  // seconds; one frame when not animated
};

struct GodotAtlas {
    QImage texture;
    QPoint margins, separation;
    QSize region;
    std::map<QString, GodotTileData> tiles;  // by "x:y/alternative"
    QRect Region(QPoint coords, int frame, int columns) const {
        const QPoint at = columns > 0 ? coords + QPoint(frame % columns, frame / columns) : coords + QPoint(frame, 0);
        return QRect(margins + QPoint(at.x() * (region.width() + separation.x()), at.y() * (region.height() + separation.y())), region);
    }
};

struct GodotTileSet {
    int shape = 0, layout = 0, axis = 0;
    QSize tile{16, 16};
    std::map<int, GodotAtlas> sources;

    // TileSet::map_to_local: the centre of a cell.
    QPointF Centre(QPoint cell) const {
        double x = cell.x(), y = cell.y();
        if (shape != 0) {
            const auto odd = [](double v) { return (static_cast<long>(std::floor(v)) % 2 + 2) % 2 == 1; };
            if (axis == 0) {
                switch (layout) {
                    case 0: x += odd(y) ? 0.5 : 0.0; break;
                    case 1: x += odd(y) ? 0.0 : 0.5; break;
                    case 2: x += y / 2; break;
                    case 3: std::tie(x, y) = std::pair(x / 2, y * 2 + x); break;
                    case 4: std::tie(x, y) = std::pair((x + y) / 2, y - x); break;
                    default: std::tie(x, y) = std::pair((x - y) / 2, y + x); break;
                }
                y *= shape == 1 ? 0.5 : shape == 3 ? 0.75 : 1.0;
            } else {
                switch (layout) {
                    case 0: y += odd(x) ? 0.5 : 0.0; break;
                    case 1: y += odd(x) ? 0.0 : 0.5; break;
                    case 2: std::tie(x, y) = std::pair(x * 2 + y, y / 2); break;
                    case 3: y += x / 2; break;
                    case 4: std::tie(x, y) = std::pair(x + y, (y - x) / 2); break;
                    default: std::tie(x, y) = std::pair(x - y, (y + x) / 2); break;
                }
                x *= shape == 1 ? 0.5 : shape == 3 ? 0.75 : 1.0;
            }
        }
        return QPointF((x + 0.5) * tile.width(), (y + 0.5) * tile.height());
    }
};

// The TileSet at path; resolve turns res:// paths into files.
inline GodotTileSet readGodotTileSet(const QString& path, const std::function<QString(const QString&)>& resolve) {
    GodotTileSet set;
    std::map<QString, QString> textures;
    std::map<QString, GodotAtlas> atlases;
    for (const GodotSection& section : readGodot(path)) {
        if (section.tag == "ext_resource") {
            textures[section.head.at("id")] = resolve(section.head.at("path"));
            continue;
        }
        GodotAtlas atlas;
        atlas.region = QSize(16, 16);
        for (const auto& [key, value] : section.values) {
            const std::vector<double> v = numbers(value);
            const QStringList part = key.split('/');
            if (key == "texture") {
                atlas.texture = QImage(textures.at(value.section('"', 1, 1)));
            } else if (key == "margins") {
                atlas.margins = QPoint(static_cast<int>(v[0]), static_cast<int>(v[1]));
            } else if (key == "separation") {
                atlas.separation = QPoint(static_cast<int>(v[0]), static_cast<int>(v[1]));
            } else if (key == "texture_region_size") {
                atlas.region = QSize(static_cast<int>(v[0]), static_cast<int>(v[1]));
            } else if (key == "tile_shape" || key == "tile_layout" || key == "tile_offset_axis") {
                (key == "tile_shape" ? set.shape : key == "tile_layout" ? set.layout : set.axis) = value.toInt();
            } else if (key == "tile_size") {
                set.tile = QSize(static_cast<int>(v[0]), static_cast<int>(v[1]));
            } else if (part[0] == "sources") {
                set.sources[part[1].toInt()] = atlases.at(value.section('"', 1, 1));
            } else if (part.size() == 2 && part[0].contains(':') && part[1].startsWith("animation")) {
                // A tile's own keys, kept on every alternative for lookup.
                atlas.tiles[part[0] + "/animation"].columns += part[1] == "animation_columns" ? value.toInt() : 0;
            } else if (part.size() == 3 && part[1].startsWith("animation_frame_")) {
                atlas.tiles[part[0] + "/animation"].durations.push_back(value.toDouble());
            } else if (part.size() >= 2 && part[0].contains(':')) {
                GodotTileData& data = atlas.tiles[part[0] + "/" + part[1]];
                if (part.size() == 3 && part[2] == "texture_origin") {
                    data.origin = QPoint(static_cast<int>(v[0]), static_cast<int>(v[1]));
                }
                data.transpose = data.transpose || (part.size() == 3 && part[2] == "transpose" && value == "true");
                data.flipH = data.flipH || (part.size() == 3 && part[2] == "flip_h" && value == "true");
                data.flipV = data.flipV || (part.size() == 3 && part[2] == "flip_v" && value == "true");
            }
        }
        if (section.tag == "sub_resource") {
            atlases[section.head.at("id")] = atlas;
        }
    }
    return set;
}

// A premultiplied picture as modulate draws it: every channel multiplied.
inline QImage godotModulated(QImage picture, const std::array<double, 4>& m) {
    for (int y = 0; y < picture.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb p = row[x];
            row[x] = qRgba(static_cast<int>(std::lround(qRed(p) * m[0] * m[3])), static_cast<int>(std::lround(qGreen(p) * m[1] * m[3])),
                           static_cast<int>(std::lround(qBlue(p) * m[2] * m[3])), static_cast<int>(std::lround(qAlpha(p) * m[3])));
        }
    }
    return picture;
}

// Draws the scene at path as Godot shows it at ms milliseconds of its animations, into a
// picture of the given size whose origin is the scene's, the nodes named hidden left out;
// every cell whose tile the TileSet does not declare, or that lands between pixels, is a problem.
struct GodotDrawing {
    QImage picture;
    QStringList problems;
    std::map<QString, const GodotSection*> nodes;  // by path from the root ("." for it)
    std::vector<GodotSection> scene;
};

inline GodotDrawing drawGodotScene(const QString& path, const std::function<QString(const QString&)>& resolve, QSize size, int ms = 0,
                                   const QStringList& hidden = {}) {
    GodotDrawing drawing;
    drawing.scene = readGodot(path);
    drawing.picture = QImage(size, QImage::Format_ARGB32_Premultiplied);
    drawing.picture.fill(0);
    std::map<QString, QString> resources;  // by id
    std::map<QString, GodotTileSet> tilesets;
    struct Place {
        QPointF position;
        bool visible = true;
        std::array<double, 4> modulate{1, 1, 1, 1};
    };
    std::map<QString, Place> places;
    for (const GodotSection& section : drawing.scene) {
        if (section.tag == "ext_resource") {
            resources[section.head.at("id")] = resolve(section.head.at("path"));
        }
        if (section.tag != "node") {
            continue;
        }
        const QString parent = section.head.count("parent") ? section.head.at("parent") : QString();
        const QString name = parent.isEmpty() ? QStringLiteral(".") : parent == "." ? section.head.at("name") : parent + "/" + section.head.at("name");
        drawing.nodes[name] = &section;
        Place place = parent.isEmpty() ? Place{} : places.at(parent);
        const std::vector<double> position = numbers(section.Value("position"));
        if (position.size() == 2) {
            place.position += QPointF(position[0], position[1]);
        }
        place.visible = place.visible && section.Value("visible") != "false" && !hidden.contains(section.head.at("name"));
        const std::vector<double> modulate = numbers(section.Value("modulate"));
        for (std::size_t k = 0; k < modulate.size(); ++k) {
            place.modulate[k] *= modulate[k];
        }
        places[name] = place;
        if (section.head.at("type") == "Sprite2D" && section.Value("region_enabled").isEmpty() && place.visible) {
            // An image layer's picture, at its position.
            QImage picture = QImage(resources.at(section.Value("texture").section('"', 1, 1))).convertToFormat(QImage::Format_ARGB32_Premultiplied);
            QPainter(&drawing.picture).drawImage(place.position.toPoint(), godotModulated(picture, place.modulate));
        }
        if (section.head.at("type") == "Sprite2D" && section.Value("region_enabled") == "true" && place.visible) {
            // A tile object: a region of its sheet, mirrored in place, scaled from its corner at the offset.
            const std::vector<double> r = numbers(section.Value("region_rect")), o = numbers(section.Value("offset")), k = numbers(section.Value("scale"));
            const QPointF offset = o.size() == 2 ? QPointF(o[0], o[1]) : QPointF(), scale = k.size() == 2 ? QPointF(k[0], k[1]) : QPointF(1, 1);
            const QImage region = QImage(resources.at(section.Value("texture").section('"', 1, 1)))
                                      .copy(QRect(static_cast<int>(r[0]), static_cast<int>(r[1]), static_cast<int>(r[2]), static_cast<int>(r[3])))
                                      .mirrored(section.Value("flip_h") == "true", section.Value("flip_v") == "true")
                                      .convertToFormat(QImage::Format_ARGB32_Premultiplied);
            const QImage scaled = region.scaled(qRound(r[2] * scale.x()), qRound(r[3] * scale.y()));
            const QPointF corner = place.position + QPointF(offset.x() * scale.x(), offset.y() * scale.y());
            QPainter(&drawing.picture).drawImage(corner.toPoint(), godotModulated(scaled, place.modulate));
        }
        if (section.head.at("type") != "TileMapLayer" || !place.visible) {
            continue;
        }
        const QString file = resources.at(section.Value("tile_set").section('"', 1, 1));
        if (tilesets.count(file) == 0) {
            tilesets[file] = readGodotTileSet(file, resolve);
        }
        const GodotTileSet& set = tilesets.at(file);
        struct Cell {
            QPoint at;
            int source, alternative;
            QPoint coords;
        };
        std::vector<Cell> cells;
        const std::vector<double> data = numbers(section.Value("tile_map_data"));
        EXPECT_EQ((data.size() - 2) % 12, 0u);
        for (std::size_t k = 2; k + 12 <= data.size(); k += 12) {
            const auto field = [&](int n) { return static_cast<int>(data[k + 2 * n]) | static_cast<int>(data[k + 2 * n + 1]) << 8; };
            cells.push_back({QPoint(static_cast<std::int16_t>(field(0)), static_cast<std::int16_t>(field(1))), field(2), field(5), QPoint(field(3), field(4))});
        }
        // TileMapLayer's order: by rows when y-sorted, else by quadrants of 16 cells (top
        // to bottom, right to left), column by column inside each.
        const bool ySorted = section.Value("y_sort_enabled") == "true";
        const int xOrder = section.Value("x_draw_order_reversed") == "true" ? -1 : 1;
        const auto key = [&](const Cell& c) {
            if (ySorted) {
                return std::tuple(set.Centre(c.at).y(), 0.0, xOrder * c.at.x(), c.at.y());
            }
            const QPoint quadrant(static_cast<int>(std::floor(c.at.x() / 16.0)), static_cast<int>(std::floor(c.at.y() / 16.0)));
            const QPointF q = set.Centre(quadrant * 16);
            return std::tuple(q.y(), -q.x(), c.at.x(), c.at.y());
        };
        std::stable_sort(cells.begin(), cells.end(), [&](const Cell& a, const Cell& b) { return key(a) < key(b); });
        QPainter painter(&drawing.picture);
        for (const Cell& cell : cells) {
            const GodotAtlas& atlas = set.sources.at(cell.source);
            const QString at = QStringLiteral("%1:%2").arg(cell.coords.x()).arg(cell.coords.y());
            const auto found = atlas.tiles.find(at + "/" + QString::number(cell.alternative & 0xFFF));
            if (found == atlas.tiles.end()) {
                drawing.problems += QStringLiteral("%1: cell %2,%3 names %4 of source %5, not declared").arg(name).arg(cell.at.x()).arg(cell.at.y()).arg(at).arg(cell.source);
                continue;
            }
            const GodotTileData& tile = found->second;
            const auto animation = atlas.tiles.find(at + "/animation");
            int frame = 0;
            if (animation != atlas.tiles.end() && !animation->second.durations.empty()) {
                double total = 0;
                for (const double d : animation->second.durations) {
                    total += d;
                }
                double t = std::fmod(ms / 1000.0, total);
                while (t >= animation->second.durations[static_cast<std::size_t>(frame)] - 1e-9) {
                    t -= animation->second.durations[static_cast<std::size_t>(frame++)];
                }
            }
            const int columns = animation == atlas.tiles.end() ? 0 : animation->second.columns;
            const QImage picture = godotTile(atlas.texture.copy(atlas.Region(cell.coords, frame, columns)), tile.transpose != ((cell.alternative & (1 << 14)) != 0),
                                             tile.flipH != ((cell.alternative & (1 << 12)) != 0), tile.flipV != ((cell.alternative & (1 << 13)) != 0));
            const QPointF corner = places.at(name).position + set.Centre(cell.at) - QPointF(picture.width(), picture.height()) / 2 - QPointF(tile.origin);
            if (std::abs(corner.x() - std::round(corner.x())) > 1e-6 || std::abs(corner.y() - std::round(corner.y())) > 1e-6) {
                drawing.problems += QStringLiteral("%1: cell %2,%3 lands between pixels at %4,%5").arg(name).arg(cell.at.x()).arg(cell.at.y()).arg(corner.x()).arg(corner.y());
            }
            const QImage modulated = godotModulated(picture, places.at(name).modulate);
            painter.drawImage(QPoint(static_cast<int>(std::lround(corner.x())), static_cast<int>(std::lround(corner.y()))), modulated);
        }
    }
    return drawing;
}
