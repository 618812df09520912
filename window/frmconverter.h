#pragma once

#include "conversion/converter.h"
#include "surfaces/formview.h"
#include "window/commondialog.h"

#include "runtime/runtimeerror.h"

#include <QWidget>

#include <optional>

class PictureBox;
class QDragEnterEvent;
class QDropEvent;
class QLabel;
class QMimeData;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The converter window: the inputs, the three picture boxes the conversions draw on, the
// mode buttons and the browse and convert buttons.
class frmConverter : public QWidget, public FormView {
    Q_OBJECT
public:
    explicit frmConverter(QWidget* parent = nullptr);
    ~frmConverter() override;

    // Handlers of the window's events.
    void Form_Load();
    void optCompile_Click();
    void optSplit_Click();
    void Command2_Click();

    // FormView
    QString Text(Box box) const override;
    void SetText(Box box, const QString& text) override;
    bool SplitSelected() const override;
    bool CompileSelected() const override;
    void SetConvertButton(bool enabled, const QString& caption) override;
    Picture& Image(Pic pic) override;
    void Repaint(Pic pic) override;
    void SetOuterHeight(int twips) override;
    void ShowAndDoEvents() override;
    void DoEvents() override;

    // The convert command that Command1 runs.
    Converter& converter() { return converter_; }
    // The common-dialog control of the browse button.
    CommonDialog& CD() { return *CD_; }

    // Frame height assumed where the toolkit reports no title bar: the design's title bar
    // and borders (480 twips).
    static constexpr int DesignFrameHeight = 32;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // A picture dropped in Split mode, a folder in Compile mode, fills the source box.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void createControls();
    // The source a drop carries, as the browse button would give it; empty where it is none.
    QString droppedSource(const QMimeData* data) const;
    // Tells the user of the failure that ended the last run, if one did.
    void showFailure();
    QLineEdit* box(Box which) const;
    PictureBox* pictureBox(Pic which) const;

    QLineEdit* txtWidth_ = nullptr;
    QLineEdit* txtStart_ = nullptr;
    PictureBox* picBack_ = nullptr;
    QRadioButton* optCompile_ = nullptr;
    QRadioButton* optSplit_ = nullptr;
    QPushButton* Command2_ = nullptr;
    QLineEdit* spath_ = nullptr;
    QLineEdit* ipath_ = nullptr;
    QPushButton* Command1_ = nullptr;
    PictureBox* pic2_ = nullptr;
    PictureBox* pic_ = nullptr;
    QLabel* Label2_ = nullptr;
    QLabel* Label3_ = nullptr;
    QLabel* Label1_ = nullptr;
    QLabel* Label4_ = nullptr;

    CommonDialog* CD_ = nullptr;
    Converter converter_;
    std::optional<RuntimeError> failure_;
};
