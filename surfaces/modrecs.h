#pragma once

#include "surfaces/directdraw.h"
#include "surfaces/surfaceslots.h"

#include <cstdint>
#include <memory>
#include <vector>

// The records shared by the whole program for its lifetime: the image layer objects, the
// two surface descriptions, the two rectangles of a tile copy and the surface tables.
namespace modRecs {
extern DDSURFACEDESC2 ddsdTile;
extern DDSURFACEDESC2 ddsdSprite;
extern RECT rTileDest;
extern RECT rTileSrc;
extern std::unique_ptr<DirectX7> DX;
extern std::unique_ptr<DirectDraw7> DD;
// Ten-thousandths, bounds 0 to size - 1; never sized by the program.
extern std::vector<std::int64_t> SpriteLoaded;
extern SurfaceSlots TileSurf;
extern SurfaceSlots SpriteSurf;

// Every record back to how the program starts (a new session of the batch program, tests).
void Reset();
}  // namespace modRecs
