// What the main window tells assistive technology about its controls.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>

#include "main_window/frmmain.h"
#include "platform/grid/FlexGrid.h"

namespace kiv::main_window {

void frmmain::NameControls() {
    // A label names the box it is the buddy of; neither password caption has an access key to add.
    if (auto* label = host_->As<QLabel>(QStringLiteral("Label1"))) label->setBuddy(txtpass_[0]);
    if (auto* label = host_->As<QLabel>(QStringLiteral("Label2"))) label->setBuddy(txtpass_[1]);
    // The format's caption carries the access key that takes the focus to the choice.
    if (auto* label = host_->As<QLabel>(QStringLiteral("lblformat"))) label->setBuddy(cboformat_);
    vs1_->setAccessibleName(QStringLiteral("File list"));
    pb_->setAccessibleName(QStringLiteral("Progress"));
    DescribeProgress();
}

void frmmain::DescribeProgress() {
    const QString description = InRun() ? lblpb_->text() : QString();
    if (pb_->accessibleDescription() != description) pb_->setAccessibleDescription(description);
}

}  // namespace kiv::main_window
