#pragma once

#include <QString>
#include <memory>
#include <optional>

class QFileDialog;
class QWidget;

namespace kiv::prompts {

enum class Icon { Information, Question, Critical };
enum class Buttons { Ok, YesNo };
enum class Answer { Ok, Yes, No };

struct Message {
    QString title;
    QString text;
    Icon icon = Icon::Information;
    Buttons buttons = Buttons::Ok;
    Answer defaultButton = Answer::Ok;
};

// Every modal question the program asks goes through here, so tests can answer by script.
class Prompts {
  public:
    virtual ~Prompts() = default;

    // Shows a modal message box owned by `owner` and returns the button chosen.
    virtual Answer ShowMessage(QWidget* owner, const Message& message) = 0;

    // Open-file dialog. `filter` uses the "Description|pattern" form; nothing means cancelled.
    virtual std::optional<QString> OpenFile(QWidget* owner, const QString& filter,
                                            const QString& fileName) = 0;

    // Folder chooser showing `instruction` above its tree; nothing means cancelled or no folder.
    virtual std::optional<QString> ChooseFolder(QWidget* owner, const QString& instruction) = 0;
};

// The dialogs of the desktop.
class QtPrompts final : public Prompts {
  public:
    Answer ShowMessage(QWidget* owner, const Message& message) override;
    std::optional<QString> OpenFile(QWidget* owner, const QString& filter, const QString& fileName) override;
    std::optional<QString> ChooseFolder(QWidget* owner, const QString& instruction) override;
};

// Turns a "Description|*.ext" filter into a Qt name filter whose patterns match any letter case.
QString ToQtNameFilter(const QString& filter);

// The open-file dialog as OpenFile shows it, not yet shown: its type list names only the
// description, while the patterns behind it match any letter case.
std::unique_ptr<QFileDialog> MakeOpenFileDialog(QWidget* owner, const QString& filter,
                                                const QString& fileName);

}  // namespace kiv::prompts
