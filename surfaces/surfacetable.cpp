#include "surfaces/surfacetable.h"

#include "records/tileinfo.h"
#include "runtime/messagebox.h"
#include "runtime/numbers.h"
#include "runtime/paths.h"
#include "runtime/runtimeerror.h"
#include "surfaces/formview.h"
#include "surfaces/modrecs.h"

namespace {
constexpr std::int32_t ObjectNotSet = 91;

// Creating a surface needs the DirectDraw object of the run.
DirectDraw7& directDraw() {
    if (!modRecs::DD) {
        throw RuntimeError(ObjectNotSet, QStringLiteral("Object variable or With block variable not set"));
    }
    return *modRecs::DD;
}

QString tileName(std::int32_t Num) { return NumberText(Num) + QStringLiteral(".bmp"); }

// Loads the file into the slot and gives it the black source key.
void loadInto(SurfaceSlots& table, std::int32_t Num, const QString& FilePath, const DDSURFACEDESC2& desc) {
    DirectDraw7& dd = directDraw();
    const QString name = tileName(Num);
    try {
        auto surface = dd.CreateSurfaceFromFile(FilePath + name, desc);
        DirectDrawSurface7& loaded = *surface;
        table.Set(Num, std::move(surface));
        loaded.SetColorKey(DDCKEY_SRCBLT, DDCOLORKEY{0, 0});
    } catch (const RuntimeError& failure) {
        // The image layer's own text does not say which of thousands of tiles it failed on.
        throw RuntimeError(failure.Number(), failure.Description() + QStringLiteral(" (tile %1)").arg(name),
                           FilePath + name, failure.Cause());
    }
}
}  // namespace

bool InitSurfaces(FormView& form, const QString& FilePath) {
    // No check for a separator already there: a doubled one reads as one.
    const QString name = FilePath + PathSeparator() + QStringLiteral("info.ini");
    if (!FileExist(name, true)) {
        MsgBox(QStringLiteral("Tilvex converter could not locate your tile information (info.ini) file."));
        return false;
    }
    modRecs::ddsdTile.lFlags = DDSD_CAPS;
    modRecs::ddsdTile.ddsCaps.lCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY;

    form.NumTileSurfs = NumberText(RoundToLong(StrictNumber(ReadTileCount(FilePath))));

    form.TileWidth = NumberText(ParseNumber(form.Text(FormView::Box::txtWidth)));
    if (StrictNumber(form.TileWidth) < 1) {
        form.TileWidth = QStringLiteral("6");
    }

    modRecs::TileSurf.Resize(RoundToLong(StrictNumber(form.NumTileSurfs)));
    return true;
}

void ReadyTileSurface(FormView& form, std::int32_t Num, const QString& FilePath) {
    if (StrictNumber(form.NumTileSurfs) < Num) {
        return;
    }
    // The count bounds Num from above only; a negative tile number must not reach the table.
    if (!modRecs::TileSurf.InBounds(Num)) {
        RaiseError(Err::SubscriptOutOfRange);
    }
    if (modRecs::TileSurf.At(Num) != nullptr) {
        return;
    }
    loadInto(modRecs::TileSurf, Num, FilePath, modRecs::ddsdTile);
}

void ReadTileSurfacesAhead(const std::vector<std::int32_t>& Nums, const QString& FilePath) {
    std::vector<QString> files;
    for (const std::int32_t Num : Nums) {
        if (modRecs::TileSurf.InBounds(Num) && modRecs::TileSurf.At(Num) == nullptr) {
            files.push_back(FilePath + tileName(Num));
        }
    }
    directDraw().ReadAhead(std::move(files));
}

void ReadySpriteSurface(FormView& form, std::int32_t Num, const QString& FilePath) {
    if (Num < 0) {
        return;
    }
    if (StrictNumber(form.NumSpriteSurfs) < Num) {
        return;
    }
    if (static_cast<std::size_t>(Num) >= modRecs::SpriteLoaded.size()) {
        RaiseError(Err::SubscriptOutOfRange);
    }
    if (modRecs::SpriteLoaded[static_cast<std::size_t>(Num)] != 0) {
        return;
    }
    if (modRecs::SpriteSurf.At(Num) != nullptr) {
        return;
    }
    loadInto(modRecs::SpriteSurf, Num, FilePath, modRecs::ddsdSprite);
}

bool FileExist(const QString& FileName, bool /*RAW*/) {
    // Both ways of asking look the name up as given.
    return !PathListing(FileName, ListingKind::FilesOnly).isEmpty();
}
