#pragma once

#include <QByteArray>
#include <QString>

#include <set>

// Values in Godot's text resource format (.tscn, .tres).
QByteArray GodotQuoted(const QString& text);
QByteArray GodotNumber(double value);
QByteArray GodotVector(double x, double y);
QByteArray GodotVectorI(int x, int y);
// A node name Godot keeps as it is (none of . : @ / " %), unique among its siblings.
QString GodotNodeName(const QString& name, std::set<QString>& siblings, const QString& fallback);

// Godot's flags of a tile's alternative id in a cell.
namespace GodotFlip {
constexpr int H = 1 << 12;
constexpr int V = 1 << 13;
constexpr int Transpose = 1 << 14;
}  // namespace GodotFlip
