#include "surfaces/modrecs.h"

namespace modRecs {
DDSURFACEDESC2 ddsdTile;
DDSURFACEDESC2 ddsdSprite;
RECT rTileDest;
RECT rTileSrc;
std::unique_ptr<DirectX7> DX;
std::unique_ptr<DirectDraw7> DD;
std::vector<std::int64_t> SpriteLoaded;
SurfaceSlots TileSurf;
SurfaceSlots SpriteSurf;

void Reset() {
    ddsdTile = DDSURFACEDESC2{};
    ddsdSprite = DDSURFACEDESC2{};
    rTileDest = RECT{};
    rTileSrc = RECT{};
    TileSurf.Erase();
    SpriteSurf.Erase();
    SpriteLoaded.clear();
    DD.reset();
    DX.reset();
}
}  // namespace modRecs
