#include "platform/formhost/StandardControls.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>

#include "controls/KivBtn/KivBtn.h"
#include "platform/grid/FlexGrid.h"

namespace kiv::forms {

QColor ToQColor(std::uint32_t colour) {
    return QColor(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
}

namespace {

void SetColours(QWidget* widget, const forms::Control& control) {
    QPalette palette = widget->palette();
    if (control.foreColor) {
        palette.setColor(QPalette::WindowText, ToQColor(*control.foreColor));
        palette.setColor(QPalette::Text, ToQColor(*control.foreColor));
    }
    if (control.backColor) {
        palette.setColor(QPalette::Window, ToQColor(*control.backColor));
        widget->setAutoFillBackground(true);
    }
    widget->setPalette(palette);
}

QWidget* MakeLabel(const forms::Control& control, QWidget* parent, QString*) {
    auto* label = new QLabel(control.caption, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(control.wordWrap.value_or(false));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    SetColours(label, control);
    return label;
}

QWidget* MakeTextBox(const forms::Control& control, QWidget* parent, QString*) {
    auto* edit = new QLineEdit(parent);
    if (control.passwordChar) {
        edit->setEchoMode(QLineEdit::Password);
        edit->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
    }
    SetColours(edit, control);
    return edit;
}

QWidget* MakeFrame(const forms::Control& control, QWidget* parent, QString*) {
    auto* frame = new QFrame(parent);
    frame->setFrameShape(QFrame::NoFrame);
    SetColours(frame, control);
    return frame;
}

QWidget* MakeProgressBar(const forms::Control&, QWidget* parent, QString*) {
    auto* bar = new QProgressBar(parent);
    bar->setTextVisible(false);
    bar->setRange(0, 100);
    bar->setValue(0);
    return bar;
}

QWidget* MakeGrid(const forms::Control& control, QWidget* parent, QString* error) {
    const int cols = control.extra.value(QStringLiteral("cols")).toInt();
    const int key = control.extra.value(QStringLiteral("keyColumn"), 0).toInt();
    if (cols < 1 || key < 0 || key >= cols) {
        *error = QStringLiteral("the grid needs a column count and a key column within it");
        return nullptr;
    }
    auto* grid = new grid::FlexGrid(cols, key, parent);
    grid->SetTwipsPerPixel(forms::FormHost::ScreenTwipsPerPixel());
    const QVariantList headers = control.extra.value(QStringLiteral("headers")).toList();
    for (int c = 0; c < cols; ++c) grid->SetTextMatrix(0, c, headers.value(c).toString());
    const QVariantList widths = control.extra.value(QStringLiteral("colWidths")).toList();
    for (int c = 0; c < cols && c < widths.size(); ++c) grid->SetColWidth(c, widths[c].toDouble());
    for (const QVariant& hidden : control.extra.value(QStringLiteral("hiddenCols")).toList()) {
        grid->SetColHidden(hidden.toInt(), true);
    }
    grid->Model().SetAlignment(0, Qt::AlignCenter);
    grid->ColWidthMax = control.colWidthMax.value_or(0);
    grid->ColWidthMin = control.colWidthMin.value_or(0);
    grid->RowHeightMax = control.rowHeightMax.value_or(0);
    grid->RowHeightMin = control.rowHeightMin.value_or(0);
    return grid;
}

QWidget* MakeButton(const forms::Control& control, QWidget* parent, QString*) {
    auto* button = new controls::KivBtn(parent);
    button->ReadProperties(control.properties);
    return button;
}

}  // namespace

void RegisterStandardControls(FormHost& host) {
    host.Register(QStringLiteral("Label"), MakeLabel);
    host.Register(QStringLiteral("TextBox"), MakeTextBox);
    host.Register(QStringLiteral("Frame"), MakeFrame);
    host.Register(QStringLiteral("ProgressBar"), MakeProgressBar);
    host.Register(QStringLiteral("VSFlexGrid"), MakeGrid);
    host.Register(QStringLiteral("KivBtn"), MakeButton);
    host.Register(QStringLiteral("CommonDialog"),
                  [](const forms::Control&, QWidget*, QString*) -> QWidget* { return nullptr; });
}

}  // namespace kiv::forms
