#pragma once

#include "imaging/picture.h"

#include <QWidget>

// A picture box: a borderless widget that shows its persistent image and takes its size.
class PictureBox : public QWidget {
    Q_OBJECT
public:
    explicit PictureBox(QWidget* parent = nullptr);

    Picture& Pic() { return picture_; }
    const Picture& Pic() const { return picture_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Picture picture_;
};
