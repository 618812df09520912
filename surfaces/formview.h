#pragma once

#include <QString>

class Picture;

// What the conversion code may touch of the converter window. The Qt window implements it;
// tests and headless front ends implement it without widgets.
class FormView {
public:
    enum class Box { ipath, spath, txtStart, txtWidth };
    enum class Pic { pic, pic2, picBack };

    virtual ~FormView() = default;

    virtual QString Text(Box box) const = 0;
    virtual void SetText(Box box, const QString& text) = 0;

    // The value of the option buttons: true when selected.
    virtual bool SplitSelected() const = 0;
    virtual bool CompileSelected() const = 0;

    // The convert button Command1.
    virtual void SetConvertButton(bool enabled, const QString& caption) = 0;

    virtual Picture& Image(Pic pic) = 0;
    virtual void Repaint(Pic pic) = 0;

    // The window's own outer height, in twips (15 to the pixel).
    virtual void SetOuterHeight(int twips) = 0;

    // Shows the window if it is not visible and processes pending messages once.
    virtual void ShowAndDoEvents() = 0;
    // Lets the window process pending messages.
    virtual void DoEvents() = 0;

    // Whether the picture boxes are seen. Where they are not (the batch program), a sheet is
    // read, or drawn and saved, a band of rows at a time instead of held whole in its box, so
    // memory does not grow with it; the files are the same.
    virtual bool ShowsPictures() const { return true; }

    // Told how far a long run has come (Compile mode, which does not yield, row by row).
    // The window shows nothing; the batch program draws a progress bar.
    virtual void Progress(long long /*done*/, long long /*total*/) {}

    // Text members shared by the convert command, the conversion and the surface table.
    QString TileWidth;
    QString NumTileSurfs;
    QString NumSpriteSurfs;
};
