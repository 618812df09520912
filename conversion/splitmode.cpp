#include "conversion/converter.h"

#include "runtime/atomicfile.h"
#include "surfaces/formview.h"
#include "runtime/messagebox.h"
#include "runtime/numbers.h"
#include "runtime/paths.h"
#include "imaging/picture.h"
#include "runtime/runtimeerror.h"
#include "records/bmpsize.h"
#include "records/tileinfo.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

namespace {

constexpr int kTile = 32;

// Whether tiles first, first + 1, ... (count of them) written into folder would replace the
// source itself: its name in that very folder is one of theirs.
bool SourceIsATile(const QString& source, const QString& folder, std::int64_t first, std::int64_t count) {
    const std::filesystem::path sourcePath = ToFsPath(source);
    const std::filesystem::path sourceFolder = sourcePath.has_parent_path() ? sourcePath.parent_path() : ".";
    struct stat a {};
    struct stat b {};
    if (::stat(sourceFolder.c_str(), &a) != 0 || ::stat(ToFsPath(folder).c_str(), &b) != 0 || a.st_dev != b.st_dev ||
        a.st_ino != b.st_ino) {
        return false;
    }
    const QString name = QString::fromStdString(sourcePath.filename().string());
    const QString stem = name.chopped(4);
    bool whole = false;
    const qlonglong number = stem.toLongLong(&whole);
    return name.endsWith(QStringLiteral(".bmp")) && whole && NumberText(static_cast<double>(number)) == stem &&
           number >= first && number < first + count;
}

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

    std::int32_t column = -1;
    std::int32_t row = 0;
    std::int32_t number = RoundToLong(ParseNumber(form_.Text(FormView::Box::txtStart)));
    // Refused before the first tile, or the sheet would be lost under one.
    if (SourceIsATile(source, destination, number, std::int64_t{tilesAcross} * tilesDown)) {
        throw RuntimeError(Err::PathFileAccess,
                           QStringLiteral("%1 (the source would be overwritten by a tile)").arg(ErrorDescription(Err::PathFileAccess)));
    }
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
        canvas.SaveBitmap(destination + NumberText(number) + QStringLiteral(".bmp"));
        number = AddLong(number, 1);
    }

    // A count that is not recorded would make a later Compile draw the wrong tiles.
    if (!WriteVar(destination + QStringLiteral("info.ini"), QStringLiteral("MAIN"), QStringLiteral("NumFiles"),
                  NumberText(number))) {
        RaiseErrno(errno);
    }
    return true;
}
