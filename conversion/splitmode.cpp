#include "conversion/converter.h"

#include "imaging/bitmapfile.h"
#include "imaging/picture.h"
#include "imaging/picturesink.h"
#include "imaging/sheetbands.h"
#include "records/bmpsize.h"
#include "records/tileinfo.h"
#include "runtime/atomicfile.h"
#include "runtime/folderwriter.h"
#include "runtime/messagebox.h"
#include "runtime/numbers.h"
#include "runtime/parallel.h"
#include "runtime/paths.h"
#include "runtime/runtimeerror.h"
#include "runtime/stagingfolder.h"
#include "surfaces/formview.h"

#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <optional>

namespace {


}  // namespace

bool Converter::SplitMode(QString source, QString destination, Picture& canvas) {
    canvas.SetSize(TileSide, TileSide);
    tilesCut_ = 0;
    // Unseen, a new destination is made out of sight and appears when its tiles are all
    // written: the tiles then cost plain creates, and a killed run leaves nothing visible.
    std::optional<StagingFolder> staged;
    if (PathListing(destination, ListingKind::FilesAndFolders).isEmpty()) {
        if (form_.ShowsPictures()) {
            MakeFolder(destination);
        } else {
            RemoveLeftovers(ToFsPath(QFileInfo(QDir::cleanPath(destination)).path()));
            staged.emplace(destination);
        }
    }
    if (PathListing(source, ListingKind::FilesOnly).isEmpty()) {
        MsgBox(QStringLiteral("Source path does not exist!"));
        if (staged) {
            staged->Commit([](const QString&) {});
        }
        return false;
    }
    if (!EndsWithSeparator(destination)) {
        destination += PathSeparator();
    }
    if (!staged) {
        RemoveLeftovers(ToFsPath(destination));
    }

    if (!ImageInfo_) {
        ImageInfo_ = std::make_unique<bmpsize>();
    }
    ImageInfo_->ReadImageInfo(source);

    std::unique_ptr<SheetBands> rows;
    if (!form_.ShowsPictures()) {
        rows = SheetBands::OfPlainBitmap(source);
        // A sheet less than a tile high or wide is cut the window's way, tile by tile.
        if (rows && (rows->Size().width() < TileSide || rows->Size().height() < TileSide)) {
            rows.reset();
        }
    }
    Picture& image = form_.Image(FormView::Pic::pic2);
    if (rows) {
        sheetSize_ = rows->Size();
    } else {
        image.LoadFile(source);
        sheetSize_ = QSize(image.Width(), image.Height());
    }
    // The header reader keeps only 16 bits of each side and reads a top-down bitmap's
    // height as a huge number; the picture has the true size.
    const std::int32_t tilesAcross = sheetSize_.width() / TileSide;
    const std::int32_t tilesDown = sheetSize_.height() / TileSide;

    std::int32_t number = RoundToLong(ParseNumber(form_.Text(FormView::Box::txtStart)));
    // Refused before the first tile, or the sheet would be lost under one.
    RefuseSourceAmongTiles(source, destination, number, std::int64_t{tilesAcross} * tilesDown, QStringLiteral(".bmp"));
    // Read in bands, the sheet is never held whole.
    const auto cut = [&](bool anyThread, const TileWrite& write) {
        return rows ? cutBands(*rows, number, anyThread, write)
                    : cutTiles(image, canvas, tilesAcross, tilesDown, number, write);
    };
    if (staged) {
        number = cut(true, [&](const std::string& name, std::vector<unsigned char>& bytes) {
            staged->Write(name, bytes.data(), bytes.size());
        });
    } else {
        // With a core to spare (the batch program), tiles are written beside the cutting.
        FolderWriter tiles(destination, WorkerCount() > 1 ? WorkerCount() : 0);
        try {
            number = cut(false, [&](const std::string& name, std::vector<unsigned char>& bytes) {
                tiles.Write(name, std::move(bytes));
            });
        } catch (...) {
            // Tiles cut before the failure are written, as they would be one at a time; a tile
            // that fails to write failed first.
            tiles.Finish();
            throw;
        }
        tiles.Finish();
    }

    const auto record = [&](const QString& folder) { WriteTileCount(folder, number); };
    if (staged) {
        staged->Commit(record);
    } else {
        record(destination);
    }
    return true;
}

std::int32_t Converter::cutTiles(const Picture& image, Picture& canvas, std::int32_t tilesAcross, std::int32_t tilesDown,
                                 std::int32_t number, const TileWrite& write) {
    const std::int64_t total = std::int64_t{std::max(tilesAcross, 0)} * std::max(tilesDown, 0);
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
        const int x = TileSide * column;
        const int y = TileSide * row;
        // The first row is cut even from a picture less than a tile high: show the
        // background where the block leaves the picture, not the previous tile.
        if (x + TileSide > image.Width() || y + TileSide > image.Height()) {
            canvas.Image().fill(Picture::Background());
        }
        BitBlt(canvas, 0, 0, TileSide, TileSide, image, x, y);
        form_.Repaint(FormView::Pic::pic);
        form_.DoEvents();
        ++tilesCut_;
        form_.Progress(tilesCut_, total);
        std::vector<unsigned char> bytes;
        EncodeBitmapFile(canvas.Image(), TileSide, TileSide, bytes);
        write(ToFsPath(NumberText(number) + QStringLiteral(".bmp")).string(), bytes);
        number = AddLong(number, 1);
    }
    return number;
}

std::int32_t Converter::cutBands(SheetBands& sheet, std::int32_t number, bool anyThread, const TileWrite& write) {
    const int across = sheet.Size().width() / TileSide;
    const int down = sheet.Size().height() / TileSide;
    const std::int64_t total = std::int64_t{across} * down;
    // Tiles numbered up to 2147483647 are written; then the next number overflows, as it
    // does one tile at a time.
    const std::int64_t fit = std::min<std::int64_t>(total, std::int64_t{std::numeric_limits<std::int32_t>::max()} - number + 1);
    const int bandRows = std::min(BandRows(std::int64_t{across} * TileSide * 3, TileSide) / TileSide, std::max(down, 1));
    auto cut = [&](const QImage& band, int top, std::int64_t k) {
        const int column = static_cast<int>(k % across);
        const int row = static_cast<int>(k / across) - top;
        const QImage tile(band.constBits() + band.bytesPerLine() * row * TileSide + std::size_t{3} * TileSide * column,
                          TileSide, TileSide, band.bytesPerLine(), band.format());
        thread_local std::vector<unsigned char> bytes;
        EncodeBitmapFile(tile, TileSide, TileSide, bytes);
        write(ToFsPath(NumberText(static_cast<double>(number + k)) + QStringLiteral(".bmp")).string(), bytes);
    };
    ReadAhead(
        (down + bandRows - 1) / bandRows,
        [&](int i) {
            const int top = i * bandRows;
            return sheet.Rows(top * TileSide, std::min(bandRows, down - top) * TileSide);
        },
        [&](int i, QImage& band) {
            const int top = i * bandRows;
            const std::int64_t first = std::int64_t{top} * across;
            const std::int64_t end = std::min(fit, first + std::int64_t{band.height() / TileSide} * across);
            if (anyThread) {
                ParallelFor(static_cast<std::size_t>(std::max<std::int64_t>(0, end - first)),
                            [&](std::size_t j) { cut(band, top, first + static_cast<std::int64_t>(j)); });
            } else {
                for (std::int64_t k = first; k < end; ++k) {
                    cut(band, top, k);
                }
            }
            tilesCut_ += std::max<std::int64_t>(0, end - first);
            form_.Progress(tilesCut_, total);
        });
    if (number + total > std::numeric_limits<std::int32_t>::max()) {
        RaiseError(Err::Overflow);
    }
    return static_cast<std::int32_t>(number + total);
}
