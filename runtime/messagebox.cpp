#include "runtime/messagebox.h"

#include <cstdio>

namespace {
MessageBoxHandler& handler() {
    static MessageBoxHandler h;
    return h;
}
MessageBoxHandler& shownBox() {
    static MessageBoxHandler h;
    return h;
}
}  // namespace

QString AppTitle() { return QStringLiteral("Tilvex Converter"); }

void MsgBox(const QString& text) {
    if (handler()) {
        handler()(text);
    } else if (shownBox()) {
        shownBox()(text);
    } else {
        // No window to show a box in: the message must still reach someone.
        std::fprintf(stderr, "%s: %s\n", AppTitle().toLocal8Bit().constData(), text.toLocal8Bit().constData());
    }
}

void SetMessageBoxHandler(MessageBoxHandler h) { handler() = std::move(h); }

void SetShownMessageBox(MessageBoxHandler shown) { shownBox() = std::move(shown); }
