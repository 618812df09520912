#include "window/shownmessagebox.h"

#include "runtime/messagebox.h"

#include <QApplication>
#include <QMessageBox>

void InstallShownMessageBox() {
    static const bool installed = [] {
        SetShownMessageBox([](const QString& text) {
            QMessageBox box(QMessageBox::NoIcon, AppTitle(), text, QMessageBox::Ok, QApplication::activeWindow());
            box.exec();
        });
        return true;
    }();
    (void)installed;
}
