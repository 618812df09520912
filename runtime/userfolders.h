#pragma once

#include <QString>

// Where an installed program keeps what a portable copy keeps beside itself. A program
// folder counts as installed when it exists and is where cmake --install or the Debian
// package puts the programs (also under a staging DESTDIR), or this user may not write it.
bool ProgramFolderIsInstalled();

// The folder that holds Errors.Log: the program folder, or for an installed program
// $XDG_STATE_HOME/tilvex (default ~/.local/state/tilvex), which is created here, since the
// folder is asked for only when an entry is to be written.
QString ErrorLogFolder();

// The start-up info.ini: the program folder's when it is writable or holds one, else
// $XDG_CONFIG_HOME/tilvex/info.ini (default ~/.config/tilvex/info.ini).
QString StartupInfoFile();

// Where the path boxes and the browse dialogs start: the program folder, or for an
// installed program the user's Pictures folder (home where there is none).
QString StartFolder();
