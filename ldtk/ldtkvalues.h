#pragma once

#include <QColor>
#include <QJsonArray>
#include <QJsonObject>
#include <QPoint>
#include <QString>

#include <optional>

// The JSON of an LDtk file, read with every value checked: a failure is 481 naming the file
// and where in it (level, layer).

// The file's one JSON object.
QJsonObject ParseLdtkJson(const QString& file, const QByteArray& bytes);

class LdtkValues {
public:
    QString file;
    QString where;

    [[noreturn]] void Fail(const QString& reason) const;
    // A whole number from least to most; otherwise where missing, if given.
    int Whole(const QJsonValue& value, const QString& name, int least, int most, std::optional<int> otherwise = std::nullopt) const;
    double Real(const QJsonValue& value, const QString& name, double least, double most, double otherwise) const;
    // [x, y] of whole numbers within ±side.
    QPoint Pair(const QJsonValue& value, const QString& name, int side) const;
    // The list under key; empty where missing.
    QJsonArray Array(const QJsonObject& o, const char* key) const;
    // None where missing or empty.
    std::optional<QColor> Colour(const QJsonValue& value, const QString& name) const;

private:
    static QString shown(const QJsonValue& value);
};
