// The protection run: Proceed's checks and confirmation, and one protected copy per listed file.
#include <openssl/crypto.h>

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>

#include "certificate/Secret.h"
#include "controls/KivBtn/KivBtn.h"
#include "engine/ProtectFile.h"
#include "main_window/frmmain.h"
#include "platform/grid/FlexGrid.h"

namespace kiv::main_window {

using prompts::Answer;
using prompts::Buttons;
using prompts::Icon;

namespace {

const QString kConfirmation = QStringLiteral(
    "Note : It is highly recommended to keep original Pfx files saved with you.\r\n\r\n"
    "All the Pfx files with password will be saved in the same location with [_Password] as suffix."
    "\r\n\r\n\r\nDo you really want to continue?");
}  // namespace

void frmmain::cmdproceed_Click() {
    if (vs1_->Rows() == 1) {
        Ask(QStringLiteral("No File Selected."), Icon::Information, Buttons::Ok);
        return;
    }
    if (txtpass_[0]->text().isEmpty()) {
        Ask(QStringLiteral("Please Enter Password."), Icon::Information, Buttons::Ok);
        txtpass_[0]->setFocus();
        return;
    }
    if (txtpass_[1]->text() != txtpass_[0]->text()) {
        Ask(QStringLiteral("Password Mismatch."), Icon::Critical, Buttons::Ok);
        txtpass_[1]->setFocus();
        return;
    }
    if (Ask(kConfirmation, Icon::Question, Buttons::YesNo) != Answer::Yes) return;

    vs1_->setEnabled(false);
    frame1_->hide();
    lblpb_->setText(QString());
    pb_->setValue(0);
    pb_->setMaximum(vs1_->Rows() - 1);
    fampg_->show();
    DescribeProgress();
    fampgTag_.clear();
    ProtectListedFiles();
    // The quit question was answered Yes during the run: the program is ending.
    if (ended_) return;
    fampg_->hide();
    DescribeProgress();
    vs1_->setEnabled(true);
    frame1_->show();
    cmdproceed_->setFocus();
}

void frmmain::ProtectListedFiles() {
    const int n = vs1_->Rows() - 1;
    ClearStatuses();
    certificate::Secret password;
    {
        QByteArray utf8 = txtpass_[0]->text().toUtf8();
        password.Append({utf8.constData(), static_cast<std::size_t>(utf8.size())});
        OPENSSL_cleanse(utf8.data(), static_cast<std::size_t>(utf8.size()));
    }
    // Ends (and wipes what it prepared) before the password is wiped.
    std::unique_ptr<certificate::SavesAhead> ahead;
    if (services_.announceSaves)
        ahead = services_.announceSaves(password.Text(), static_cast<std::size_t>(n));
    for (int i = 1; i <= n; ++i) {
        if (!fampgTag_.isEmpty()) break;
        pb_->setValue(i);
        // QProgressBar skips the redraw of a step narrower than its chunk metric and counts the
        // step as shown once any part of it is painted; the label above overlaps the bar's top
        // row and repaints it each file, so without this the bar never fills on a long list.
        pb_->update();
        lblpb_->setText(QStringLiteral("Generating File (%1 of %2)").arg(pb_->value()).arg(pb_->maximum()));
        DescribeProgress();
        if (services_.yield) (*services_.yield)();
        if (ended_) return;
        if (i >= vs1_->Rows()) break;
        const std::string source = ListTextToPath(vs1_->TextMatrix(i, kPathCol));
        vs1_->SetTextMatrix(i, kStatusCol,
                            ProtectFile(source, engine::OutputPathFor(source), password.Text()));
    }
    FitListColumns();
}

QString frmmain::ProtectFile(const std::string& source, const std::string& output,
                             const std::string& password) {
    const engine::FileResult result =
        engine::ProtectFile(Files(), services_.certificates, source, output, password);
    // The status may carry the output path's bytes.
    return PathToListText(result.status);
}

}  // namespace kiv::main_window
