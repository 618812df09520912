#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

// A file written out of sight and put in place whole: whatever stops the writer, and whoever
// else writes the same name, readers find the old file or the whole new one. It is an unnamed
// file in the target's folder (a uniquely named hidden one where the file system has no
// unnamed files); nothing of it is left when it is dropped before Commit.
class AtomicFile {
public:
    AtomicFile() = default;
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Starts the file that will replace target; false, with errno set, when the folder refuses.
    bool Open(const std::filesystem::path& target, mode_t mode = 0666);
    // The same for the file name in an open folder, which must stay open until Commit: many
    // files in one folder then cost no path lookups.
    bool OpenIn(int folder, std::string name, mode_t mode = 0666);
    int Fd() const { return fd_; }

    // Closes the file and puts it in place under the target's name. An existing target is
    // replaced only where a plain write would have been allowed: a folder, a device, a FIFO or
    // a file with no write bits stays, and the call fails; a symbolic link is replaced. False, with errno set, on any failure; the new
    // file is then gone.
    bool Commit();

private:
    void discard();
    void closeFolder();

    int folder_ = -1;
    bool ownsFolder_ = false;
    std::string name_;
    std::string named_;  // the hidden name, when the file system has no unnamed files
    int fd_ = -1;
};

// Removes what killed runs of this program left in the folder: hidden files of writers that
// are no longer running. Failures are ignored; the files are only litter.
void RemoveLeftovers(const std::filesystem::path& folder);
