#include "commands/commandform.h"

#include "conversion/converter.h"
#include "runtime/messagebox.h"

CommandForm::CommandForm(::Progress progress) : progress_(std::move(progress)) {
    // Unseen, the sheet box holds a band of the sheet at a time, so it starts with no rows.
    Image(Pic::picBack).SetSize(Image(Pic::picBack).Width(), 0);
}

void CommandForm::Progress(long long done, long long total) {
    if (progress_) {
        progress_(done, total);
    }
}

void RunTheWindowsWay(CommandForm& form, Converter& converter, bool split, const WindowRun& run, CommandResult& result) {
    QStringList messages;
    SetMessageBoxHandler([&](const QString& text) { messages += text; });
    // Reported as the batch program's own failure, naming the command and the file.
    converter.SetFailureLogger([&](const RuntimeError& e) { result.failure = e; });
    using Box = FormView::Box;
    form.SelectSplit(split);
    form.SetText(Box::ipath, run.source);
    form.SetText(Box::spath, run.destination);
    form.SetText(Box::txtStart, run.start);
    form.SetText(Box::txtWidth, run.width);
    converter.Command1_Click();
    SetMessageBoxHandler(nullptr);
    if (!messages.isEmpty()) {
        result.refusal = Refusal{messages.front(), QString()};
        result.messages = messages.mid(1);
        result.failure.reset();
    }
}
