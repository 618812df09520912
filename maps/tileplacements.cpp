#include "maps/tileplacements.h"

#include "maps/tileblend.h"
#include "maps/tilepainter.h"

namespace {
std::size_t slotOf(std::uint64_t key, std::size_t count) {
    return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> 32) & (count - 1);
}
}  // namespace

TilePlacements::Placement TilePlacements::make(std::uint32_t gid, QRgb tint) {
    Placement placement;
    const QImage& image = tiles_.Oriented(gid, tint);
    if (image.isNull()) {
        return placement;
    }
    const bool diagonal = (gid & GidFlag::Diagonal) != 0;
    const QRectF target = TileTarget(*map_.TilesetOf(gid)->tileset, diagonal ? image.size().transposed() : image.size(), map_.tile,
                                     QPointF(0, 0), diagonal);
    placement.image = &image;
    placement.offset = target.topLeft();
    placement.size = target.size();
    placement.blendable = target.size() == QSizeF(image.size()) && image.format() == QImage::Format_ARGB32_Premultiplied;
    placement.opaque = Opaque(image);
    if (placement.blendable) {
        placement.pixels = BlendSourceOf(image);
    }
    return placement;
}

const TilePlacements::Placement& TilePlacements::Of(std::uint32_t gid, QRgb tint) {
    const std::uint64_t key = std::uint64_t{gid} | std::uint64_t{tint} << 32;
    for (std::size_t at = slotOf(key, slots_.size());; at = (at + 1) & (slots_.size() - 1)) {
        Slot& slot = slots_[at];
        if (slot.used && slot.key == key) {
            return slot.placement;
        }
        if (!slot.used) {
            break;
        }
    }
    if (2 * (used_ + 1) > slots_.size()) {
        std::vector<Slot> old(slots_.size() * 2);
        old.swap(slots_);
        for (const Slot& slot : old) {
            if (slot.used) {
                std::size_t at = slotOf(slot.key, slots_.size());
                while (slots_[at].used) {
                    at = (at + 1) & (slots_.size() - 1);
                }
                slots_[at] = slot;
            }
        }
    }
    std::size_t at = slotOf(key, slots_.size());
    while (slots_[at].used) {
        at = (at + 1) & (slots_.size() - 1);
    }
    slots_[at] = Slot{key, true, make(gid, tint)};
    ++used_;
    return slots_[at].placement;
}
