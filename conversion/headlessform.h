#pragma once

#include "conversion/converter.h"
#include "imaging/picture.h"
#include "surfaces/formview.h"

#include <map>

// The converter window's state without widgets, for tests and the batch program. Holds the
// same defaults as the window's design.
class HeadlessForm : public FormView {
public:
    HeadlessForm();

    QString Text(Box box) const override;
    void SetText(Box box, const QString& text) override;
    bool SplitSelected() const override { return split_; }
    bool CompileSelected() const override { return !split_; }
    void SetConvertButton(bool enabled, const QString& caption) override;
    Picture& Image(Pic pic) override;
    void Repaint(Pic pic) override;
    void SetOuterHeight(int twips) override { outerHeight_ = twips; }
    void ShowAndDoEvents() override { ++doEvents_; }
    void DoEvents() override { ++doEvents_; }

    void SelectSplit(bool split) { split_ = split; }
    bool ButtonEnabled() const { return buttonEnabled_; }
    const QString& ButtonCaption() const { return buttonCaption_; }
    int OuterHeight() const { return outerHeight_; }
    int DoEventsCount() const { return doEvents_; }
    int RepaintCount() const { return repaints_; }

private:
    std::map<Box, QString> texts_;
    Picture pic_{Converter::TileSide, Converter::TileSide};
    Picture pic2_{Converter::TileSide, Converter::TileSide};
    Picture picBack_{224, 224};
    bool split_ = true;
    bool buttonEnabled_ = true;
    QString buttonCaption_ = QStringLiteral("Convert");
    int outerHeight_ = 2400;
    int doEvents_ = 0;
    int repaints_ = 0;
};
