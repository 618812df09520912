#include "conversion/converter.h"

#include "imaging/picture.h"
#include "records/bmpsize.h"
#include "records/errorlog.h"
#include "runtime/limits.h"
#include "runtime/messagebox.h"
#include "runtime/numbers.h"
#include "runtime/paths.h"
#include "runtime/runtimeerror.h"
#include "surfaces/formview.h"

#include <algorithm>
#include <memory>
#include <new>

namespace {
// The last four characters, or the whole text when it is shorter.
QString lastFour(const QString& text) { return text.right(4); }
}  // namespace

Converter::Converter(FormView& form) : form_(form) {}

Converter::~Converter() = default;

void Converter::Command1_Click() {
    if (running_) {
        return;
    }
    running_ = true;
    const std::unique_ptr<bool, void (*)(bool*)> done(&running_, [](bool* running) { *running = false; });
    using Box = FormView::Box;
    form_.TileWidth = NumberText(ParseNumber(form_.Text(Box::txtWidth)));
    // A row of no tiles, or fewer, is a canvas of no width.
    const double canvasWidth = std::max(0.0, StrictNumber(form_.TileWidth) * TileSide);
    if (canvasWidth > Limits::PictureSide) {
        MsgBox(QStringLiteral("Width is too large: a sheet holds at most %1 tiles per row.")
                   .arg(Limits::PictureSide / TileSide));
        return;
    }
    form_.Image(FormView::Pic::picBack).SetWidth(canvasWidth);

    const QString source = form_.Text(Box::ipath);
    if (source.isEmpty()) {
        MsgBox(QStringLiteral("Source path can not be blank!"));
        return;
    }
    if (form_.Text(Box::spath).isEmpty()) {
        MsgBox(QStringLiteral("Destination path can not be blank!"));
        return;
    }
    const bool compile = form_.CompileSelected();
    const bool isBmp = lastFour(source) == QStringLiteral(".bmp");
    if (compile && isBmp) {
        MsgBox(QStringLiteral("Source path should be a folder not an image."));
        return;
    }
    if (!compile && !isBmp) {
        MsgBox(QStringLiteral("Source path should be a .bmp image."));
        return;
    }
    if (compile && !EndsWithSeparator(source)) {
        form_.SetText(Box::ipath, source + PathSeparator());
    }

    form_.ShowAndDoEvents();
    form_.SetConvertButton(false, QStringLiteral("Converting..."));
    Convert(form_.Text(Box::ipath), form_.Text(Box::spath), form_.Image(FormView::Pic::pic));
    form_.SetConvertButton(true, QStringLiteral("Convert"));
}

void Converter::Convert(const QString& source, const QString& destination, Picture& canvas) {
    try {
        const bool finished = form_.SplitSelected() ? SplitMode(source, destination, canvas)
                                                    : CompileMode(source, destination);
        if (finished) {
            form_.SetOuterHeight(2160);
        }
    } catch (const RuntimeError& failure) {
        failed(failure);
    } catch (const std::bad_alloc&) {
        failed(RuntimeError(Err::OutOfMemory, ErrorDescription(Err::OutOfMemory)));
    }
}

void Converter::failed(const RuntimeError& failure) {
    if (logger_) {
        logger_(failure);
    } else {
        LogError(QStringLiteral("frmConverter"), QStringLiteral("Convert"), failure.Number(), failure.Description());
    }
    if (observer_) {
        observer_(failure);
    }
}
