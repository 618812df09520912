#include "maps/scaledblend.h"

#include "maps/canvasblend.h"

#include <QPaintDevice>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace {
constexpr double FixedScale = 65536.0;
// Qt fetches at most this many pixels of a span at once and starts its steps again after.
constexpr int LongestSpan = 1024;

// The canvas rows and columns the painter fills: the same columns in every row.
struct Spans {
    int left = 0, right = 0, top = 0, bottom = 0;
};

// Without anti-aliasing Qt fills a scaled picture's mapped rectangle with its edges rounded.
Spans scaledSpans(const QTransform& matrix, const QRectF& target, QSize canvas) {
    const QRectF mapped = matrix.mapRect(target);
    return Spans{std::max(qRound(mapped.x()), 0), std::min(qRound(mapped.right()), canvas.width()),
                 std::max(qRound(mapped.y()), 0), std::min(qRound(mapped.bottom()), canvas.height())};
}

bool within64th(double a, double b) {
    return static_cast<int>((b - a) * 64.) == 0;
}

// A quarter-turned picture Qt fills as its rasterizer widens the line through the middles of
// the rectangle's left and right sides, clipped to the canvas first. False where that line
// is not upright, which Qt fills otherwise.
bool turnedSpans(const QTransform& matrix, const QRectF& target, QSize canvas, Spans& spans) {
    const QRectF rect = target.normalized();
    const QPointF a = matrix.map((rect.topLeft() + rect.bottomLeft()) * 0.5f);
    const QPointF b = matrix.map((rect.topRight() + rect.bottomRight()) * 0.5f);
    double width = rect.height() / rect.width();
    const QRect clipRect(QPoint(0, 0), canvas);
    if (a == b || !(width > 0.0)) {
        return true;
    }
    QPointF pa = a, pb = b;
    const QPointF offs = QPointF(qAbs(b.y() - a.y()), qAbs(b.x() - a.x())) * width * 0.5;
    const QRectF clip(clipRect.topLeft() - offs, clipRect.bottomRight() + QPoint(1, 1) + offs);
    // The line cut to the clip as Qt cuts it (the caller keeps to an upright one).
    double &x1 = pa.rx(), &y1 = pa.ry(), &x2 = pb.rx(), &y2 = pb.ry();
    const double xmin = clip.left(), xmax = clip.right(), ymin = clip.top(), ymax = clip.bottom();
    if ((x1 < xmin && x2 <= xmin) || (x1 > xmax && x2 >= xmax)) {
        return true;
    }
    if (x1 < xmin || x1 > xmax || x2 < xmin || x2 > xmax) {
        return false;
    }
    if (y1 < ymin) {
        if (y2 <= ymin) {
            return true;
        }
        x1 += (x2 - x1) / (y2 - y1) * (ymin - y1);
        y1 = ymin;
    } else if (y1 > ymax) {
        if (y2 >= ymax) {
            return true;
        }
        x1 += (x2 - x1) / (y2 - y1) * (ymax - y1);
        y1 = ymax;
    }
    if (y2 < ymin) {
        x2 += (x2 - x1) / (y2 - y1) * (ymin - y2);
        y2 = ymin;
    } else if (y2 > ymax) {
        x2 += (x2 - x1) / (y2 - y1) * (ymax - y2);
        y2 = ymax;
    }
    const QPointF d0 = a - b, d = pa - pb;
    const double w = d.x() * d.x() + d.y() * d.y();
    if (w == 0) {
        return true;
    }
    width *= qSqrt((d0.x() * d0.x() + d0.y() * d0.y()) / w);
    if (within64th(pa.y(), pb.y()) || !within64th(pa.x(), pb.x())) {
        return false;
    }
    if (pa.y() > pb.y()) {
        qSwap(pa, pb);
    }
    const double halfWidth = 0.5f * width * (pb.y() - pa.y());
    const double left = qBound(double(clipRect.left()), pa.x() - halfWidth, double(clipRect.right() + 1));
    const double right = qBound(double(clipRect.left()), pa.x() + halfWidth, double(clipRect.right() + 1));
    pa.ry() = qBound(double(clipRect.top()), pa.y(), double(clipRect.bottom() + 1));
    pb.ry() = qBound(double(clipRect.top()), pb.y(), double(clipRect.bottom() + 1));
    if (within64th(left, right) || within64th(pa.y(), pb.y())) {
        return true;
    }
    spans.top = int(pa.y() + 0.5f);
    spans.bottom = pb.y() < 0.5f ? 0 : int(pb.y() - 0.5f) + 1;
    spans.left = int(left + 0.5f);
    spans.right = right < 0.5f ? 0 : int(right - 0.5f) + 1;
    return true;
}

// The inverse transform as Qt's span data keeps it, which says which source pixel each
// canvas pixel shows.
struct Inverse {
    double m11, m12, m21, m22, dx, dy;
    bool fast;  // small enough for fixed point

    explicit Inverse(const QTransform& t)
        : m11(t.m11()), m12(t.m12()), m21(t.m21()), m22(t.m22()), dx(t.dx()), dy(t.dy()) {
        const double f1 = m11 * m11 + m21 * m21, f2 = m12 * m12 + m22 * m22;
        fast =
            f1 < 1e4 && f2 < 1e4 && f1 > 1.0 / 65536 && f2 > 1.0 / 65536 && qAbs(dx) < 1e4 && qAbs(dy) < 1e4;
    }

    // Whether Qt steps a span in fixed point: its whole run fits in an int.
    bool fixed(double cx, double cy, int length) const {
        if (!fast) {
            return false;
        }
        double fx = (m21 * cy + m11 * cx + dx) * FixedScale, fy = (m22 * cy + m12 * cx + dy) * FixedScale;
        double low = std::min(fx, fy), high = std::max(fx, fy);
        fx += std::trunc(m11 * FixedScale) * length;
        fy += std::trunc(m12 * FixedScale) * length;
        low = std::min(low, std::min(fx, fy));
        high = std::max(high, std::max(fx, fy));
        return low >= std::numeric_limits<int>::min() && high <= std::numeric_limits<int>::max();
    }

    // The source coordinate that changes along a span from canvas column x (its x for a
    // scaled picture, its y for a turned one), the same in every row, clamped to last.
    void along(int x, int length, bool fixed, bool turned, int last, int* out) const {
        const double cx = x + 0.5, m = turned ? m12 : m11, d = turned ? dy : dx;
        if (fixed) {
            const int step = static_cast<int>(m * FixedScale);
            int f = static_cast<int>((m * cx + d) * FixedScale);
            for (int i = 0; i < length; ++i, f += step) {
                out[i] = std::clamp(f >> 16, 0, last);
            }
        } else {
            double f = m * cx + d;
            for (int i = 0; i < length; ++i, f += m) {
                out[i] = std::clamp(static_cast<int>(std::floor(f)), 0, last);
            }
        }
    }

    // The source coordinate that stays all along canvas row y (its y scaled, its x turned).
    int across(int y, bool fixed, bool turned, int last) const {
        const double f = (turned ? m21 : m22) * (y + 0.5) + (turned ? dx : dy);
        return std::clamp(fixed ? static_cast<int>(f * FixedScale) >> 16 : static_cast<int>(std::floor(f)), 0,
                          last);
    }
};

}  // namespace

bool BlendScaled(QPainter& painter, const QTransform& matrix, const QImage& picture, const QRectF& target) {
    QPaintDevice* device = painter.device();
    if (device == nullptr || device->devType() != QInternal::Image || painter.viewTransformEnabled() ||
        painter.hasClipping() || painter.compositionMode() != QPainter::CompositionMode_SourceOver ||
        painter.testRenderHint(QPainter::Antialiasing) ||
        painter.testRenderHint(QPainter::SmoothPixmapTransform) ||
        picture.format() != QImage::Format_ARGB32_Premultiplied ||
        picture.width() * picture.height() < 2) {  // one pixel Qt fills as a colour
        return false;
    }
    const bool turned = matrix.type() == QTransform::TxRotate && matrix.m11() == 0 && matrix.m22() == 0 &&
                        qAbs(matrix.m12()) == qAbs(matrix.m21());
    QImage& canvas = *static_cast<QImage*>(device);
    if ((matrix.type() != QTransform::TxScale && !turned) || canvas.format() != QImage::Format_ARGB32) {
        return false;
    }
    if (target.isEmpty()) {
        return true;
    }
    // The transform from the picture's pixels to the canvas's as Qt's drawImage builds it,
    // inverted after a 1/65536 nudge as its span data is.
    const QSizeF size = picture.size();
    QTransform forward = matrix;
    forward.translate(target.x(), target.y());
    if (target.size() != size) {
        forward.scale(target.width() / size.width(), target.height() / size.height());
    }
    QTransform nudge;
    nudge.translate(1.0 / 65536, 1.0 / 65536);
    const QTransform inverted = (nudge * forward).inverted();
    // Each canvas row then reads one source row (or column, turned) at steps along the other.
    const bool separable =
        turned ? inverted.m11() == 0 && inverted.m22() == 0 : inverted.m12() == 0 && inverted.m21() == 0;
    if (inverted.type() != matrix.type() || !separable) {
        return false;
    }
    Spans spans;
    if (turned) {
        if (!turnedSpans(matrix, target, canvas.size(), spans)) {
            return false;
        }
    } else {
        spans = scaledSpans(matrix, target, canvas.size());
    }
    const int length = spans.right - spans.left;
    if (length <= 0 || spans.top >= spans.bottom) {
        return true;
    }
    if (length > LongestSpan) {
        return false;
    }
    // The source pixels of a row's span are the same in every row (shifted one way for a
    // scaled picture, the other for a turned one); whether Qt steps in fixed point may change.
    // They are gathered at the canvas's size, then laid over the same spans as Qt would have
    // laid them (its 16-bit blend onto ARGB32 rounds by where a pixel falls in the span and by
    // which of its vector paths runs).
    const Inverse inv(inverted);
    const int lastAlong = turned ? picture.height() - 1 : picture.width() - 1;
    const int lastAcross = turned ? picture.width() - 1 : picture.height() - 1;
    const qsizetype sourceLine = picture.bytesPerLine() / 4;
    const qsizetype alongStep = turned ? sourceLine : 1, acrossStep = turned ? 1 : sourceLine;
    std::array<int, LongestSpan> steps;
    std::array<std::ptrdiff_t, LongestSpan> offsets;
    int sampledAs = -1;
    const auto* source = reinterpret_cast<const std::uint32_t*>(picture.constBits());
    const int rows = spans.bottom - spans.top;
    thread_local std::vector<std::uint32_t> gathered;
    gathered.resize(static_cast<std::size_t>(length) * static_cast<std::size_t>(rows));
    // Rows that read the source row the row above read, at the same steps, are its copies: each
    // row is held by the gathered row it copies, and gathered again only where that is needed.
    thread_local std::vector<int> held;
    held.resize(static_cast<std::size_t>(rows));
    const std::size_t bytes = static_cast<std::size_t>(length) * 4;
    std::uint32_t opaque = 0xFF000000u;
    int readRow = -1;
    std::uint32_t* to = gathered.data();
    for (int y = spans.top; y < spans.bottom; ++y, to += length) {
        const bool fixed = inv.fixed(spans.left + 0.5, y + 0.5, length);
        bool resampled = false;
        if (sampledAs != static_cast<int>(fixed)) {
            inv.along(spans.left, length, fixed, turned, lastAlong, steps.data());
            for (int i = 0; i < length; ++i) {
                offsets[i] = steps[i] * alongStep;
            }
            sampledAs = static_cast<int>(fixed);
            resampled = true;
        }
        const int across = inv.across(y, fixed, turned, lastAcross);
        const auto r = static_cast<std::size_t>(y - spans.top);
        if (across == readRow && !resampled) {
            held[r] = held[r - 1];
            continue;
        }
        held[r] = static_cast<int>(r);
        readRow = across;
        const std::uint32_t* from = source + across * acrossStep;
        for (int i = 0; i < length; ++i) {
            to[i] = from[offsets[i]];
            opaque &= to[i];
        }
    }
    const auto pixels = [&](int r) {
        return gathered.data() + static_cast<std::size_t>(held[static_cast<std::size_t>(r)]) * length;
    };
    const qsizetype line = canvas.bytesPerLine() / 4;
    auto* const first = reinterpret_cast<std::uint32_t*>(canvas.bits()) + spans.top * line + spans.left;
    // Opaque pixels at full opacity replace the canvas's in every path of Qt's.
    if (opaque == 0xFF000000u && painter.opacity() == 1.0) {
        std::uint32_t* row = first;
        for (int r = 0; r < rows; ++r, row += line) {
            std::memcpy(row, pixels(r), bytes);
        }
        return true;
    }
    // The gathered rows from first to end, over the canvas by the painter at their own size,
    // which blends them as the scaled drawing does; the rows it reads gathered first.
    const auto paint = [&](int from, int end) {
        for (int r = from; r < end; ++r) {
            if (held[static_cast<std::size_t>(r)] != r) {
                std::memcpy(gathered.data() + static_cast<std::size_t>(r) * length, pixels(r), bytes);
                held[static_cast<std::size_t>(r)] = r;
            }
        }
        const QImage laid(reinterpret_cast<const uchar*>(gathered.data() + static_cast<std::size_t>(from) * length),
                          length, end - from, length * 4, QImage::Format_ARGB32_Premultiplied);
        const QTransform kept = painter.worldTransform();
        painter.setWorldTransform(QTransform());
        painter.drawImage(QPoint(spans.left, spans.top + from), laid);
        painter.setWorldTransform(kept);
    };
    // Each canvas row is one of Qt's spans, so a row laid by hand as Qt lays it is the same; and
    // a row of the same pixels over the same canvas pixels as the row above (an enlarged tile's
    // rows over an enlarged map's) comes out as that row did. Rows with many pixels to sum are
    // left to the painter, in runs.
    if (painter.opacity() >= 1.0 / 256) {
        thread_local std::vector<std::uint32_t> under;
        under.resize(static_cast<std::size_t>(length));
        int painted = -1;  // the first row of a run left to the painter
        std::uint32_t* row = first;
        for (int r = 0; r < rows; ++r, row += line) {
            if (held[static_cast<std::size_t>(r)] != r) {
                if (painted >= 0) {
                    paint(painted, r);
                    painted = -1;
                }
                if (std::memcmp(row, under.data(), bytes) == 0) {
                    std::memcpy(row, row - line, bytes);
                    continue;
                }
            }
            std::memcpy(under.data(), row, bytes);
            if (!BlendCanvasRow(pixels(r), row, length, painter.opacity(), length / 4)) {
                painted = painted < 0 ? r : painted;
            } else if (painted >= 0) {
                paint(painted, r);
                painted = -1;
            }
        }
        if (painted >= 0) {
            paint(painted, rows);
        }
        return true;
    }
    paint(0, rows);
    return true;
}
