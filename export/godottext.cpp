#include "export/godottext.h"

#include <QRegularExpression>

QByteArray GodotQuoted(const QString& text) {
    QString escaped = text;
    escaped.replace('\\', QStringLiteral("\\\\")).replace('"', QStringLiteral("\\\"")).replace('\n', QStringLiteral("\\n"));
    return '"' + escaped.toUtf8() + '"';
}

QByteArray GodotNumber(double value) { return QByteArray::number(value, 'g', 9); }

QByteArray GodotVector(double x, double y) { return "Vector2(" + GodotNumber(x) + ", " + GodotNumber(y) + ")"; }

QString GodotNodeName(const QString& name, std::set<QString>& siblings, const QString& fallback) {
    QString plain = name;
    plain.replace(QRegularExpression(QStringLiteral("[.:@/\"%]")), QStringLiteral("_"));
    if (plain.isEmpty()) {
        plain = fallback;
    }
    QString unique = plain;
    for (int n = 2; !siblings.insert(unique).second; ++n) {
        unique = QStringLiteral("%1%2").arg(plain).arg(n);
    }
    return unique;
}

QByteArray GodotVectorI(int x, int y) { return "Vector2i(" + QByteArray::number(x) + ", " + QByteArray::number(y) + ")"; }
