#pragma once

#include "runtime/runtimeerror.h"

#include <QString>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// New files of a run gathered out of sight, in a hidden folder of their own, and put in
// place only when the run has made them all: a run that fails part way changes nothing, and
// a killed one leaves only the hidden folder, which a later run removes (RemoveLeftovers).
// Where the destination folder does not exist yet, the hidden one is made beside it and
// becomes it at the end, so the files cost plain creates; otherwise it is made inside the
// destination and each file replaces its namesake there whole. A Folder replace of an
// existing destination stages beside it too: the rest of the destination is mirrored into the
// stage (hard links), the two folders swap names in one step, and the old one goes, so
// readers see the whole old set or the whole new one. Where that cannot be done faithfully
// (another owner, a mount point, a file system that cannot swap folders), it is done file by
// file. The run holds a lock on its stage, so a later run never takes a live one's for litter.
class StagingFolder {
public:
    enum class Replace { Files, Folder };
    // Raises the run-time error of a destination that cannot be made or opened.
    explicit StagingFolder(const QString& destination, Replace replace = Replace::Files);
    ~StagingFolder();
    StagingFolder(const StagingFolder&) = delete;
    StagingFolder& operator=(const StagingFolder&) = delete;

    // Writes a new file of that name, whole; safe from several threads for different names.
    // A failure raises its run-time error, naming the file in the destination.
    void Write(const std::string& name, const void* data, std::size_t size) const;

    // Puts every file in place, then calls last with the folder the files are in by then
    // (for files that must follow them, such as the folder's record of them). A failure
    // raises its run-time error, saying how many files were replaced before it, if any.
    void Commit(const std::function<void(const QString& folder)>& last);

    // The staged file's path, for writers that take one.
    QString Path(const std::string& name) const;
    // Whether the destination did not exist, so that Commit makes it whole in one step.
    bool New() const { return beside_; }

    // A commit in steps the caller orders, into an existing destination, for sets whose
    // files refer to each other: every destination name is checked first (Check), then each
    // Place puts one staged file in place at once, and Done ends it. A killed run leaves only
    // the steps it took.
    void Check(const std::vector<std::string>& names) const;
    // A second name for a staged file, in the stage (costs no copy).
    void Link(const std::string& name, const std::string& as) const;
    void Place(const std::string& name, const std::string& as);
    // Removes a file of the destination.
    void Remove(const std::string& name) const;
    void Done();

private:
    void stageBeside(const QString& real);
    // After checkIn of the same names: nothing here looks before it renames.
    void moveInto(int folder, const std::vector<std::string>& names);
    bool swap(int folder, const std::vector<std::string>& names);
    void checkIn(int folder, const std::vector<std::string>& names) const;
    // The failure numbered number on the file name, errno failure's description followed by after.
    RuntimeError fail(std::int32_t number, int failure, const std::string& name, const QString& after = QString()) const;

    QString destination_;  // ends with a separator
    std::string target_;   // the destination's name in its parent
    std::string name_;     // the hidden folder's name in parent_
    QString stagePath_;    // the hidden folder, ending with a separator
    int parent_ = -1;      // the folder that holds the hidden one
    int stage_ = -1;
    bool beside_ = false;  // made beside a destination that does not exist yet
    bool swap_ = false;    // made beside an existing destination, to take its place
    bool committed_ = false;
};
