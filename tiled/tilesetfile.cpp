#include "tiled/tilesetfile.h"

#include "tiled/xmlfile.h"

#include <QDir>
#include <QFileInfo>
#include <QXmlStreamWriter>

#include <functional>

namespace {
// The tileset element with what both kinds share; body adds the images.
void writeTileset(const QString& tsxPath, QSize tile, int tileCount, int columns, const TileGrid* grid,
                  const std::function<void(QXmlStreamWriter&, const QDir&)>& body) {
    WriteXmlFile(tsxPath, [&](QXmlStreamWriter& xml) {
        xml.writeStartElement("tileset");
        xml.writeAttribute("version", "1.8");
        xml.writeAttribute("name", QFileInfo(tsxPath).completeBaseName());
        xml.writeAttribute("tilewidth", QString::number(tile.width()));
        xml.writeAttribute("tileheight", QString::number(tile.height()));
        if (grid != nullptr && grid->Spacing() != 0) {
            xml.writeAttribute("spacing", QString::number(grid->Spacing()));
        }
        if (grid != nullptr && grid->Margin() != 0) {
            xml.writeAttribute("margin", QString::number(grid->Margin()));
        }
        xml.writeAttribute("tilecount", QString::number(tileCount));
        xml.writeAttribute("columns", QString::number(columns));
        body(xml, QFileInfo(tsxPath).absoluteDir());
        xml.writeEndElement();
    });
}

void writeImage(QXmlStreamWriter& xml, const QDir& base, const QString& path, QSize size) {
    xml.writeStartElement("image");
    xml.writeAttribute("source", base.relativeFilePath(QFileInfo(path).absoluteFilePath()));
    xml.writeAttribute("width", QString::number(size.width()));
    xml.writeAttribute("height", QString::number(size.height()));
    xml.writeEndElement();
}
}  // namespace

void WriteSheetTileset(const QString& tsxPath, const TileGrid& grid, int tileCount, int columns,
                       const QString& imagePath, QSize imageSize, const std::function<void(QXmlStreamWriter&)>& more) {
    writeTileset(tsxPath, grid.Tile(), tileCount, columns, &grid, [&](QXmlStreamWriter& xml, const QDir& base) {
        writeImage(xml, base, imagePath, imageSize);
        if (more) {
            more(xml);
        }
    });
}

void WriteCollectionTileset(const QString& tsxPath, QSize tile, const QStringList& imagePaths) {
    writeTileset(tsxPath, tile, static_cast<int>(imagePaths.size()), 0, nullptr, [&](QXmlStreamWriter& xml, const QDir& base) {
        xml.writeStartElement("grid");
        xml.writeAttribute("orientation", "orthogonal");
        xml.writeAttribute("width", "1");
        xml.writeAttribute("height", "1");
        xml.writeEndElement();
        for (qsizetype id = 0; id < imagePaths.size(); ++id) {
            xml.writeStartElement("tile");
            xml.writeAttribute("id", QString::number(id));
            writeImage(xml, base, imagePaths[id], tile);
            xml.writeEndElement();
        }
    });
}
