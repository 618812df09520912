#include "maps/objectpainter.h"

#include "maps/tilepainter.h"

#include <QPainterPath>
#include <QPolygonF>
#include <QTextOption>

#include <algorithm>
#include <atomic>
#include <cmath>

namespace {
// Tiled's object line width in picture pixels, and how far its shadow falls (the width over
// the painter scale, which tmxrasterizer leaves at 1).
constexpr double LineWidth = 2.0;
constexpr double Shadow = 2.0;

QPointF alignment(const QString& name, QSizeF size) {
    const double w = size.width(), h = size.height();
    if (name == "top") return {w / 2, 0};
    if (name == "topright") return {w, 0};
    if (name == "left") return {0, h / 2};
    if (name == "center") return {w / 2, h / 2};
    if (name == "right") return {w, h / 2};
    if (name == "bottom") return {w / 2, h};
    if (name == "bottomright") return {w, h};
    if (name == "topleft") return {0, 0};
    return {0, h};
}

QPen pen(const QColor& colour, double width = LineWidth) {
    QPen result(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    result.setCosmetic(true);
    return result;
}

QBrush fill(QColor colour) {
    colour.setAlpha(50);
    return QBrush(colour);
}

QPolygonF pointsOf(const TiledObject& object) {
    QPolygonF polygon;
    for (const QPointF& point : object.points) {
        polygon << point;
    }
    return polygon;
}

void drawOutline(QPainter& painter, const TiledObject& object, const QPolygonF& polygon) {
    if (object.shape == "polygon") {
        painter.drawPolygon(polygon);
    } else {
        painter.drawPolyline(polygon);
    }
}

// The first point of a polygon or polyline, marked by a dot four times the line's width.
void drawStart(QPainter& painter, const QPolygonF& polygon, const QColor& colour, QPointF shift = QPointF()) {
    if (!polygon.isEmpty()) {
        painter.setPen(pen(colour, 4 * LineWidth));
        painter.drawPoint(polygon.first() + shift);
    }
}

// A polygon or polyline with its shadow shifted by shadow, then in its colour and fill.
void drawShadowedPolygon(QPainter& painter, const TiledObject& object, const QPolygonF& polygon, const QColor& colour, QPointF shadow) {
    painter.setPen(pen(Qt::black));
    drawOutline(painter, object, polygon.translated(shadow));
    drawStart(painter, polygon, Qt::black, shadow);
    painter.setPen(pen(colour));
    painter.setBrush(fill(colour));
    drawOutline(painter, object, polygon);
    drawStart(painter, polygon, colour);
}

// Tiled's point: a pin whose tip is at the painter's origin, with a shadow and a dot.
void drawPin(QPainter& painter, const QColor& colour) {
    constexpr double radius = 10.0, sweep = 235.0, start = 90.0 - sweep / 2;
    QPainterPath path;
    path.moveTo(radius * std::cos(start * M_PI / 180.0), -radius * std::sin(start * M_PI / 180.0));
    path.arcTo(QRectF(-radius, -radius, radius * 2, radius * 2), start, sweep);
    path.lineTo(0, 2 * radius);
    path.closeSubpath();
    painter.translate(0, -2 * radius);
    painter.setPen(pen(Qt::black));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(path.translated(Shadow / 2, Shadow / 2));
    painter.setPen(pen(colour));
    painter.setBrush(fill(colour));
    painter.drawPath(path);
    painter.setBrush(colour);
    const double small = radius / 3.0;
    painter.drawEllipse(QRectF(-small, -small, small * 2, small * 2));
}

Qt::Alignment alignmentOf(const TiledText& text) {
    Qt::Alignment result = text.hAlign == "center"    ? Qt::AlignHCenter
                           : text.hAlign == "right"   ? Qt::AlignRight
                           : text.hAlign == "justify" ? Qt::AlignJustify
                                                      : Qt::AlignLeft;
    result |= text.vAlign == "center" ? Qt::AlignVCenter : text.vAlign == "bottom" ? Qt::AlignBottom : Qt::AlignTop;
    return result;
}
}  // namespace

void ObjectPainter::DrawLayer(QPainter& painter, const TiledLayer& layer, double opacity, QRgb tint) {
    std::vector<const TiledObject*> objects;
    for (const TiledObject& object : layer.objects) {
        objects.push_back(&object);
    }
    if (layer.topDown) {
        std::stable_sort(objects.begin(), objects.end(), [](const TiledObject* a, const TiledObject* b) { return a->position.y() < b->position.y(); });
    }
    const QColor colour = layer.colour.value_or(QColor(Qt::gray));
    const QPainter::CompositionMode mode = painter.compositionMode();
    for (const TiledObject* object : objects) {
        if (!object->visible || object->kind == ObjectKind::Template) {
            continue;
        }
        painter.save();
        painter.setOpacity(opacity * object->opacity);
        // Turned about the object's position on the picture, as tmxrasterizer turns it.
        const QPointF origin = geometry_.PixelToScreen(object->position);
        painter.translate(origin);
        painter.rotate(object->rotation);
        painter.translate(-origin);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::NoBrush);
        if (object->kind == ObjectKind::Tile) {
            painter.setCompositionMode(mode);
            drawTile(painter, *object, tint);
        } else {
            painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
            const bool flat = map_.orientation != "isometric" && map_.orientation != "oblique";
            if (object->kind == ObjectKind::Text) {
                if (flat) {
                    painter.translate(object->position);
                }
                drawText(painter, *object, flat ? QPointF() : geometry_.PixelToScreen(object->position));
            } else if (flat) {
                drawFlat(painter, *object, colour);
            } else if (map_.orientation == "isometric") {
                drawIsometric(painter, *object, colour);
            } else {
                drawOblique(painter, *object, colour);
            }
        }
        painter.restore();
    }
}

void ObjectPainter::drawTile(QPainter& painter, const TiledObject& object, QRgb tint) {
    const QImage& image = tiles_.Plain(frames_(object.gid), tint);
    if (image.isNull()) {
        return;
    }
    const TiledTileset& tileset = *map_.TilesetOf(object.gid)->tileset;
    const QSizeF size = object.size.isEmpty() ? QSizeF(image.size()) : object.size;
    // The tileset's anchor, as Tiled places a tile object.
    const QString& anchor = tileset.objectAlignment;
    painter.translate(geometry_.PixelToScreen(object.position) -
                      alignment(anchor.isEmpty() || anchor == "unspecified" ? geometry_.DefaultAlignment() : anchor, size));
    PaintCell(painter, image, tileset, QPointF(), size, object.gid, geometry_.HexagonalCells());
}

void ObjectPainter::drawFlat(QPainter& painter, const TiledObject& object, const QColor& colour) const {
    painter.translate(object.position);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF shadow(Shadow / 2, Shadow / 2);
    QRectF bounds(QPointF(), object.size);
    QString shape = object.shape;
    // An ellipse flat on one side is drawn as a rectangle, as Tiled draws it.
    if (shape == "ellipse" && ((bounds.width() == 0) != (bounds.height() == 0))) {
        shape = QStringLiteral("rectangle");
    }
    if (shape == "rectangle" || shape == "ellipse") {
        if (bounds.isNull()) {
            bounds = QRectF(-10, -10, 20, 20);
        }
        painter.setPen(pen(Qt::black));
        shape == "ellipse" ? painter.drawEllipse(bounds.translated(shadow)) : painter.drawRect(bounds.translated(shadow));
        painter.setPen(pen(colour));
        painter.setBrush(fill(colour));
        shape == "ellipse" ? painter.drawEllipse(bounds) : painter.drawRect(bounds);
    } else if (shape == "polygon" || shape == "polyline") {
        drawShadowedPolygon(painter, object, pointsOf(object), colour, shadow);
    } else if (shape == "point") {
        drawPin(painter, colour);
    }
}

void ObjectPainter::drawIsometric(QPainter& painter, const TiledObject& object, const QColor& colour) const {
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(pen(Qt::black));
    const QRectF bounds(object.position, object.size);
    const QPolygonF box{geometry_.PixelToScreen(bounds.topLeft()), geometry_.PixelToScreen(bounds.topRight()),
                        geometry_.PixelToScreen(bounds.bottomRight()), geometry_.PixelToScreen(bounds.bottomLeft())};
    if (object.shape == "ellipse") {
        // The ellipse through the diamond transform, inside its box; box and ellipse cast the shadow.
        QPainterPath ellipse;
        ellipse.addEllipse(bounds);
        ellipse = geometry_.ShapeTransform().map(ellipse);
        painter.drawPath(ellipse);
        painter.drawPolygon(box);
        painter.translate(0, -Shadow);
        painter.setPen(pen(colour));
        painter.drawPolygon(box);
        painter.setBrush(fill(colour));
        painter.drawPath(ellipse);
    } else if (object.shape == "rectangle") {
        painter.drawPolygon(box);
        painter.setPen(pen(colour));
        painter.setBrush(fill(colour));
        painter.drawPolygon(box.translated(0, -Shadow));
    } else if (object.shape == "polygon" || object.shape == "polyline") {
        QPolygonF polygon;
        for (const QPointF& point : object.points) {
            polygon << geometry_.PixelToScreen(point + object.position);
        }
        drawOutline(painter, object, polygon);
        drawStart(painter, polygon, Qt::black);
        polygon.translate(0, -Shadow);
        painter.setPen(pen(colour));
        // Tiled fills a polygon here but leaves a polyline's brush empty.
        painter.setBrush(object.shape == "polygon" ? fill(colour) : QBrush());
        drawOutline(painter, object, polygon);
        drawStart(painter, polygon, colour);
    } else if (object.shape == "point") {
        painter.translate(geometry_.PixelToScreen(object.position));
        drawPin(painter, colour);
    }
}

void ObjectPainter::drawOblique(QPainter& painter, const TiledObject& object, const QColor& colour) const {
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF shadow(0, Shadow);
    if (object.shape == "point") {
        painter.translate(geometry_.PixelToScreen(object.position));
        drawPin(painter, colour);
    } else if (object.shape == "rectangle" || object.shape == "ellipse") {
        QRectF bounds(object.position, object.size);
        if (bounds.isNull()) {
            bounds = QRectF(-10, -10, 20, 20);
        }
        QPainterPath path;
        object.shape == "ellipse" ? path.addEllipse(bounds) : path.addRect(bounds);
        path = geometry_.ShapeTransform().map(path);
        painter.setPen(pen(Qt::black));
        painter.drawPath(path.translated(shadow));
        painter.setPen(pen(colour));
        painter.setBrush(fill(colour));
        painter.drawPath(path);
    } else if (object.shape == "polygon" || object.shape == "polyline") {
        QPolygonF polygon;
        for (const QPointF& point : object.points) {
            polygon << geometry_.PixelToScreen(point + object.position);
        }
        drawShadowedPolygon(painter, object, polygon, colour, shadow);
    }
}

namespace {
std::atomic<bool> fontsUsed{false};
}  // namespace

bool ObjectPainter::FontsUsed() { return fontsUsed; }

void ObjectPainter::drawText(QPainter& painter, const TiledObject& object, QPointF corner) const {
    fontsUsed = true;
    const TiledText& text = object.text;
    QFont font(text.fontFamily);
    font.setPixelSize(text.pixelSize);
    font.setBold(text.bold);
    font.setItalic(text.italic);
    font.setUnderline(text.underline);
    font.setStrikeOut(text.strikeOut);
    font.setKerning(text.kerning);
    QTextOption option(alignmentOf(text));
    option.setWrapMode(text.wrap ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::ManualWrap);
    const QRectF box(corner, object.size);
    painter.setFont(font);
    painter.setPen(text.colour);
    auto* canvas = dynamic_cast<QImage*>(painter.device());
    if (canvas == nullptr || canvas->format() != QImage::Format_ARGB32_Premultiplied) {
        painter.drawText(box, text.text, option);
        return;
    }
    // tmxrasterizer's canvas holds colours not premultiplied, yet Qt blends glyphs into it
    // as if they were: the glyphs are drawn apart and blended that way, so text over
    // transparent or translucent pixels comes out as Tiled's does. Underlines and strike
    // lines are filled as other shapes are, over the glyphs.
    const QTransform toCanvas = painter.combinedTransform();
    const QRect area = toCanvas.mapRect(box | painter.boundingRect(box, text.text, option)).toAlignedRect().adjusted(-4, -4, 4, 4) & canvas->rect();
    if (area.isEmpty()) {
        return;
    }
    const auto apart = [&](bool lines) {
        QImage image(area.size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(0u);
        QPainter drawn(&image);
        drawn.setRenderHints(painter.renderHints());
        drawn.setTransform(toCanvas * QTransform::fromTranslate(-area.x(), -area.y()));
        drawn.setOpacity(painter.opacity());
        QFont plain = font;
        plain.setUnderline(lines && text.underline);
        plain.setStrikeOut(lines && text.strikeOut);
        drawn.setFont(plain);
        drawn.setPen(text.colour);
        drawn.drawText(box, text.text, option);
        return image;
    };
    const QImage glyphs = apart(false);
    const QImage withLines = text.underline || text.strikeOut ? apart(true) : glyphs;
    for (int y = 0; y < area.height(); ++y) {
        const auto* from = reinterpret_cast<const QRgb*>(glyphs.constScanLine(y));
        const auto* lined = reinterpret_cast<const QRgb*>(withLines.constScanLine(y));
        // The canvas's own memory, which the painter draws into too: no copy of it.
        auto* to = reinterpret_cast<QRgb*>(const_cast<uchar*>(canvas->constScanLine(area.y() + y))) + area.x();
        for (int x = 0; x < area.width(); ++x) {
            const auto over = [](QRgb top, QRgb under, QRgb keepOf) {
                const int keep = 255 - qAlpha(keepOf);
                const auto blend = [&](int a, int b) { return std::min(255, a + (b * keep + 127) / 255); };
                return qRgba(blend(qRed(top), qRed(under)), blend(qGreen(top), qGreen(under)), blend(qBlue(top), qBlue(under)),
                             blend(qAlpha(top), qAlpha(under)));
            };
            if (lined[x] != from[x]) {
                to[x] = over(lined[x], to[x], lined[x]);
            } else if (from[x] != 0) {
                to[x] = qPremultiply(over(from[x], qUnpremultiply(to[x]), from[x]));
            }
        }
    }
}
