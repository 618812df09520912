#pragma once

// Makes MsgBox show a real modal box with only an OK button and the application's title.
// Done once; the window does it before it can show anything.
void InstallShownMessageBox();
