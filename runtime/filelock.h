#pragma once

#include <QString>

// Holds an exclusive lock on the folder of a file for as long as it lives, so that runs which
// read, change and write that file one after another never lose each other's changes. The
// file itself cannot carry the lock, as every write replaces it; the folder needs no extra
// file that a killed run could leave behind. Waits while another run holds it; raises the
// run-time error of a folder that cannot be opened.
class FileLock {
public:
    explicit FileLock(const QString& file);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int fd_ = -1;
};
