#pragma once

#include "imaging/picturesink.h"

#include <QHash>
#include <QString>

#include <cstdint>

// The numbered tile files of a folder, listed once: tile n is the file whose name is
// NumberText(n) and any picture suffix.
class TileFolder {
public:
    // Where one number has several files, the preferred format's suffix wins, then the
    // other of .png and .bmp, then the first name in order.
    TileFolder(const QString& folder, TileFormat preferred);

    // Full path of tile n; 53 "File not found" naming the tile when there is none.
    QString Path(std::int32_t number) const;

private:
    QString folder_;
    QHash<std::int32_t, QString> names_;
};
