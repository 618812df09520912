#include "window/picturebox.h"

#include <QPainter>

PictureBox::PictureBox(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    picture_.SetOnResize([this] { resize(picture_.Width(), picture_.Height()); });
}

void PictureBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!picture_.Image().isNull()) {
        painter.drawImage(0, 0, picture_.Image());
    }
}
