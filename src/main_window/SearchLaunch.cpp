// The Search Files command of the main window: choose a folder, run the search window over it and
// tidy the list afterwards.
#include "controls/KivBtn/KivBtn.h"
#include "filesystem/ShownPath.h"
#include "main_window/frmmain.h"
#include "platform/grid/FlexGrid.h"
#include "search/BrowseForFolder.h"
#include "search/frmsearch.h"

namespace kiv::main_window {

void frmmain::cmdsearch_Click() {
    QString folder = search::BrowseForFolder(services_.prompts, this);
    if (folder.isEmpty()) return;
    // The chooser shows a byte of a name that is not UTF-8 as U+FFFD; search the folder it stands for.
    folder = PathToListText(filesystem::FindShownPath(Files(), ShownText(folder), true));
    SearchChosenFolder(folder);
}

void frmmain::SearchChosenFolder(const QString& folder) {
    searching_ = true;
    // Hidden, the grid takes the appended rows without repainting for each one.
    vs1_->hide();
    try {
        search::SearchServices services;
        services.fileSystem = services_.fileSystem;
        services.fonts = services_.fonts;
        services.yield = services_.yield;
        services.addFile = [this](const QString& path, const QString& name) {
            return AddFileToList(path, name);
        };
        QString error;
        if (auto window = search::frmsearch::Create(std::move(services), this, &error)) {
            window->Form_Load();
            window->SetSrchDir(folder);
            window->ShowModal();
        }
    } catch (...) {
        // A search window that cannot be made or shown leaves the list as it is; the grid still
        // comes back below.
    }
    searching_ = false;
    vs1_->show();
    cmdsearch_->setFocus();
    FitListColumns();
}

}  // namespace kiv::main_window
