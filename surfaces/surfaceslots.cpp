#include "surfaces/surfaceslots.h"

#include "runtime/runtimeerror.h"

void SurfaceSlots::Resize(std::int32_t upper) {
    if (upper < 0) {
        RaiseError(Err::SubscriptOutOfRange);
    }
    slots_.clear();
    upper_ = upper;
    sized_ = true;
}

void SurfaceSlots::Erase() {
    slots_.clear();
    upper_ = -1;
    sized_ = false;
}

void SurfaceSlots::checkIndex(std::int64_t index) const {
    if (!InBounds(index)) {
        RaiseError(Err::SubscriptOutOfRange);
    }
}

DirectDrawSurface7* SurfaceSlots::At(std::int64_t index) const {
    checkIndex(index);
    const auto found = slots_.find(static_cast<std::int32_t>(index));
    return found == slots_.end() ? nullptr : found->second.get();
}

void SurfaceSlots::Set(std::int64_t index, std::unique_ptr<DirectDrawSurface7> surface) {
    checkIndex(index);
    if (!surface) {
        slots_.erase(static_cast<std::int32_t>(index));
        return;
    }
    slots_[static_cast<std::int32_t>(index)] = std::move(surface);
}

void SurfaceSlots::ReleaseBelow(double bound) {
    std::erase_if(slots_, [bound](const auto& slot) { return slot.first < bound; });
}
