#include "support/ScriptedPrompts.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace kiv::testing {

ScriptedPrompts::~ScriptedPrompts() {
    EXPECT_TRUE(script_.empty()) << script_.size() << " scripted answer(s) were never asked for";
}

void ScriptedPrompts::AnswerMessage(prompts::Answer answer) {
    script_.emplace_back(answer);
}
void ScriptedPrompts::AnswerOpenFile(std::optional<QString> path) {
    script_.emplace_back(OpenFileAnswer{std::move(path)});
}
void ScriptedPrompts::AnswerChooseFolder(std::optional<QString> path) {
    script_.emplace_back(FolderAnswer{std::move(path)});
}

QStringList ScriptedPrompts::AskedTexts() const {
    QStringList texts;
    for (const AskedPrompt& prompt : asked_) texts << prompt.text;
    return texts;
}

template <typename T>
std::optional<T> ScriptedPrompts::Next(const AskedPrompt& prompt) {
    asked_.push_back(prompt);
    if (whileShown) whileShown(prompt);
    if (script_.empty()) {
        ADD_FAILURE() << "Unexpected prompt: " << prompt.text.toStdString();
        return std::nullopt;
    }
    Answer answer = script_.front();
    script_.pop_front();
    if (!std::holds_alternative<T>(answer)) {
        ADD_FAILURE() << "The script has another kind of answer for prompt: " << prompt.text.toStdString();
        return std::nullopt;
    }
    return std::get<T>(answer);
}

prompts::Answer ScriptedPrompts::ShowMessage(QWidget*, const prompts::Message& message) {
    AskedPrompt prompt{AskedPrompt::Kind::Message, message.title, message.text, message.icon, message.buttons,
                       message.defaultButton};
    auto answer = Next<prompts::Answer>(prompt);
    return answer ? *answer : message.defaultButton;
}

std::optional<QString> ScriptedPrompts::OpenFile(QWidget*, const QString& filter, const QString&) {
    AskedPrompt prompt{AskedPrompt::Kind::OpenFile, {}, filter, {}, {}, {}};
    auto answer = Next<OpenFileAnswer>(prompt);
    return answer ? answer->path : std::nullopt;
}

std::optional<QString> ScriptedPrompts::ChooseFolder(QWidget*, const QString& instruction) {
    AskedPrompt prompt{AskedPrompt::Kind::ChooseFolder, {}, instruction, {}, {}, {}};
    auto answer = Next<FolderAnswer>(prompt);
    return answer ? answer->path : std::nullopt;
}

}  // namespace kiv::testing
