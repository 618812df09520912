#pragma once

#include "commands/commandresult.h"

#include "conversion/headlessform.h"

// The converter window's state for a command run the window's way: no widgets, no pictures
// shown, the run's progress told to the caller.
class CommandForm : public HeadlessForm {
public:
    explicit CommandForm(::Progress progress);

    bool ShowsPictures() const override { return false; }
    void Progress(long long done, long long total) override;

private:
    ::Progress progress_;
};

// Runs the window's convert command on the form, split or compile, with these texts in its
// boxes. The window's messages become the result's refusal (the first) and messages (the
// rest); a failure of the run is its failure, not logged the window's way.
struct WindowRun {
    QString source;
    QString destination;
    QString start;
    QString width;
};
class Converter;
void RunTheWindowsWay(CommandForm& form, Converter& converter, bool split, const WindowRun& run, CommandResult& result);
