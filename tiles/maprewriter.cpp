#include "tiles/maprewriter.h"

#include "runtime/wholefile.h"
#include "tiles/tiledvalues.h"

#include <QDir>
#include <QFileInfo>

void RewriteMap(const QString& from, const QString& to, const QString& tileset, const GidMap& gids,
                const TileCensus& census) {
    const bool json = QFileInfo(from).suffix().compare("tmx", Qt::CaseInsensitive) != 0;
    const QByteArray bytes = json ? RewriteTmj(from, to, tileset, gids, census) : RewriteTmx(from, to, tileset, gids, census);
    WriteWholeFile(to, bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QString MovedPath(const QString& from, const QString& to, const QString& reference) {
    if (reference.isEmpty() || QDir::isAbsolutePath(reference)) {
        return reference;
    }
    return QFileInfo(to).absoluteDir().relativeFilePath(PathBeside(from, reference));
}

QByteArray FileBytes(const QString& path) {
    std::vector<unsigned char> data;
    ReadWholeFile(path, data);
    return QByteArray(reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(data.size()));
}
