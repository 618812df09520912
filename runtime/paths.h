#pragma once

#include <QString>

#include <cstdint>
#include <filesystem>

// The folder separator that the system appends and tests: "/" here, "\" on Windows.
QString PathSeparator();

// True when the text ends with a folder separator.
bool EndsWithSeparator(const QString& path);

// The path as the file system takes it (the locale's bytes, UTF-8 on Linux).
std::filesystem::path ToFsPath(const QString& path);
QString FromFsPath(const std::filesystem::path& path);

// The folder that holds the program, without a trailing separator except for the root.
QString ProgramFolder();

// Points the program folder elsewhere (tests, the batch program); an empty text restores
// the real one.
void SetProgramFolder(const QString& folder);

// Creates one folder level; a missing parent is 76 "Path not found", as it is for MkDir.
void MakeFolder(const QString& folder);
// Creates the folder and every missing level above it; a failure names the level it failed at.
void MakeFolders(const QString& folder);

enum class ListingKind { FilesOnly, FilesAndFolders };

// Name of the first directory entry that matches the path, or "" when none does.
// The last component may hold * and ?; a path that ends with a separator lists that
// folder (an existing folder is never an empty listing when folders are included).
// Hidden entries are not matched.
QString PathListing(const QString& path, ListingKind kind);

// Refuses (75) a run that would write tiles first, first + 1, ... (count of them, named by
// number and suffix) into folder when one of those names in that very folder is the source:
// the sheet would be lost under a tile.
void RefuseSourceAmongTiles(const QString& source, const QString& folder, std::int64_t first, std::int64_t count,
                            const QString& suffix);
