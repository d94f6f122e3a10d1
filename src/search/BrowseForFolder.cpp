#include "search/BrowseForFolder.h"

namespace kiv::search {

QString BrowseForFolder(prompts::Prompts* prompts, QWidget* owner) {
    if (!prompts) return {};
    try {
        return prompts->ChooseFolder(owner, kFolderInstruction).value_or(QString());
    } catch (...) {
        // The command treats a chooser that could not be shown like a cancel.
        return {};
    }
}

}  // namespace kiv::search
