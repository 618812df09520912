#pragma once

#include <cstdint>

// Bounds that readers, writers and the commands' checks must agree on, each written once.
namespace Limits {
// Largest side of any picture, in pixels; larger is no real sheet and only exhausts memory.
constexpr int PictureSide = 1 << 17;
// Most pixels a drawn map or world may have (a gigabyte of RGBA).
constexpr std::int64_t PicturePixels = std::int64_t{1} << 28;
// Largest tile side, margin or spacing; larger is no tile sheet.
constexpr int TileSide = 4096;
// Largest tile number: tiles are numbered as the system's signed 32-bit whole numbers.
constexpr std::int32_t TileNumber = 2147483647;
// Largest count of cells in one layer of a map, and of tiles in one tileset.
constexpr std::int64_t LayerCells = std::int64_t{1} << 26;
constexpr std::int64_t TilesetTiles = std::int64_t{1} << 26;
constexpr int TileId = static_cast<int>(TilesetTiles) - 1;
}  // namespace Limits

// The flag bits of a tile placement as map files hold them in the top bits of a gid.
namespace GidFlag {
constexpr std::uint32_t Horizontal = 0x80000000u;
constexpr std::uint32_t Vertical = 0x40000000u;
constexpr std::uint32_t Diagonal = 0x20000000u;
constexpr std::uint32_t Flips = Horizontal | Vertical | Diagonal;
// The hexagonal 120-degree turn: kept in a gid, meaningless on an orthogonal map.
constexpr std::uint32_t Rotated120 = 0x10000000u;
constexpr std::uint32_t All = Flips | Rotated120;
// The bits left for the tile: also the largest gid a map can hold.
constexpr std::uint32_t Tile = ~All;
}  // namespace GidFlag
