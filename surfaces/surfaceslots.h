#pragma once

#include "surfaces/directdraw.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>

// A table of surfaces with bounds 0 to an upper bound. Only filled slots take memory, so a
// table sized for two billion tiles costs nothing until tiles are loaded. Every index is
// checked: outside the bounds (or before the table is sized) is 9 "Subscript out of range".
class SurfaceSlots {
public:
    bool Sized() const { return sized_; }
    // The upper bound; -1 while the table is unsized.
    std::int32_t UpperBound() const { return sized_ ? upper_ : -1; }
    bool InBounds(std::int64_t index) const { return sized_ && index >= 0 && index <= upper_; }

    // Sizes the table afresh with bounds 0 to upper, releasing every surface and leaving every
    // slot empty. An upper bound below 0 raises 9 and keeps the table as it was.
    void Resize(std::int32_t upper);
    // Back to unsized, releasing every surface.
    void Erase();

    // The surface in a slot, or nullptr when the slot is empty.
    DirectDrawSurface7* At(std::int64_t index) const;
    // Fills a slot, releasing a surface it held.
    void Set(std::int64_t index, std::unique_ptr<DirectDrawSurface7> surface);

    // Empties the slots numbered below bound, releasing their surfaces.
    void ReleaseBelow(double bound);

    std::size_t FilledCount() const { return slots_.size(); }

private:
    void checkIndex(std::int64_t index) const;

    std::unordered_map<std::int32_t, std::unique_ptr<DirectDrawSurface7>> slots_;
    std::int32_t upper_ = -1;
    bool sized_ = false;
};
