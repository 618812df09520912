#include "window/frmconverter.h"

#include "records/errorlog.h"
#include "records/tileinfo.h"
#include "runtime/messagebox.h"
#include "runtime/numbers.h"
#include "runtime/paths.h"
#include "runtime/runtimeerror.h"
#include "runtime/userfolders.h"
#include "window/modbrowse.h"
#include "window/picturebox.h"
#include "window/shownmessagebox.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>

#include <algorithm>
#include <cmath>
#include <new>

// The window's resources live in this static library; register them before first use.
static void initWindowResources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(window);
        return true;
    }();
    (void)done;
}

namespace {
// Client area and outer size at design, in pixels (5025 x 1920 and 5115 x 2400 twips).
constexpr int ClientWidth = 335;
constexpr int ClientHeight = 128;
constexpr int DesignOuterWidth = 341;
constexpr int DesignOuterHeight = 160;
constexpr int TwipsPerPixel = 15;

QFont verdana(double points) {
    QFont font(QStringLiteral("Verdana"));
    font.setPointSizeF(points);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

template <class W>
W* control(QWidget* parent, const char* name, int left, int top, int width, int height) {
    auto* widget = new W(parent);
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(left, top, width, height);
    return widget;
}

QLabel* label(QWidget* parent, const char* name, const QString& caption, int left, int top) {
    auto* widget = new QLabel(caption, parent);
    widget->setObjectName(QLatin1String(name));
    widget->setFont(verdana(9.75));
    widget->move(left, top);
    widget->adjustSize();  // labels size themselves to their caption
    return widget;
}

PictureBox* newPictureBox(QWidget* parent, const char* name, int left, int top, int width, int height) {
    auto* box = new PictureBox(parent);
    box->setObjectName(QLatin1String(name));
    box->move(left, top);
    box->Pic().SetSize(width, height);
    return box;
}

// A run-time failure that reaches a handler of the window would otherwise end the program
// from inside the event loop; tell the user instead and keep the window alive.
template <class F>
void runHandler(F&& handler) {
    try {
        handler();
    } catch (const RuntimeError& failure) {
        MsgBox(QStringLiteral("Run-time error '%1':\n\n%2").arg(failure.Number()).arg(failure.Description()));
    } catch (const std::bad_alloc&) {
        MsgBox(QStringLiteral("Run-time error '%1':\n\n%2").arg(Err::OutOfMemory).arg(ErrorDescription(Err::OutOfMemory)));
    }
}
}  // namespace

frmConverter::frmConverter(QWidget* parent) : QWidget(parent), converter_(*this) {
    initWindowResources();
    InstallShownMessageBox();
    setObjectName(QStringLiteral("frmConverter"));
    setWindowTitle(QStringLiteral("Tilvex Converter v.04 (1-14-09)"));
    setWindowIcon(QIcon(QStringLiteral(":/tilvex.png")));
    // Fixed single border: a close button, no minimize or maximize button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(ClientWidth, ClientHeight);
    createControls();

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QPoint centre = screen->availableGeometry().center();
        move(centre.x() - DesignOuterWidth / 2, centre.y() - DesignOuterHeight / 2);
    }
    // A failed run otherwise looks exactly like one that worked; the log entry alone is easy
    // to miss.
    converter_.SetFailureObserver([this](const RuntimeError& failure) { failure_ = failure; });
    setAcceptDrops(true);
    // A drop on the source box fills it as one on the window does, not with the file's address.
    ipath_->setAcceptDrops(false);
    runHandler([this] { Form_Load(); });
}

void frmConverter::showFailure() {
    if (!failure_) {
        return;
    }
    const RuntimeError failure = *failure_;
    failure_.reset();
    QString text = QStringLiteral("The conversion failed.\n\nError %1: %2").arg(failure.Number()).arg(failure.Description());
    if (!failure.Cause().isEmpty()) {
        text += QStringLiteral(" (%1)").arg(failure.Cause());
    }
    text += QStringLiteral("\nFile: %1").arg(failure.File().isEmpty() ? ipath_->text() : failure.File());
    text += QStringLiteral("\n\nThe failure was logged in %1").arg(ErrorLogPath());
    MsgBox(text);
}

QString frmConverter::droppedSource(const QMimeData* data) const {
    const QList<QUrl> urls = data->urls();
    if (urls.size() != 1 || !urls.front().isLocalFile()) {
        return QString();
    }
    const QString path = urls.front().toLocalFile();
    const QFileInfo info(path);
    if (optSplit_->isChecked()) {
        // The browse button offers bitmaps only.
        return info.isFile() && path.endsWith(QStringLiteral(".bmp"), Qt::CaseInsensitive) ? path : QString();
    }
    if (!info.isDir()) {
        return QString();
    }
    return EndsWithSeparator(path) ? path : path + PathSeparator();
}

void frmConverter::dragEnterEvent(QDragEnterEvent* event) {
    if (Command1_->isEnabled() && !droppedSource(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void frmConverter::dropEvent(QDropEvent* event) {
    const QString source = droppedSource(event->mimeData());
    if (Command1_->isEnabled() && !source.isEmpty()) {
        ipath_->setText(source);
        event->acceptProposedAction();
    }
}

frmConverter::~frmConverter() = default;

void frmConverter::createControls() {
    txtWidth_ = control<QLineEdit>(this, "txtWidth", 152, 104, 41, 19);
    txtWidth_->setText(QStringLiteral("7"));
    txtWidth_->setFont(verdana(8.25));

    txtStart_ = control<QLineEdit>(this, "txtStart", 152, 80, 41, 19);
    txtStart_->setText(QStringLiteral("0"));
    txtStart_->setFont(verdana(8.25));
    txtStart_->setToolTip(QStringLiteral("This is the number that the output files will start from."));

    picBack_ = newPictureBox(this, "picBack", 40, 136, 224, 224);

    optCompile_ = control<QRadioButton>(this, "optCompile", 256, 80, 73, 17);
    optCompile_->setText(QStringLiteral("Compile"));
    optCompile_->setFont(verdana(9));

    optSplit_ = control<QRadioButton>(this, "optSplit", 200, 80, 57, 17);
    optSplit_->setText(QStringLiteral("Split"));
    optSplit_->setFont(verdana(9));
    optSplit_->setChecked(true);

    Command2_ = control<QPushButton>(this, "Command2", 304, 16, 25, 17);
    Command2_->setText(QStringLiteral("..."));
    Command2_->setFont(verdana(8.25));

    spath_ = control<QLineEdit>(this, "spath", 8, 56, 321, 19);
    spath_->setText(QStringLiteral("0"));
    spath_->setFont(verdana(8.25));
    spath_->setToolTip(
        QStringLiteral("This is the path to the folder that the images will be saved to (every little one)"));

    ipath_ = control<QLineEdit>(this, "ipath", 8, 16, 289, 19);
    ipath_->setText(QStringLiteral("0"));
    ipath_->setFont(verdana(8.25));
    ipath_->setToolTip(QStringLiteral("This is the image that you will be loading (the BIG one)"));

    Command1_ = control<QPushButton>(this, "Command1", 232, 96, 97, 25);
    Command1_->setText(QStringLiteral("Convert"));
    Command1_->setFont(verdana(8.25));

    pic2_ = newPictureBox(this, "pic2", 8, 80, 32, 32);
    pic2_->hide();
    pic_ = newPictureBox(this, "pic", 8, 80, 32, 32);

    CD_ = new CommonDialog(this);
    CD_->setObjectName(QStringLiteral("CD"));

    Label2_ = label(this, "Label2", QStringLiteral("Width:"), 48, 104);
    Label3_ = label(this, "Label3", QStringLiteral("Source Path:"), 8, 0);
    Label1_ = label(this, "Label1", QStringLiteral("Start Number:"), 48, 80);
    Label4_ = label(this, "Label4", QStringLiteral("Destination:"), 8, 40);

    // Tab order by tab index; labels and picture boxes take no focus.
    QWidget* const byTabIndex[] = {Command1_, ipath_, spath_, Command2_, optSplit_, optCompile_, txtStart_, txtWidth_};
    for (std::size_t i = 0; i + 1 < std::size(byTabIndex); ++i) {
        QWidget::setTabOrder(byTabIndex[i], byTabIndex[i + 1]);
    }
    Command1_->setFocus();
    optSplit_->installEventFilter(this);
    optCompile_->installEventFilter(this);

    // An option button's handler runs when it becomes selected, by click or otherwise.
    connect(optCompile_, &QRadioButton::toggled, this, [this](bool on) {
        if (on) {
            runHandler([this] { optCompile_Click(); });
        }
    });
    connect(optSplit_, &QRadioButton::toggled, this, [this](bool on) {
        if (on) {
            runHandler([this] { optSplit_Click(); });
        }
    });
    connect(Command2_, &QPushButton::clicked, this, [this] { runHandler([this] { Command2_Click(); }); });
    connect(Command1_, &QPushButton::clicked, this, [this] {
        runHandler([this] { converter_.Command1_Click(); });
        showFailure();
    });
}

bool frmConverter::eventFilter(QObject* watched, QEvent* event) {
    // The option group is one tab stop, and tabbing into it lands on the selected button.
    if (event->type() == QEvent::FocusIn && (watched == optSplit_ || watched == optCompile_)) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        auto* entered = static_cast<QRadioButton*>(watched);
        QRadioButton* selected = optSplit_->isChecked() ? optSplit_ : optCompile_;
        if ((reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason) && entered != selected &&
            selected->isChecked()) {
            selected->setFocus(reason);
        }
    }
    return QWidget::eventFilter(watched, event);
}

void frmConverter::Form_Load() {
    const QString folder = StartFolder();
    spath_->setText(folder + PathSeparator());
    ipath_->setText(folder + PathSeparator() + QStringLiteral(".bmp"));
    txtWidth_->setText(
        NumberText(ParseNumber(GetVar(StartupInfoFile(), QStringLiteral("MAIN"), QStringLiteral("Width")))));
}

void frmConverter::optCompile_Click() {
    // Compile mode takes a folder: a bitmap name left from Split mode would be refused.
    if (ipath_->text().right(4) == QStringLiteral(".bmp")) {
        ipath_->setText(QString());
    }
    if (optCompile_->isChecked()) {
        Command1_->setText(QStringLiteral("Compile"));
    }
}

void frmConverter::optSplit_Click() {
    if (optSplit_->isChecked()) {
        Command1_->setText(QStringLiteral("Split"));
    }
}

void frmConverter::Command2_Click() {
    if (optSplit_->isChecked()) {
        CD_->Filter = QStringLiteral("Bitmap|*.bmp");
        CD_->DialogTitle = QStringLiteral("Load");
        CD_->FileName = QString();
        CD_->InitDir = StartFolder();
        CD_->Flags = CommonDialog::FileMustExist;
        CD_->ShowOpen(this);
        ipath_->setText(CD_->FileName);
    } else {
        const QString folder = modBrowse::BrowseForFolder(this, QStringLiteral("Select A Directory"), StartFolder());
        if (!folder.isEmpty()) {
            ipath_->setText(folder + PathSeparator());
        }
    }
}

QLineEdit* frmConverter::box(Box which) const {
    switch (which) {
    case Box::ipath: return ipath_;
    case Box::spath: return spath_;
    case Box::txtStart: return txtStart_;
    case Box::txtWidth: break;
    }
    return txtWidth_;
}

PictureBox* frmConverter::pictureBox(Pic which) const {
    switch (which) {
    case Pic::pic: return pic_;
    case Pic::pic2: return pic2_;
    case Pic::picBack: break;
    }
    return picBack_;
}

QString frmConverter::Text(Box which) const { return box(which)->text(); }

void frmConverter::SetText(Box which, const QString& text) { box(which)->setText(text); }

bool frmConverter::SplitSelected() const { return optSplit_->isChecked(); }

bool frmConverter::CompileSelected() const { return optCompile_->isChecked(); }

void frmConverter::SetConvertButton(bool enabled, const QString& caption) {
    Command1_->setEnabled(enabled);
    Command1_->setText(caption);
}

Picture& frmConverter::Image(Pic which) { return pictureBox(which)->Pic(); }

void frmConverter::Repaint(Pic which) { pictureBox(which)->repaint(); }

void frmConverter::SetOuterHeight(int twips) {
    // The outer height includes the title bar and borders; take the frame the toolkit
    // reports, or the design's where it reports none with a title bar (not yet shown, no
    // window manager, or a platform that draws only a thin border).
    const int top = geometry().top() - frameGeometry().top();
    const int bottom = frameGeometry().bottom() - geometry().bottom();
    const int frame = top > bottom ? top + bottom : DesignFrameHeight;
    const long pixels = std::lround(static_cast<double>(twips) / TwipsPerPixel) - frame;
    setFixedHeight(static_cast<int>(std::clamp<long>(pixels, 0, QWIDGETSIZE_MAX)));
}

void frmConverter::ShowAndDoEvents() {
    if (!isVisible()) {
        show();
    }
    QCoreApplication::processEvents();
}

void frmConverter::DoEvents() { QCoreApplication::processEvents(); }
