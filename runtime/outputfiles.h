#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// The one step every file a command writes goes through, before anything is written:
// - a file the user names or the tool edits in place (a map, a tileset, a sheet) is written
//   at the end of its symbolic links, as editors do, so the links stay links;
// - a destination that exists and is no regular file (device, FIFO, socket, folder) is
//   refused (75, naming it);
// - a destination that is one of the run's inputs, through links or hard links, is refused
//   (75, naming both);
// - what killed runs left in a destination's folder is removed.
// The files themselves are then written whole (WriteWholeFile, AtomicFile, the picture sink).
// Tile files of a folder are not resolved through links: a new tile replaces a link there.
class OutputFiles {
public:
    explicit OutputFiles(QStringList inputs = {}) : inputs_(std::move(inputs)) {}

    // More files the run reads.
    void Reads(const QStringList& inputs) { inputs_ += inputs; }
    const QStringList& Inputs() const { return inputs_; }

    // Claims a file written whole: refused where it is special, leftovers of its folder
    // removed. Returns the path to write, the end of its links; "" stays "".
    QString File(const QString& path, bool makeFolder = true);
    // Claims files written into a folder under their own names (tiles): checked as inputs only.
    void FilesIn(const QStringList& files) { claimed_ += files; }
    // Creates a folder the run writes into, with every missing level above it, and removes
    // its leftovers. Every command's outputs get their folders here.
    static void Folder(const QString& folder);

    // Refuses a claimed file that is an input of the run; call once the inputs are known.
    void RefuseInputs() const;

    // Whether two paths name one file, through links and hard links; false where one is missing.
    static bool SameFile(const QString& a, const QString& b);
    // Whether the folder holds the file at any depth, through links.
    static bool Holds(const QString& folder, const QString& file);

    // The names a file takes for a moment while a set of files changes over (see
    // SheetAndTileset), which = 1 or 2: a killed run may have left files referring to one, so
    // the next run takes the other (FreeInterim) and removes both when it is done.
    static QString InterimName(const QString& path, int which);
    static int FreeInterim(const QStringList& paths);
    // Writes a new sheet and the tileset that describes it so that the tileset never describes
    // a sheet that is not there: where both exist, the tileset turns first to the new sheet under
    // its interim name, which then takes the sheet's name. writeSheet(path) writes the sheet at
    // path; writeTileset(sheet) writes the tileset describing the sheet at that path.
    static void SheetAndTileset(const QString& sheet, const QString& tileset,
                                const std::function<void(const QString&)>& writeSheet,
                                const std::function<void(const QString&)>& writeTileset);

private:
    QStringList inputs_;
    QStringList claimed_;
};
