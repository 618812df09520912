#include "tiles/tilesetreader.h"

#include "imaging/picturefile.h"
#include "runtime/runtimeerror.h"
#include "runtime/wholefile.h"
#include "tiles/tilegrid.h"

#include <QDir>
#include <QFileInfo>
#include <QXmlStreamReader>

#include <map>

namespace {
[[noreturn]] void invalid(const QString& path, const QString& reason) {
    throw RuntimeError(Err::InvalidPicture, QStringLiteral("%1: %2").arg(path, reason), path);
}

int number(const QString& path, const QXmlStreamAttributes& a, const char* name, int least, int most) {
    bool ok = false;
    const int value = a.value(name).toInt(&ok);
    if (!ok || value < least || value > most) {
        invalid(path, QStringLiteral("%1 \"%2\" is not from %3 to %4").arg(name, a.value(name)).arg(least).arg(most));
    }
    return value;
}
}  // namespace

TilesetReader::TilesetReader(const QString& tsxPath) : path_(tsxPath) {
    std::vector<unsigned char> data;
    ReadWholeFile(tsxPath, data);
    QXmlStreamReader xml(QByteArray(reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(data.size())));
    const QDir base = QFileInfo(tsxPath).absoluteDir();
    std::map<int, QString> byId;
    int tileId = -1;
    bool sawTileset = false;
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::EndElement && xml.name() == u"tile") {
            tileId = -1;
        }
        if (xml.tokenType() != QXmlStreamReader::StartElement) {
            continue;
        }
        const QXmlStreamAttributes a = xml.attributes();
        if (xml.name() == u"tileset") {
            sawTileset = true;
            tile_ = QSize(number(tsxPath, a, "tilewidth", 1, TileGrid::MaxSide), number(tsxPath, a, "tileheight", 1, TileGrid::MaxSide));
            margin_ = a.hasAttribute("margin") ? number(tsxPath, a, "margin", 0, TileGrid::MaxSide) : 0;
            spacing_ = a.hasAttribute("spacing") ? number(tsxPath, a, "spacing", 0, TileGrid::MaxSide) : 0;
            columns_ = number(tsxPath, a, "columns", 0, 1 << 17);
            count_ = number(tsxPath, a, "tilecount", 0, 1 << 26);
            collection_ = columns_ == 0;
        } else if (xml.name() == u"tile") {
            tileId = number(tsxPath, a, "id", 0, (1 << 26) - 1);
        } else if (xml.name() == u"image") {
            const QString source = QFileInfo(base.filePath(a.value("source").toString())).absoluteFilePath();
            if (!collection_) {
                sources_ = {source};
            } else if (tileId >= 0) {
                byId[tileId] = source;
            }
        }
    }
    if (xml.hasError() || !sawTileset) {
        invalid(tsxPath, xml.hasError() ? xml.errorString() : QStringLiteral("no tileset"));
    }
    if (collection_) {
        // Ids 0 to n-1 with none missing: new tiles are appended after them.
        for (const auto& [id, source] : byId) {
            if (id != sources_.size()) {
                invalid(tsxPath, QStringLiteral("tile id %1 is missing").arg(sources_.size()));
            }
            sources_ += source;
        }
        count_ = static_cast<std::int32_t>(sources_.size());
    } else if (sources_.isEmpty()) {
        invalid(tsxPath, QStringLiteral("a tileset with columns and no image"));
    }
}

std::vector<QImage> TilesetReader::LoadTiles() const {
    std::vector<QImage> tiles;
    auto check = [&](const QImage& tile, const QString& source) {
        if (tile.size() != tile_) {
            invalid(source, QStringLiteral("%1x%2, the tileset's tiles %3x%4")
                                .arg(tile.width()).arg(tile.height()).arg(tile_.width()).arg(tile_.height()));
        }
    };
    if (collection_) {
        for (const QString& source : sources_) {
            tiles.push_back(LoadPicture(source));
            check(tiles.back(), source);
        }
        return tiles;
    }
    const QImage sheet = LoadPicture(sources_[0]);
    const TileGrid grid(tile_, margin_, spacing_);
    const QSize cells = grid.WholeCells(sheet.size());
    const int columns = std::min(columns_, cells.width());
    for (std::int32_t id = 0; id < count_ && columns > 0 && id / columns < cells.height(); ++id) {
        tiles.push_back(sheet.copy(grid.Cell(id % columns, id / columns)));
    }
    return tiles;
}
