#include "ldtk/ldtkvalues.h"

#include "tiled/tiledvalues.h"

#include <QJsonDocument>

#include <cmath>

QJsonObject ParseLdtkJson(const QString& file, const QByteArray& bytes) {
    QJsonParseError error;
    // Qt's parser refuses documents nested deeper than it can hold; no LDtk file is near that.
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        InvalidMapFile(file, error.error != QJsonParseError::NoError
                                 ? QStringLiteral("invalid JSON: %1 at byte %2").arg(error.errorString()).arg(error.offset)
                                 : QStringLiteral("no LDtk project: no JSON object"));
    }
    return document.object();
}

void LdtkValues::Fail(const QString& reason) const {
    InvalidMapFile(file, where.isEmpty() ? reason : where + QStringLiteral(": ") + reason);
}

int LdtkValues::Whole(const QJsonValue& value, const QString& name, int least, int most, std::optional<int> otherwise) const {
    if ((value.isNull() || value.isUndefined()) && otherwise) {
        return *otherwise;
    }
    const double number = value.toDouble(std::nan(""));
    if (!value.isDouble() || !std::isfinite(number) || number != std::floor(number) || number < least || number > most) {
        Fail(QStringLiteral("%1 is %2, not a whole number from %3 to %4").arg(name, shown(value)).arg(least).arg(most));
    }
    return static_cast<int>(number);
}

double LdtkValues::Real(const QJsonValue& value, const QString& name, double least, double most, double otherwise) const {
    if (value.isNull() || value.isUndefined()) {
        return otherwise;
    }
    const double number = value.toDouble(std::nan(""));
    if (!value.isDouble() || !std::isfinite(number) || number < least || number > most) {
        Fail(QStringLiteral("%1 is %2, not a number from %3 to %4").arg(name, shown(value)).arg(least).arg(most));
    }
    return number;
}

QPoint LdtkValues::Pair(const QJsonValue& value, const QString& name, int side) const {
    const QJsonArray pair = value.toArray();
    if (pair.size() != 2) {
        Fail(QStringLiteral("%1 is not a pair [x, y]").arg(name));
    }
    return QPoint(Whole(pair[0], name, -side, side), Whole(pair[1], name, -side, side));
}

QJsonArray LdtkValues::Array(const QJsonObject& o, const char* key) const {
    const QJsonValue value = o.value(QLatin1String(key));
    if (!value.isArray() && !value.isNull() && !value.isUndefined()) {
        Fail(QStringLiteral("%1 is no list").arg(QLatin1String(key)));
    }
    return value.toArray();
}

std::optional<QColor> LdtkValues::Colour(const QJsonValue& value, const QString& name) const {
    if (!value.isString() || value.toString().isEmpty()) {
        return std::nullopt;
    }
    const QColor colour(value.toString());
    if (!colour.isValid()) {
        Fail(QStringLiteral("%1 \"%2\" is no colour").arg(name, value.toString().left(20)));
    }
    return colour;
}

QString LdtkValues::shown(const QJsonValue& value) {
    if (value.isUndefined() || value.isNull()) {
        return QStringLiteral("missing");
    }
    if (value.isDouble()) {
        return QString::number(value.toDouble(), 'g', 12);
    }
    return value.isString() ? '"' + value.toString().left(20) + '"' : QStringLiteral("no number");
}
