#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>

#include "platform/prompts/Prompts.h"

namespace kiv::prompts {

Answer QtPrompts::ShowMessage(QWidget* owner, const Message& message) {
    QMessageBox box(owner);
    box.setWindowTitle(message.title);
    box.setText(message.text);
    switch (message.icon) {
        case Icon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case Icon::Question:
            box.setIcon(QMessageBox::Question);
            break;
        case Icon::Critical:
            box.setIcon(QMessageBox::Critical);
            break;
    }
    if (message.buttons == Buttons::YesNo) {
        QPushButton* yes = box.addButton(QMessageBox::Yes);
        QPushButton* no = box.addButton(QMessageBox::No);
        box.setDefaultButton(message.defaultButton == Answer::Yes ? yes : no);
        box.setEscapeButton(no);
        box.exec();
        return box.clickedButton() == yes ? Answer::Yes : Answer::No;
    }
    box.setDefaultButton(box.addButton(QMessageBox::Ok));
    box.exec();
    return Answer::Ok;
}

QString ToQtNameFilter(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    const QString description = parts.value(0);
    QStringList patterns;
    for (const QString& pattern : parts.value(1, QStringLiteral("*")).split(QLatin1Char(';'))) {
        QString caseless;
        for (const QChar c : pattern.trimmed()) {
            if (c.isLetter() && c.toLower() != c.toUpper()) {
                caseless += QLatin1Char('[') + c.toLower() + c.toUpper() + QLatin1Char(']');
            } else {
                caseless += c;
            }
        }
        patterns << caseless;
    }
    return QStringLiteral("%1 (%2)").arg(description, patterns.join(QLatin1Char(' ')));
}

std::unique_ptr<QFileDialog> MakeOpenFileDialog(QWidget* owner, const QString& filter,
                                                const QString& fileName) {
    auto dialog = std::make_unique<QFileDialog>(owner);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFile);
    // The letter-case patterns are ours, not the user's business: the type list shows "Pfx Files".
    dialog->setOption(QFileDialog::HideNameFilterDetails, true);
    dialog->setNameFilter(ToQtNameFilter(filter));
    dialog->selectFile(fileName);
    return dialog;
}

std::optional<QString> QtPrompts::OpenFile(QWidget* owner, const QString& filter, const QString& fileName) {
    const auto dialog = MakeOpenFileDialog(owner, filter, fileName);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return std::nullopt;
    return dialog->selectedFiles().constFirst();
}

std::optional<QString> QtPrompts::ChooseFolder(QWidget* owner, const QString& instruction) {
    QFileDialog dialog(owner);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setLabelText(QFileDialog::LookIn, instruction);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    QString folder = dialog.selectedFiles().constFirst();
    if (folder.isEmpty()) return std::nullopt;
    return folder;
}

}  // namespace kiv::prompts
