#pragma once

#include <QWidget>

class frmConverter : public QWidget {
    Q_OBJECT
public:
    explicit frmConverter(QWidget* parent = nullptr) : QWidget(parent) {}
};
