#include "terrain/terrainset.h"

#include "runtime/limits.h"
#include "terrain/blobshapes.h"

#include <cstdint>
#include <cstring>

namespace {
// Tiles of a terrain's piece block across and down in the template.
QSize blockOf(TerrainLayout layout) { return layout == TerrainLayout::A2 ? QSize(2, 3) : QSize(5, 1); }

// The demo's patches: this many across, each 3 by 3 cells and an empty one right and below.
constexpr int PatchesAcross = 8;
constexpr int PatchSide = 4;
constexpr int PatchRows = (Blob::Shapes + PatchesAcross - 1) / PatchesAcross;

// The neighbours' offsets in the order of Blob's bits.
constexpr int Steps[8][2] = {{0, -1}, {1, -1}, {1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}};

// Pixels copied as they are (a painter would round semi-transparent ones through premultiplying).
void copyQuarter(const QImage& from, QPoint at, QImage& to, QPoint into, int side) {
    for (int row = 0; row < side; ++row) {
        std::memcpy(to.scanLine(into.y() + row) + std::size_t{4} * static_cast<std::size_t>(into.x()),
                    from.constScanLine(at.y() + row) + std::size_t{4} * static_cast<std::size_t>(at.x()), std::size_t{4} * static_cast<std::size_t>(side));
    }
}

QColor averageOf(const QImage& tile) {
    double sum[3] = {0, 0, 0};
    double weight = 0;
    for (int y = 0; y < tile.height(); ++y) {
        for (int x = 0; x < tile.width(); ++x) {
            const QRgb pixel = tile.pixel(x, y);
            const double alpha = qAlpha(pixel);
            sum[0] += qRed(pixel) * alpha;
            sum[1] += qGreen(pixel) * alpha;
            sum[2] += qBlue(pixel) * alpha;
            weight += alpha;
        }
    }
    if (weight == 0) {
        return QColor(128, 128, 128);
    }
    return QColor(qRound(sum[0] / weight), qRound(sum[1] / weight), qRound(sum[2] / weight));
}
}  // namespace

int TerrainSet::DefaultTile(QSize picture, TerrainLayout layout) {
    const QSize block = blockOf(layout);
    // One block alone says its tile size; a sheet of them is RPG Maker MV's 48.
    if (picture.width() * block.height() == picture.height() * block.width() && picture.width() % block.width() == 0) {
        return picture.width() / block.width();
    }
    return 48;
}

QString TerrainSet::Problem(QSize picture, TerrainLayout layout, int tile) {
    if (tile < 2 || tile % 2 != 0) {
        return QStringLiteral("tiles of %1 pixels: a tile is cut into quarters, so its side must be even (--tile N)").arg(tile);
    }
    const QSize block = blockOf(layout) * tile;
    if (picture.width() < block.width() || picture.height() < block.height() || picture.width() % block.width() != 0 ||
        picture.height() % block.height() != 0) {
        return QStringLiteral("a %1x%2 picture is not a whole number of %3 (%4x%5 pixels with %6-pixel tiles)")
            .arg(picture.width())
            .arg(picture.height())
            .arg(layout == TerrainLayout::A2 ? QStringLiteral("A2 blocks of 2x3 tiles") : QStringLiteral("rows of five tiles"))
            .arg(block.width())
            .arg(block.height())
            .arg(tile);
    }
    const std::int64_t terrains = std::int64_t{picture.width() / block.width()} * (picture.height() / block.height());
    if (std::int64_t{Blob::Shapes} * tile > Limits::PictureSide || terrains * tile > Limits::PictureSide) {
        return QStringLiteral("the sheet of %1 terrains in tiles of %2 pixels would pass %3 pixels a side").arg(terrains).arg(tile).arg(Limits::PictureSide);
    }
    return QString();
}

TerrainSet::TerrainSet(const QImage& picture, TerrainLayout layout, int tile, const QString& name) : tile_(tile), name_(name) {
    const QImage source = picture.convertToFormat(QImage::Format_RGBA8888);
    const QSize block = blockOf(layout) * tile;
    const int across = source.width() / block.width();
    const int terrains = across * (source.height() / block.height());
    sheet_ = QImage(Blob::Shapes * tile, terrains * tile, QImage::Format_RGBA8888);
    sheet_.fill(Qt::transparent);
    const int half = tile / 2;
    for (int terrain = 0; terrain < terrains; ++terrain) {
        const QPoint origin((terrain % across) * block.width(), (terrain / across) * block.height());
        for (int shape = 0; shape < Blob::Shapes; ++shape) {
            for (int quarter = 0; quarter < 4; ++quarter) {
                const QPoint inTile((quarter % 2) * half, (quarter / 2) * half);
                const QPoint from = layout == TerrainLayout::A2
                                        ? Blob::A2Quarter(shape, quarter) * half
                                        : QPoint(static_cast<int>(Blob::PieceOf(shape, quarter)) * tile, 0) + inTile;
                copyQuarter(source, origin + from, sheet_, QPoint(shape * tile, terrain * tile) + inTile, half);
            }
        }
        colours_.push_back(averageOf(sheet_.copy(0, terrain * tile, tile, tile)));
    }
}

int TerrainSet::TileId(int terrain, int shape) const { return terrain * Blob::Shapes + shape; }

QString TerrainSet::TerrainName(int terrain) const {
    return Terrains() == 1 ? name_ : QStringLiteral("%1 %2").arg(name_).arg(terrain + 1);
}

QSize TerrainSet::DemoSize() const { return QSize(1 + PatchesAcross * PatchSide, 1 + Terrains() * PatchRows * PatchSide); }

std::vector<int> TerrainSet::DemoCells() const {
    const QSize size = DemoSize();
    std::vector<int> cells(static_cast<std::size_t>(size.width()) * static_cast<std::size_t>(size.height()), -1);
    for (int terrain = 0; terrain < Terrains(); ++terrain) {
        for (int shape = 0; shape < Blob::Shapes; ++shape) {
            // The patch's middle cell, with the shape's neighbours set around it.
            const int x = 2 + (shape % PatchesAcross) * PatchSide;
            const int y = 2 + (terrain * PatchRows + shape / PatchesAcross) * PatchSide;
            cells[static_cast<std::size_t>(y * size.width() + x)] = terrain;
            for (int k = 0; k < 8; ++k) {
                if (Blob::Mask(shape) & (1u << k)) {
                    cells[static_cast<std::size_t>((y + Steps[k][1]) * size.width() + x + Steps[k][0])] = terrain;
                }
            }
        }
    }
    return cells;
}

int TerrainSet::CellTile(const std::vector<int>& cells, QSize size, int x, int y) const {
    const auto at = [&](int cx, int cy) {
        return cx < 0 || cy < 0 || cx >= size.width() || cy >= size.height() ? -1 : cells[static_cast<std::size_t>(cy * size.width() + cx)];
    };
    const int terrain = at(x, y);
    if (terrain < 0) {
        return -1;
    }
    unsigned neighbours = 0;
    for (int k = 0; k < 8; ++k) {
        if (at(x + Steps[k][0], y + Steps[k][1]) == terrain) {
            neighbours |= 1u << k;
        }
    }
    return TileId(terrain, Blob::ShapeOf(neighbours));
}
