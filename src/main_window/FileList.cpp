// The file list: one row per .pfx file under a fixed header row, its duplicate test and deletes.
#include "engine/SameFile.h"
#include "main_window/frmmain.h"
#include "platform/grid/FlexGrid.h"

namespace kiv::main_window {

using prompts::Answer;
using prompts::Buttons;
using prompts::Icon;

int frmmain::FindListedFile(const QString& path) const {
    for (int row = vs1_->FindRow(path, 1, kPathCol); row >= 1; row = vs1_->FindRow(path, row + 1, kPathCol)) {
        const std::string listed = ListTextToPath(vs1_->Model().CellText(row, kPathCol));
        if (engine::SameListedFile(Files(), listed, ListTextToPath(path))) return row;
    }
    return -1;
}

bool frmmain::AddFileToList(const QString& path, const QString& name) {
    if (FindListedFile(path) >= 1) return false;
    const int row = vs1_->Rows();
    vs1_->Model().AppendRow({QString::number(row), path, name, QString()});
    return true;
}

void frmmain::FitListColumns() {
    vs1_->AutoSize(0, vs1_->Model().Cols() - 1);
}

void frmmain::RenumberFileList() {
    for (int row = 1; row < vs1_->Rows(); ++row) vs1_->SetTextMatrix(row, kNumberCol, QString::number(row));
}

void frmmain::ClearStatuses() {
    vs1_->Model().SetRangeText(1, kStatusCol, vs1_->Rows() - 1, kStatusCol, QString());
}

void frmmain::cmddelete_Click() {
    if (vs1_->Row() < 1) {
        Ask(QStringLiteral("Select a File."), Icon::Information, Buttons::Ok);
        vs1_->setFocus();
        return;
    }
    if (Ask(QStringLiteral("Do you really want to delete selected Item from the list?"), Icon::Question,
            Buttons::YesNo) != Answer::Yes) {
        return;
    }
    vs1_->RemoveItem(vs1_->Row());
    RenumberFileList();
}

void frmmain::cmddeleteall_Click() {
    if (vs1_->Rows() < 2) {
        Ask(QStringLiteral("Nothing to Delete."), Icon::Information, Buttons::Ok);
        vs1_->setFocus();
        return;
    }
    if (Ask(QStringLiteral("Do you really want to delete all the items in the list?"), Icon::Critical,
            Buttons::YesNo) != Answer::Yes) {
        return;
    }
    vs1_->SetRows(1);
}

}  // namespace kiv::main_window
