#include "export/ldtkfields.h"

#include <QColor>
#include <QRegularExpression>
#include <QUuid>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
using Type = LdtkFields::Type;

// The LDtk type of one value, none for a class.
std::optional<Type> typeOf(const TiledProperty& p) {
    if (p.type == "int") {
        bool ok = false;
        const qlonglong value = p.value.toLongLong(&ok);
        const bool fits = ok && value >= std::numeric_limits<std::int32_t>::min() && value <= std::numeric_limits<std::int32_t>::max();
        return fits ? Type::Int : Type::Float;
    }
    if (p.type == "float") {
        return Type::Float;
    }
    if (p.type == "bool") {
        return Type::Bool;
    }
    if (p.type == "color") {
        return Type::Color;
    }
    if (p.type == "file") {
        return Type::Path;
    }
    if (p.type == "object") {
        return Type::EntityRef;
    }
    if (p.type == "class") {
        return std::nullopt;
    }
    return p.value.contains('\n') ? Type::Text : Type::String;
}

Type widened(Type had, Type met) {
    if (had == met) {
        return had;
    }
    const auto numeric = [](Type t) { return t == Type::Int || t == Type::Float; };
    if (numeric(had) && numeric(met)) {
        return Type::Float;
    }
    return had == Type::Text || met == Type::Text ? Type::Text : Type::String;
}

QString typeName(Type type) {
    switch (type) {
    case Type::Int: return QStringLiteral("Int");
    case Type::Float: return QStringLiteral("Float");
    case Type::Bool: return QStringLiteral("Bool");
    case Type::String: case Type::Text: return QStringLiteral("String");
    case Type::Color: return QStringLiteral("Color");
    case Type::Path: return QStringLiteral("FilePath");
    case Type::EntityRef: return QStringLiteral("EntityRef");
    case Type::Tile: return QStringLiteral("Tile");
    }
    return QString();
}

QString internalName(Type type) {
    switch (type) {
    case Type::Int: return QStringLiteral("F_Int");
    case Type::Float: return QStringLiteral("F_Float");
    case Type::Bool: return QStringLiteral("F_Bool");
    case Type::String: return QStringLiteral("F_String");
    case Type::Text: return QStringLiteral("F_Text");
    case Type::Color: return QStringLiteral("F_Color");
    case Type::Path: return QStringLiteral("F_Path");
    case Type::EntityRef: return QStringLiteral("F_EntityRef");
    case Type::Tile: return QStringLiteral("F_Tile");
    }
    return QString();
}

QJsonObject editorValue(const char* id, const QJsonValue& value) { return QJsonObject{{"id", id}, {"params", QJsonArray{value}}}; }

// A value as LDtk exports it (__value) and keeps it (one of realEditorValues); null for none.
std::pair<QJsonValue, QJsonValue> value(const LdtkFields::Def& def, const QString& text, const LdtkFields::Context& context) {
    const QJsonValue none(QJsonValue::Null);
    switch (def.type) {
    case Type::Int: return {text.toInt(), editorValue("V_Int", text.toInt())};
    case Type::Float: {
        const double number = text.toDouble();
        return std::isfinite(number) ? std::pair{QJsonValue(number), QJsonValue(editorValue("V_Float", number))} : std::pair{none, none};
    }
    case Type::Bool: return {text == "true", editorValue("V_Bool", text == "true")};
    case Type::Color: {
        const QColor colour(text);
        if (text.isEmpty() || !colour.isValid()) {
            return {none, none};
        }
        return {colour.name(QColor::HexRgb).toUpper(), editorValue("V_Int", static_cast<int>(colour.rgb() & 0xFFFFFFu))};
    }
    case Type::Path: {
        if (text.isEmpty()) {
            return {none, none};
        }
        const QString path = LdtkEscaped(context.path ? context.path(text) : text);
        return {path, editorValue("V_String", path)};
    }
    case Type::EntityRef: {
        const QJsonObject ref = context.entity ? context.entity(text.toInt()) : QJsonObject();
        return ref.isEmpty() ? std::pair{none, none} : std::pair{QJsonValue(ref), QJsonValue(editorValue("V_String", ref["entityIid"]))};
    }
    case Type::Tile: {
        if (!context.tile) {
            return {none, none};
        }
        const QRect r = *context.tile;
        return {QJsonObject{{"tilesetUid", def.tileset}, {"x", r.x()}, {"y", r.y()}, {"w", r.width()}, {"h", r.height()}},
                editorValue("V_String", QStringLiteral("%1,%2,%3,%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()))};
    }
    case Type::String: case Type::Text: break;
    }
    return {LdtkEscaped(text), editorValue("V_String", LdtkEscaped(text))};
}
}  // namespace

QString LdtkIdentifier(const QString& name) {
    QString plain = name;
    plain.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_]+")), QStringLiteral("_"));
    if (plain.isEmpty() || plain[0].isDigit()) {
        plain.prepend('_');
    }
    return plain;
}

QString LdtkCapitalized(const QString& name) {
    QString plain = LdtkIdentifier(name);
    plain[0] = plain[0].toUpper();
    return plain;
}

QString LdtkEscaped(const QString& text) {
    QString escaped = text;
    return escaped.replace('\\', QStringLiteral("\\\\")).replace('\n', QStringLiteral("\\n"));
}

QString LdtkIid(const QString& what) {
    static const QUuid space(QStringLiteral("{6f1f3c52-7d0e-4c4e-9a55-2f1e0c8d4b11}"));
    return QUuid::createUuidV5(space, what).toString(QUuid::WithoutBraces);
}

QString LdtkUnique(const QString& wanted, std::set<QString>& taken) {
    QString name = wanted;
    for (int n = 2; !taken.insert(name.toLower()).second; ++n) {
        name = QStringLiteral("%1_%2").arg(wanted).arg(n);
    }
    return name;
}

void LdtkFields::Add(const std::vector<TiledProperty>& properties, ExportCounts& counts) {
    for (const TiledProperty& p : properties) {
        const std::optional<Type> type = typeOf(p);
        if (!type) {
            ++counts.propertiesLeftOut;
            continue;
        }
        auto def = std::find_if(defs_.begin(), defs_.end(), [&](const Def& d) { return d.property == p.name && d.type != Type::Tile; });
        if (def == defs_.end()) {
            defs_.push_back({LdtkUnique(LdtkIdentifier(p.name), taken_), p.name, *type});
        } else {
            def->type = widened(def->type, *type);
        }
    }
}

void LdtkFields::AddTile(int tileset) {
    if (std::none_of(defs_.begin(), defs_.end(), [](const Def& d) { return d.type == Type::Tile; })) {
        defs_.push_back({LdtkUnique(QStringLiteral("tile"), taken_), QString(), Type::Tile, tileset});
    }
}

void LdtkFields::Number(int& next) {
    for (Def& def : defs_) {
        def.uid = next++;
    }
}

QJsonArray LdtkFields::Definitions() const {
    QJsonArray array;
    for (const Def& def : defs_) {
        const QJsonValue none(QJsonValue::Null);
        // A tile object's own tile is what LDtk draws for the entity.
        const QString display = def.type == Type::Tile ? QStringLiteral("EntityTile")
                                : def.type == Type::EntityRef ? QStringLiteral("RefLinkBetweenPivots")
                                                              : QStringLiteral("NameAndValue");
        array.append(QJsonObject{{"identifier", def.identifier},
                                 {"doc", none},
                                 {"__type", typeName(def.type)},
                                 {"uid", def.uid},
                                 {"type", internalName(def.type)},
                                 {"isArray", false},
                                 {"canBeNull", true},
                                 {"arrayMinLength", none},
                                 {"arrayMaxLength", none},
                                 {"editorDisplayMode", display},
                                 {"editorDisplayScale", 1},
                                 {"editorDisplayPos", "Above"},
                                 {"editorLinkStyle", "StraightArrow"},
                                 {"editorDisplayColor", none},
                                 {"editorAlwaysShow", false},
                                 {"editorShowInWorld", true},
                                 {"editorCutLongValues", true},
                                 {"editorTextSuffix", none},
                                 {"editorTextPrefix", none},
                                 {"useForSmartColor", false},
                                 {"exportToToc", false},
                                 {"searchable", false},
                                 {"min", none},
                                 {"max", none},
                                 {"regex", none},
                                 {"acceptFileTypes", none},
                                 {"defaultOverride", none},
                                 {"textLanguageMode", none},
                                 {"symmetricalRef", false},
                                 {"autoChainRef", false},
                                 {"allowOutOfLevelRef", true},
                                 {"allowedRefs", "Any"},
                                 {"allowedRefsEntityUid", none},
                                 {"allowedRefTags", QJsonArray()},
                                 {"tilesetUid", def.type == Type::Tile ? QJsonValue(def.tileset) : none}});
    }
    return array;
}

QJsonArray LdtkFields::Instances(const std::vector<TiledProperty>& properties, const Context& context) const {
    QJsonArray array;
    for (const Def& def : defs_) {
        std::pair<QJsonValue, QJsonValue> v{QJsonValue::Null, QJsonValue::Null};
        if (def.type == Type::Tile) {
            v = value(def, QString(), context);
        } else {
            const auto p = std::find_if(properties.begin(), properties.end(), [&](const TiledProperty& q) { return q.name == def.property; });
            if (p != properties.end() && typeOf(*p)) {
                v = value(def, p->value, context);
            }
        }
        array.append(QJsonObject{{"__identifier", def.identifier},
                                 {"__type", typeName(def.type)},
                                 {"__value", v.first},
                                 {"__tile", def.type == Type::Tile ? v.first : QJsonValue::Null},
                                 {"defUid", def.uid},
                                 {"realEditorValues", QJsonArray{v.second}}});
    }
    return array;
}
