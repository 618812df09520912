#include "commands/tileoptions.h"

QString GridText(const TileGrid& grid) {
    return QStringLiteral("tile %1x%2, margin %3, spacing %4")
        .arg(grid.Tile().width())
        .arg(grid.Tile().height())
        .arg(grid.Margin())
        .arg(grid.Spacing());
}

QString SizeText(QSize size) { return QStringLiteral("%1x%2").arg(size.width()).arg(size.height()); }

QString CountText(std::int64_t count, const QString& noun) {
    return QStringLiteral("%1 %2%3").arg(count).arg(noun, count == 1 ? QString() : QStringLiteral("s"));
}
