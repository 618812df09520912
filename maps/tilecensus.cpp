#include "maps/tilecensus.h"

#include "runtime/runtimeerror.h"

TileCensus::Kind::Kind(QSize tile, bool flips)
    : exact(tile, QImage::Format_RGBA8888, false), oriented(tile, QImage::Format_RGBA8888, flips) {}

TileCensus::TileCensus(QSize tile, bool flips) : size_(tile), flips_(flips) {}

TileIndex::Placement TileCensus::Use(TileRef ref, const QImage& pixels, const QByteArray& metadata, bool orientable, bool turnable) {
    if (const auto known = placed_.find(refKey(ref)); known != placed_.end()) {
        return known->second;
    }
    if (pixels.size() != size_) {
        throw RuntimeError(Err::InvalidPicture, QStringLiteral("a tile of %1x%2 pixels among tiles of %3x%4")
                                                    .arg(pixels.width())
                                                    .arg(pixels.height())
                                                    .arg(size_.width())
                                                    .arg(size_.height()));
    }
    const QImage tile = pixels.format() == QImage::Format_RGBA8888 ? pixels : pixels.convertToFormat(QImage::Format_RGBA8888);
    if (tile.isNull()) {
        RaiseError(Err::OutOfMemory);
    }
    auto& kind = kinds_[metadata];
    if (!kind) {
        kind = std::make_unique<Kind>(size_, flips_);
    }
    ++counts_.used;
    TileIndex::Placement found = kind->exact.Find(tile, kind->exact.Key(tile));
    if (found.id < 0 && flips_ && orientable) {
        found = kind->oriented.Find(tile, kind->oriented.Key(tile), turnable ? GidFlag::Flips : GidFlag::Horizontal | GidFlag::Vertical);
    }
    TileIndex::Placement placement;
    if (found.id >= 0) {
        placement = {kind->ids[static_cast<std::size_t>(found.id)], found.flips};
        ++(found.flips == 0 ? counts_.merged : counts_.flipped);
    } else {
        placement.id = Count();
        kind->exact.Add(tile);
        if (flips_) {
            kind->oriented.Add(tile);
        }
        kind->ids.push_back(placement.id);
        tiles_.push_back(tile);
        sources_.push_back(ref);
    }
    placed_.emplace(refKey(ref), placement);
    return placement;
}

std::optional<TileIndex::Placement> TileCensus::Find(TileRef ref) const {
    const auto known = placed_.find(refKey(ref));
    return known == placed_.end() ? std::nullopt : std::optional(known->second);
}
