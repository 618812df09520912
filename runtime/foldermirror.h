#pragma once

#include <cstddef>
#include <set>
#include <string>

// The rest of a folder carried into the new version of it that is about to take its place,
// so that a set of files can replace its old version in one step without losing what else
// the folder holds. Every entry is a new name for the same file (a hard link), so nothing is
// copied and the old folder can then be dropped; folders are made anew with their mode.

// Makes in to, at every depth, a name for each entry of from that to does not have, except
// those in skip (top level only). False where that cannot be done faithfully: a hard link
// refused, a folder of another owner or on another file system (a mount point), or more than
// budget entries in all; to then holds part of the mirror, which the caller drops.
bool MirrorFolder(int from, int to, const std::set<std::string>& skip, std::size_t budget);

// After the swap: what someone else put in the old folder (from) while it was mirrored goes
// across into the new one (to), by rename, unless it is in skip (top level only).
void CarryOver(int from, int to, const std::set<std::string>& skip);
