#pragma once

#include <QString>

// The folder res:// stands for when files are written into folder for Godot: the nearest
// one above it (or it) that holds a Godot project, else folder itself.
struct GodotRoot {
    QString folder;        // absolute
    bool project = false;  // it holds project.godot
    // The res:// path of the written folder: "res://" or "res://levels/".
    QString ResPath(const QString& written) const;
};

GodotRoot FindGodotRoot(const QString& folder);
