#include "support/MainWindowHarness.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTest>
#include <cstdlib>

#include "platform/grid/FlexGrid.h"

namespace kiv::testing {

MainWindowHarness::MainWindowHarness(certificate::CertificateFactory certificates) {
    main_window::Services services;
    services.fileSystem = [this] { return files_; };
    services.prompts = &prompts;
    services.fonts = &fonts;
    services.certificates = std::move(certificates);
    // As the program does: the real component makes a run's keys ahead (others never ask for them).
    services.announceSaves = [](const std::string& password, std::size_t saves) {
        return certificate::AnnounceSaves(password, saves);
    };
    services.yield = &yield;
    services.endProgram = [this] { ++programEnds; };
    QString error;
    window_ = main_window::frmmain::Create(std::move(services), &error);
    if (!window_) {
        ADD_FAILURE() << "The main window could not be made: " << error.toStdString();
        std::abort();
    }
}

MainWindowHarness::~MainWindowHarness() {
    window_.reset();
}

void MainWindowHarness::Show() {
    window_->ShowWindow();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
}

void MainWindowHarness::AddThroughDialog(const QString& path) {
    prompts.AnswerOpenFile(path);
    window_->cmdadd_Click();
}

void MainWindowHarness::SetPasswords(const QString& first, const QString& second) {
    Control<QLineEdit>(QStringLiteral("txtpass"), 0)->setText(first);
    Control<QLineEdit>(QStringLiteral("txtpass"), 1)->setText(second);
}

void MainWindowHarness::ProceedConfirmed() {
    prompts.AnswerMessage(prompts::Answer::Yes);
    window_->cmdproceed_Click();
}

QString MainWindowHarness::Status(int row) {
    return Grid().TextMatrix(row, 3);
}
QString MainWindowHarness::Path(int row) {
    return Grid().TextMatrix(row, 1);
}

QString TempDir::File(const QString& name) const {
    return QString::fromStdString(TempFolder::Path(name.toStdString()));
}

}  // namespace kiv::testing
