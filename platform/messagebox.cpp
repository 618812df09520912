#include "platform/messagebox.h"

#include <QApplication>
#include <QMessageBox>

namespace {
MessageBoxHandler& handler() {
    static MessageBoxHandler h;
    return h;
}
}  // namespace

QString AppTitle() { return QStringLiteral("Tilvex Converter"); }

void MsgBox(const QString& text) {
    if (handler()) {
        handler()(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, AppTitle(), text, QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

void SetMessageBoxHandler(MessageBoxHandler h) { handler() = std::move(h); }
