#pragma once

#include "support/testsupport.h"
#include "window/frmconverter.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

// The converter window shown (offscreen), with its program folder a fresh test folder, and
// its controls found by name.
class ShownWindow : public ::testing::Test {
protected:
    void SetUp() override {
        window_ = std::make_unique<frmConverter>();
        window_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    }

    template <class W = QWidget>
    W* child(const char* name) { return window_->findChild<W*>(QLatin1String(name)); }
    QPushButton* command1() { return child<QPushButton>("Command1"); }
    QLineEdit* ipath() { return child<QLineEdit>("ipath"); }
    QRadioButton* optSplit() { return child<QRadioButton>("optSplit"); }
    QRadioButton* optCompile() { return child<QRadioButton>("optCompile"); }
    void setText(const char* box, const QString& text) { child<QLineEdit>(box)->setText(text); }
    QString text(const char* box) { return child<QLineEdit>(box)->text(); }

    TestFolder folder_;
    std::unique_ptr<frmConverter> window_;
};
