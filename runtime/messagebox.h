#pragma once

#include <QString>

#include <functional>

// The application's title, the caption of every message box.
QString AppTitle();

// Shows a modal message box with only an OK button. Every message goes through here.
void MsgBox(const QString& text);

// Replaces what MsgBox does (tests and headless front ends record the text instead);
// an empty handler restores the shown box.
using MessageBoxHandler = std::function<void(const QString&)>;
void SetMessageBoxHandler(MessageBoxHandler handler);

// The box that MsgBox shows while no handler is set; the window installs a real one. Without
// either, the text goes to stderr.
void SetShownMessageBox(MessageBoxHandler shown);
