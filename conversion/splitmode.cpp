#include "conversion/converter.h"

#include "imaging/bitmapfile.h"
#include "imaging/parallel.h"
#include "imaging/picture.h"
#include "records/bmpsize.h"
#include "records/tileinfo.h"
#include "runtime/atomicfile.h"
#include "runtime/folderwriter.h"
#include "runtime/messagebox.h"
#include "runtime/numbers.h"
#include "runtime/paths.h"
#include "runtime/runtimeerror.h"
#include "surfaces/formview.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

namespace {

constexpr int kTile = 32;

}  // namespace

bool Converter::SplitMode(QString source, QString destination, Picture& canvas) {
    canvas.SetSize(kTile, kTile);
    if (PathListing(destination, ListingKind::FilesAndFolders).isEmpty()) {
        MakeFolder(destination);
    }
    if (PathListing(source, ListingKind::FilesOnly).isEmpty()) {
        MsgBox(QStringLiteral("Source path does not exist!"));
        return false;
    }
    if (!EndsWithSeparator(destination)) {
        destination += PathSeparator();
    }
    RemoveLeftovers(ToFsPath(destination));

    if (!ImageInfo_) {
        ImageInfo_ = std::make_unique<bmpsize>();
    }
    ImageInfo_->ReadImageInfo(source);

    Picture& image = form_.Image(FormView::Pic::pic2);
    image.LoadFile(source);
    // The header reader keeps only 16 bits of each side and reads a top-down bitmap's
    // height as a huge number; the loaded picture has the true size.
    const std::int32_t tilesAcross = image.Width() / kTile;
    const std::int32_t tilesDown = image.Height() / kTile;

    std::int32_t number = RoundToLong(ParseNumber(form_.Text(FormView::Box::txtStart)));
    // Refused before the first tile, or the sheet would be lost under one.
    RefuseSourceAmongTiles(source, destination, number, std::int64_t{tilesAcross} * tilesDown, QStringLiteral(".bmp"));
    // With a core to spare (the batch program), tiles are written beside the cutting.
    FolderWriter tiles(destination, WorkerCount() > 1 ? WorkerCount() : 0);
    try {
        number = cutTiles(image, canvas, tilesAcross, tilesDown, number, tiles);
    } catch (...) {
        // Tiles cut before the failure are written, as they would be one at a time; a tile
        // that fails to write failed first.
        tiles.Finish();
        throw;
    }
    tiles.Finish();

    // A count that is not recorded would make a later Compile draw the wrong tiles.
    if (!WriteVar(destination + QStringLiteral("info.ini"), QStringLiteral("MAIN"), QStringLiteral("NumFiles"),
                  NumberText(number))) {
        RaiseErrno(errno);
    }
    return true;
}

std::int32_t Converter::cutTiles(const Picture& image, Picture& canvas, std::int32_t tilesAcross, std::int32_t tilesDown,
                                 std::int32_t number, FolderWriter& tiles) {
    std::int32_t column = -1;
    std::int32_t row = 0;
    for (;;) {
        ++column;
        if (column >= tilesAcross) {
            column = 0;
            ++row;
            if (row >= tilesDown) {
                break;
            }
        }
        const int x = kTile * column;
        const int y = kTile * row;
        // The first row is cut even from a picture less than a tile high: show the
        // background where the block leaves the picture, not the previous tile.
        if (x + kTile > image.Width() || y + kTile > image.Height()) {
            canvas.Image().fill(Picture::Background());
        }
        BitBlt(canvas, 0, 0, kTile, kTile, image, x, y);
        form_.Repaint(FormView::Pic::pic);
        form_.DoEvents();
        std::vector<unsigned char> bytes;
        EncodeBitmapFile(canvas.Image(), kTile, kTile, bytes);
        tiles.Write(ToFsPath(NumberText(number) + QStringLiteral(".bmp")).string(), std::move(bytes));
        number = AddLong(number, 1);
    }
    return number;
}
