#include "search/frmsearch.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <algorithm>

#include "app/scaling/FormScaler.h"
#include "controls/KivBtn/KivBtn.h"
#include "engine/SearchFolder.h"
#include "platform/formhost/ListPath.h"
#include "platform/formhost/StandardControls.h"
#include "platform/formhost/WindowAccessible.h"
#include "platform/forms/FormDescription.h"
#include "platform/grid/FlexGrid.h"

namespace kiv::search {

namespace {
const QString kScanning = QStringLiteral("1");
const QString kStopRequested = QStringLiteral("2");
constexpr int kFrame = 1;  // the window's border, in pixels
}  // namespace

std::unique_ptr<frmsearch> frmsearch::Create(SearchServices services, QWidget* owner, QString* error) {
    forms::InstallWindowRole(staticMetaObject, QAccessible::Dialog);
    if (!services.fonts) {
        *error = QStringLiteral("The search window has no font system");
        return nullptr;
    }
    auto description = forms::LoadFormDescription(services.description, *services.fonts);
    if (!description.form) {
        *error = description.error;
        return nullptr;
    }
    std::unique_ptr<frmsearch> window(
        new frmsearch(std::move(services), std::move(*description.form), owner));
    if (!window->Wire(error)) return nullptr;
    return window;
}

frmsearch::frmsearch(SearchServices services, forms::FormModel model, QWidget* owner)
    : QWidget(owner, Qt::Dialog | Qt::FramelessWindowHint), services_(std::move(services)) {
    yield_ = services_.yield ? services_.yield : &ownYield_;
    setObjectName(model.name);
    setWindowTitle(model.caption);
    setAttribute(Qt::WA_DeleteOnClose, false);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, forms::ToQColor(model.backColor));
    setPalette(palette);
    setAutoFillBackground(true);
    // The controls live on a client area inside the one-pixel frame, so their twips stay as designed.
    client_ = new QWidget(this);
    client_->move(kFrame, kFrame);
    host_ = std::make_unique<forms::FormHost>(client_, std::move(model));
}

frmsearch::~frmsearch() = default;

bool frmsearch::Wire(QString* error) {
    forms::RegisterStandardControls(*host_);
    if (!host_->Build(error)) return false;
    lblmain_ = host_->As<QLabel>(QStringLiteral("lblmain"));
    lblfld_ = host_->As<QLabel>(QStringLiteral("lblfld"));
    cmdstop_ = host_->As<controls::KivBtn>(QStringLiteral("cmdstop"));
    if (!lblmain_ || !lblfld_ || !cmdstop_) {
        *error = QStringLiteral("The search window description lacks one of its controls");
        return false;
    }
    mainCaption_ = lblmain_->text();
    folderCaption_ = lblfld_->text();
    // The window has no title; this is what a screen reader calls it.
    setAccessibleName(QStringLiteral("Searching for Pfx Files"));
    connect(cmdstop_, &controls::KivBtn::Click, this, &frmsearch::cmdstop_Click);
    return true;
}

void frmsearch::Form_Load() {
    forms::FormModel& model = host_->Model();
    app::ScaleForm(model);
    // The heading carries the searched folder; let it use the window's width rather than the
    // width of its design caption.
    if (forms::Control* heading = model.Find(QStringLiteral("lblmain"));
        heading && heading->left && heading->width) {
        heading->width = std::max(*heading->width, model.width - 2 * *heading->left);
    }
    host_->Apply();
    setFixedSize(client_->width() + 2 * kFrame, client_->height() + 2 * kFrame);
    ShowCaption(lblmain_, mainCaption_, mainCaption_);
    ShowCaption(lblfld_, folderCaption_, folderCaption_);
    lblmainTag_.clear();
}

void frmsearch::ShowModal() {
    if (unloaded_) return;
    setWindowModality(Qt::ApplicationModal);
    CentreOnOwner();
    show();
    if (unloaded_) return;
    QEventLoop loop;
    modalLoop_ = &loop;
    loop.exec(QEventLoop::DialogExec);
    modalLoop_ = nullptr;
}

void frmsearch::CentreOnOwner() {
    QRect area;
    if (const QWidget* owner = parentWidget(); owner && owner->isVisible()) {
        area = owner->window()->frameGeometry();
    } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        area = screen->availableGeometry();
    }
    if (area.isValid()) move(area.center() - QPoint(width() / 2, height() / 2));
}

bool frmsearch::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::WindowActivate) Form_Activate();
    return handled;
}

void frmsearch::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Some window managers (and no window manager at all) never activate the window; start
    // anyway once the show has been processed. Form_Activate lets only the first start through.
    if (!startQueued_) {
        startQueued_ = true;
        QMetaObject::invokeMethod(this, &frmsearch::Form_Activate, Qt::QueuedConnection);
    }
}

void frmsearch::Form_Activate() {
    if (!lblmainTag_.isEmpty()) {
        // A stop (or close) that came before the walk began still has to close the window.
        if (lblmainTag_ == kStopRequested && !running_ && !unloaded_) Unload();
        return;
    }
    lblmainTag_ = kScanning;
    ShowCaption(lblmain_, mainCaption_,
                QStringLiteral("Searching for Pfx Files ... [") + srchDir_ + QLatin1Char(']'));
    running_ = true;
    try {
        SearchFolder(srchDir_);
    } catch (...) {
        // The walk ends where it failed; the rows found so far stay and the window still closes.
    }
    running_ = false;
    Unload();
}

void frmsearch::cmdstop_Click() {
    lblmainTag_ = kStopRequested;
}

void frmsearch::SearchFolder(const QString& folder) {
    engine::ScanHooks hooks;
    hooks.stopRequested = [this] { return lblmainTag_ == kStopRequested; };
    hooks.enteringFolder = [this](const std::string& path) {
        ShowCaption(lblfld_, folderCaption_,
                    QLatin1Char('[') + forms::PathToListText(path) + QLatin1Char(']'));
    };
    hooks.yield = [this] { (*yield_)(); };
    hooks.addFile = [this](const std::string& path, const std::string& name) {
        // A path already listed is skipped without a word.
        if (services_.addFile) services_.addFile(forms::PathToListText(path), forms::PathToListText(name));
    };
    engine::SearchFolder(services_.fileSystem ? services_.fileSystem() : nullptr,
                         forms::ListTextToPath(folder), hooks);
}

void frmsearch::Unload() {
    unloaded_ = true;
    hide();
    if (modalLoop_) modalLoop_->quit();
}

void frmsearch::closeEvent(QCloseEvent* event) {
    if (unloaded_) {
        event->accept();
        return;
    }
    lblmainTag_ = kStopRequested;
    if (running_) {
        // Closing during the walk means Stop: the walk ends at its next check and then unloads
        // the window, so its controls outlive the walk.
        event->ignore();
        return;
    }
    event->accept();
    Unload();
}

void frmsearch::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void frmsearch::ShowCaption(QLabel* label, QString& caption, const QString& text) {
    caption = text;
    // Shortening in the middle keeps both the start of a long path and the folder itself readable.
    // A path may hold bytes that are not UTF-8; they show as the grid shows them.
    const QString full = grid::DisplayText(text);
    const QString shown = label->fontMetrics().elidedText(full, Qt::ElideMiddle, std::max(1, label->width()));
    label->setText(shown);
    label->setToolTip(shown == full ? QString() : full);
    label->setAccessibleName(full);  // a screen reader reads the whole path, not the shortened one
}

}  // namespace kiv::search
