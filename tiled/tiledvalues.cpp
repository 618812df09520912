#include "tiled/tiledvalues.h"

#include "runtime/destination.h"

#include "runtime/limits.h"
#include "runtime/runtimeerror.h"

#include <QDir>
#include <QFileInfo>
#include <QBuffer>
#include <QImageReader>

#include <cmath>
#include <limits>

void InvalidMapFile(const QString& file, const QString& reason) {
    throw RuntimeError(Err::InvalidPicture, reason, file);
}

int MapNumber(const QString& file, const QString& name, const QString& text, int least, int most, int otherwise) {
    if (text.isEmpty()) {
        if (otherwise < least || otherwise > most) {
            InvalidMapFile(file, QStringLiteral("%1 is missing").arg(name));
        }
        return otherwise;
    }
    bool ok = false;
    const qlonglong value = text.trimmed().toLongLong(&ok);
    if (!ok || value < least || value > most) {
        InvalidMapFile(file, QStringLiteral("%1 \"%2\" is not from %3 to %4").arg(name, text.left(20)).arg(least).arg(most));
    }
    return static_cast<int>(value);
}

double MapReal(const QString& file, const QString& name, const QString& text, double otherwise) {
    if (text.isEmpty()) {
        return otherwise;
    }
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    // Beyond a million pixels nothing of a map is drawn on any picture this tool makes.
    if (!ok || !std::isfinite(value) || std::abs(value) > 1e9) {
        InvalidMapFile(file, QStringLiteral("%1 \"%2\" is no number").arg(name, text.left(20)));
    }
    return value;
}

std::uint32_t MapGid(const QString& file, const QString& text) {
    bool ok = false;
    const qulonglong gid = text.trimmed().toULongLong(&ok);
    if (!ok || gid > std::numeric_limits<std::uint32_t>::max()) {
        InvalidMapFile(file, QStringLiteral("\"%1\" is no tile gid").arg(text.left(20)));
    }
    return static_cast<std::uint32_t>(gid);
}

std::optional<QColor> MapColour(const QString& file, const QString& name, const QString& text) {
    if (text.isEmpty()) {
        return std::nullopt;
    }
    const QString hex = text.startsWith('#') ? text.mid(1) : text;
    bool ok = false;
    const uint value = hex.toUInt(&ok, 16);
    if (!ok || (hex.size() != 6 && hex.size() != 8)) {
        InvalidMapFile(file, QStringLiteral("%1 \"%2\" is no colour").arg(name, text.left(20)));
    }
    return QColor::fromRgba(hex.size() == 6 ? (value | 0xFF000000u) : value);
}

TiledText MapText(const QString& file, const std::function<QString(const char*)>& attribute, const QString& text) {
    TiledText result;
    result.text = text;
    if (!attribute("fontfamily").isEmpty()) {
        result.fontFamily = attribute("fontfamily");
    }
    result.pixelSize = MapNumber(file, "pixelsize", attribute("pixelsize"), 1, Limits::TileSide, result.pixelSize);
    // Flags as Tiled reads them: on only for 1, kerning off only for 0.
    result.wrap = attribute("wrap") == "1";
    result.bold = attribute("bold") == "1";
    result.italic = attribute("italic") == "1";
    result.underline = attribute("underline") == "1";
    result.strikeOut = attribute("strikeout") == "1";
    result.kerning = attribute("kerning") != "0";
    result.colour = MapColour(file, "text color", attribute("color")).value_or(result.colour);
    if (!attribute("halign").isEmpty()) {
        result.hAlign = attribute("halign");
    }
    if (!attribute("valign").isEmpty()) {
        result.vAlign = attribute("valign");
    }
    return result;
}

QString PathBeside(const QString& file, const QString& reference) {
    // A linked file's references are relative to where it really lies, as editors read them.
    return QFileInfo(QFileInfo(LinkTarget(file)).absoluteDir().filePath(reference)).absoluteFilePath();
}

std::size_t LayerCells(const QString& file, const QString& layer, qint64 width, qint64 height) {
    if (width < 0 || height < 0 || width > Limits::LayerCells || height > Limits::LayerCells || width * height > Limits::LayerCells) {
        InvalidMapFile(file, QStringLiteral("layer \"%1\" of %2x%3 cells is more than %4 cells")
                                 .arg(layer).arg(width).arg(height).arg(Limits::LayerCells));
    }
    return static_cast<std::size_t>(width * height);
}

void AddTile(const QString& file, TiledTileset& tileset, TiledTile tile) {
    const int id = tile.id;
    if (!tileset.tiles.emplace(id, std::move(tile)).second) {
        InvalidMapFile(file, QStringLiteral("tile id %1 is given twice in tileset \"%2\"").arg(id).arg(tileset.name));
    }
}

int SheetCells(int side, int tile, int margin, int spacing) {
    return side - tile < margin ? 0 : (side - tile - margin) / (tile + spacing) + 1;
}

void CheckSheetHoldsATile(const QString& file, QSize sheet, QSize tile, int margin) {
    if (SheetCells(sheet.width(), tile.width(), margin, 0) == 0 || SheetCells(sheet.height(), tile.height(), margin, 0) == 0) {
        InvalidMapFile(file, QStringLiteral("its image is %1x%2 pixels, too small for one %3x%4 tile inside its margin of %5")
                                 .arg(sheet.width()).arg(sheet.height()).arg(tile.width()).arg(tile.height()).arg(margin));
    }
}

void FinishTileset(const QString& file, TiledTileset& tileset) {
    if (tileset.IsCollection() || tileset.tileCount > 0) {
        return;
    }
    QSize size = tileset.image.size;
    if (size.isEmpty()) {
        size = TiledImageSize(tileset.image);
    }
    if (!size.isValid()) {
        InvalidMapFile(file, tileset.image.source.isEmpty() ? QStringLiteral("the tileset's embedded image is no picture")
                                                            : QStringLiteral("the tileset image %1 is missing or no picture").arg(tileset.image.source));
    }
    tileset.columns = SheetCells(size.width(), tileset.tile.width(), tileset.margin, tileset.spacing);
    tileset.tileCount = tileset.columns * SheetCells(size.height(), tileset.tile.height(), tileset.margin, tileset.spacing);
}

QByteArray EmbeddedImage(const QString& file, const QString& encoding, const QString& text) {
    if (encoding == "base64") {
        const auto decoded = QByteArray::fromBase64Encoding(text.trimmed().toLatin1());
        if (!decoded) {
            InvalidMapFile(file, QStringLiteral("an embedded image is not valid base64"));
        }
        return decoded.decoded;
    }
    if (!encoding.isEmpty()) {
        InvalidMapFile(file, QStringLiteral("an embedded image is in encoding \"%1\", not base64").arg(encoding));
    }
    return text.toLatin1();
}

QRect ImageRect(const QString& file, const QString& x, const QString& y, const QString& width, const QString& height) {
    return QRect(MapNumber(file, "tile x", x, 0, Limits::PictureSide), MapNumber(file, "tile y", y, 0, Limits::PictureSide),
                 MapNumber(file, "tile width", width, 0, Limits::PictureSide), MapNumber(file, "tile height", height, 0, Limits::PictureSide));
}

void RenderSizeAndFill(const QString&, const QString& renderSize, const QString& fillMode, TiledTileset& tileset) {
    // Values Tiled does not know fall back to its defaults, as Tiled reads them.
    tileset.renderAtGridSize = renderSize == "grid";
    tileset.preserveAspect = fillMode == "preserve-aspect-fit";
}

QSize TiledImageSize(const TiledImage& image) {
    if (!image.source.isEmpty()) {
        return QImageReader(image.source).size();
    }
    QBuffer buffer;
    buffer.setData(image.data);
    return QImageReader(&buffer).size();
}
