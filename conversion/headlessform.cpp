#include "conversion/headlessform.h"

HeadlessForm::HeadlessForm() {
    texts_[Box::ipath] = QStringLiteral("0");
    texts_[Box::spath] = QStringLiteral("0");
    texts_[Box::txtStart] = QStringLiteral("0");
    texts_[Box::txtWidth] = QStringLiteral("7");
}

QString HeadlessForm::Text(Box box) const { return texts_.at(box); }

void HeadlessForm::SetText(Box box, const QString& text) { texts_[box] = text; }

void HeadlessForm::SetConvertButton(bool enabled, const QString& caption) {
    buttonEnabled_ = enabled;
    buttonCaption_ = caption;
}

Picture& HeadlessForm::Image(Pic pic) {
    switch (pic) {
    case Pic::pic: return pic_;
    case Pic::pic2: return pic2_;
    case Pic::picBack: break;
    }
    return picBack_;
}

void HeadlessForm::Repaint(Pic) { ++repaints_; }
