#pragma once

#include <QString>
#include <deque>
#include <functional>
#include <optional>
#include <variant>
#include <vector>

#include "platform/prompts/Prompts.h"

namespace kiv::testing {

// A prompt the program showed, as the user would have seen it.
struct AskedPrompt {
    enum class Kind { Message, OpenFile, ChooseFolder };
    Kind kind = Kind::Message;
    QString title;
    QString text;  // message text, open-file filter or folder instruction
    prompts::Icon icon = prompts::Icon::Information;
    prompts::Buttons buttons = prompts::Buttons::Ok;
    prompts::Answer defaultButton = prompts::Answer::Ok;
};

// Answers the program's prompts from a script. A prompt with no scripted answer, or an answer of
// the wrong kind, fails the test; answers left over when it goes away fail it too.
class ScriptedPrompts final : public prompts::Prompts {
  public:
    ~ScriptedPrompts() override;

    void AnswerMessage(prompts::Answer answer);
    void AnswerOpenFile(std::optional<QString> path);
    void AnswerChooseFolder(std::optional<QString> path);

    const std::vector<AskedPrompt>& Asked() const { return asked_; }
    QStringList AskedTexts() const;
    int Pending() const { return static_cast<int>(script_.size()); }

    // Runs while a prompt is "on screen", before its answer is given, like a nested modal loop.
    std::function<void(const AskedPrompt&)> whileShown;

    prompts::Answer ShowMessage(QWidget* owner, const prompts::Message& message) override;
    std::optional<QString> OpenFile(QWidget* owner, const QString& filter, const QString& fileName) override;
    std::optional<QString> ChooseFolder(QWidget* owner, const QString& instruction) override;

  private:
    struct OpenFileAnswer {
        std::optional<QString> path;
    };
    struct FolderAnswer {
        std::optional<QString> path;
    };
    using Answer = std::variant<prompts::Answer, OpenFileAnswer, FolderAnswer>;

    template <typename T>
    std::optional<T> Next(const AskedPrompt& prompt);

    std::deque<Answer> script_;
    std::vector<AskedPrompt> asked_;
};

}  // namespace kiv::testing
