#include "main_window/frmmain.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <cmath>

#include "app/identity/AppIdentity.h"
#include "app/identity/Resources.h"
#include "app/scaling/FormScaler.h"
#include "controls/KivBtn/KivBtn.h"
#include "engine/SameFile.h"
#include "filesystem/ShownPath.h"
#include "platform/formhost/StandardControls.h"
#include "platform/formhost/WindowAccessible.h"
#include "platform/forms/FormDescription.h"
#include "platform/grid/FlexGrid.h"

namespace kiv::main_window {

using prompts::Answer;
using prompts::Buttons;
using prompts::Icon;

std::unique_ptr<frmmain> frmmain::Create(Services services, QString* error) {
    app::InitResources();
    forms::InstallWindowRole(staticMetaObject, QAccessible::Window);
    auto description = forms::LoadFormDescription(services.description, *services.fonts);
    if (!description.form) {
        *error = description.error;
        return nullptr;
    }
    std::unique_ptr<frmmain> window(new frmmain(std::move(services), std::move(*description.form)));
    if (!window->Wire(error)) return nullptr;
    return window;
}

frmmain::frmmain(Services services, forms::FormModel model) : services_(std::move(services)) {
    host_ = std::make_unique<forms::FormHost>(this, std::move(model));
    setWindowTitle(host_->Model().caption);
    setAttribute(Qt::WA_DeleteOnClose, false);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, forms::ToQColor(host_->Model().backColor));
    setPalette(palette);
    setAutoFillBackground(true);
    setWindowIcon(app::AppIcon());
    setAcceptDrops(true);
}

frmmain::~frmmain() {
    qApp->removeEventFilter(this);
}

bool frmmain::Wire(QString* error) {
    forms::RegisterStandardControls(*host_);
    if (!host_->Build(error)) return false;
    vs1_ = host_->As<grid::FlexGrid>(QStringLiteral("vs1"));
    frame1_ = host_->Widget(QStringLiteral("Frame1"));
    fampg_ = host_->Widget(QStringLiteral("fampg"));
    lblpb_ = host_->As<QLabel>(QStringLiteral("lblpb"));
    pb_ = host_->As<QProgressBar>(QStringLiteral("pb"));
    txtpass_[0] = host_->As<QLineEdit>(QStringLiteral("txtpass"), 0);
    txtpass_[1] = host_->As<QLineEdit>(QStringLiteral("txtpass"), 1);
    const auto button = [this](const char* name) { return host_->As<controls::KivBtn>(QLatin1String(name)); };
    cmdadd_ = button("cmdadd");
    cmdsearch_ = button("cmdsearch");
    cmddelete_ = button("cmddelete");
    cmddeleteall_ = button("cmddeleteall");
    cmdproceed_ = button("cmdproceed");
    cmdexit_ = button("cmdexit");
    cmdstop_ = button("cmdstop");
    const QWidget* required[] = {vs1_,          frame1_,     fampg_,   lblpb_,     pb_,
                                 txtpass_[0],   txtpass_[1], cmdadd_,  cmdsearch_, cmddelete_,
                                 cmddeleteall_, cmdproceed_, cmdexit_, cmdstop_};
    for (const QWidget* widget : required) {
        if (!widget) {
            *error = QStringLiteral("The main window description lacks one of its controls");
            return false;
        }
    }
    // Paths meet in the list's index under the engine's letter-case key; FindListedFile decides.
    vs1_->Model().SetKeyRule([](const QString& path) {
        const std::u16string key = engine::FoldCase(ShownText(path));
        return QString(reinterpret_cast<const QChar*>(key.data()), static_cast<qsizetype>(key.size()));
    });
    // A path dragged over a password box belongs to the list, not in the password.
    txtpass_[0]->setAcceptDrops(false);
    txtpass_[1]->setAcceptDrops(false);
    NameControls();
    connect(cmdadd_, &controls::KivBtn::Click, this, &frmmain::cmdadd_Click);
    connect(cmdsearch_, &controls::KivBtn::Click, this, &frmmain::cmdsearch_Click);
    connect(cmddelete_, &controls::KivBtn::Click, this, &frmmain::cmddelete_Click);
    connect(cmddeleteall_, &controls::KivBtn::Click, this, &frmmain::cmddeleteall_Click);
    connect(cmdproceed_, &controls::KivBtn::Click, this, &frmmain::cmdproceed_Click);
    // Exit and Stop both hand Escape to the key handler: stop during a run, quit otherwise.
    const auto escape = [this] {
        int key = 27;
        Form_KeyPress(key);
    };
    connect(cmdexit_, &controls::KivBtn::Click, this, escape);
    connect(cmdstop_, &controls::KivBtn::Click, this, escape);
    qApp->installEventFilter(this);
    return true;
}

void frmmain::ShowWindow() {
    Form_Load();
    show();
}

void frmmain::Form_Load() {
    app::ScaleForm(host_->Model());
    forms::Control* grid = host_->Model().Find(QStringLiteral("vs1"));
    if (grid && grid->font && grid->font->Size() > 9) grid->font->SetSize(9);
    host_->Apply();
    if (grid) {
        vs1_->ColWidthMax = grid->colWidthMax.value_or(0);
        vs1_->ColWidthMin = grid->colWidthMin.value_or(0);
        vs1_->RowHeightMax = grid->rowHeightMax.value_or(0);
        vs1_->RowHeightMin = grid->rowHeightMin.value_or(0);
        vs1_->FitRowHeight();
    }
    vs1_->SetRows(1);
    const double width = vs1_->width() * vs1_->TwipsPerPixel();
    vs1_->SetColWidth(0, std::nearbyint(width * 0.09));
    vs1_->SetColWidth(1, std::nearbyint(width * 0.44));
    vs1_->SetColWidth(3, std::nearbyint(width * 0.44));
    // Whole rows are selected, so the current row is the one shown.
    vs1_->setSelectionBehavior(QAbstractItemView::SelectRows);
    FitListColumns();
}

bool frmmain::InRun() const {
    return fampg_ && !fampg_->isHidden();
}

void frmmain::Form_KeyPress(int& keyAscii) {
    if (keyAscii != 27) return;
    keyAscii = 0;
    if (InRun()) {
        fampgTag_ = QStringLiteral("Y");
    } else {
        close();
    }
}

bool frmmain::eventFilter(QObject* watched, QEvent* event) {
    // The window sees Escape before any of its controls, wherever the focus is.
    if (event->type() == QEvent::KeyPress && !ended_) {
        auto* key = static_cast<QKeyEvent*>(event);
        auto* widget = qobject_cast<QWidget*>(watched);
        if (key->key() == Qt::Key_Escape && widget && widget->window() == this &&
            !QApplication::activeModalWidget()) {
            int code = 27;
            Form_KeyPress(code);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void frmmain::closeEvent(QCloseEvent* event) {
    if (ended_) {
        event->accept();
        return;
    }
    if (Ask(QStringLiteral("Do you really want to Quit?"), Icon::Question, Buttons::YesNo) != Answer::Yes) {
        event->ignore();
        return;
    }
    ended_ = true;
    event->accept();
    if (services_.endProgram) services_.endProgram();
}

Answer frmmain::Ask(const QString& text, Icon icon, Buttons buttons) {
    prompts::Message message;
    message.title = app::kAppTitle;
    message.text = text;
    message.icon = icon;
    message.buttons = buttons;
    message.defaultButton = buttons == Buttons::YesNo ? Answer::No : Answer::Ok;
    return services_.prompts->ShowMessage(this, message);
}

void frmmain::cmdadd_Click() {
    const auto chosen = services_.prompts->OpenFile(this, QStringLiteral("Pfx Files|*.Pfx"), QString());
    if (!chosen) return;
    if (AddChosenFile(*chosen, true)) FitListColumns();
}

bool frmmain::AddChosenFile(const QString& chosen, bool reportListed) {
    if (chosen.size() <= 4 || chosen.right(4).toUpper() != QLatin1String(".PFX")) return false;
    auto* files = Files();
    // The dialog shows a byte of a name that is not UTF-8 as U+FFFD; list the file it stands for.
    const std::string bytes = filesystem::FindShownPath(files, ShownText(chosen), false);
    const QString path = PathToListText(bytes);
    QString name;
    if (files) name = PathToListText(files->FileName(bytes).value_or(std::string()));
    if (AddFileToList(path, name)) return true;
    if (reportListed) Ask(QStringLiteral("File already exists in the List."), Icon::Information, Buttons::Ok);
    return false;
}

}  // namespace kiv::main_window
