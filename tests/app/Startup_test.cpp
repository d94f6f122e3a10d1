// Start-up: the single-instance guard, the file-system check and the main window's creation.
#include "app/Startup.h"

#include <gtest/gtest.h>

#include <QApplication>

#include "app/SingleInstance.h"
#include "app/scaling/DisplayMetrics.h"
#include "platform/forms/QtFontSystem.h"
#include "support/FakeCertificate.h"
#include "support/MainWindowHarness.h"

namespace kiv::testing {
namespace {

using prompts::Answer;

class StartupTest : public ::testing::Test {
  protected:
    StartupTest() {
        services.checkInstance = [] { return app::SingleInstance::State::First; };
        services.fileSystem = [this] { return files.get(); };
        services.measureDisplay = [this] { ++measured; };
        services.window.prompts = &prompts;
        services.window.fonts = &fonts;
        services.window.certificates = certificates.Factory();
        services.window.yield = &yield;
        services.window.endProgram = [] {};
    }
    void TearDown() override { EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty()); }

    std::unique_ptr<filesystem::FileSystem> files = filesystem::CreateLocalFileSystem();
    ScriptedPrompts prompts;
    forms::QtFontSystem fonts;
    FakeCertificates certificates;
    Yield yield;
    int measured = 0;
    app::StartupServices services;
};

TEST_F(StartupTest, ShowsTheMainWindowAfterMeasuringTheDisplay) {
    auto window = app::StartUp(services);
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(measured, 1);
    EXPECT_TRUE(prompts.Asked().empty());
}

TEST_F(StartupTest, AnotherRunningCopyEndsWithOnlyTheMessage) {
    services.checkInstance = [] { return app::SingleInstance::State::AnotherRunning; };
    prompts.AnswerMessage(Answer::Ok);
    EXPECT_FALSE(app::StartUp(services));
    ASSERT_EQ(prompts.Asked().size(), 1u);
    EXPECT_EQ(prompts.Asked()[0].text, "A Previous Instance of Application is already Running.");
    EXPECT_EQ(prompts.Asked()[0].icon, prompts::Icon::Information);
    EXPECT_EQ(prompts.Asked()[0].title, "Kiv Pfx Utility");
    EXPECT_EQ(measured, 0);
}

TEST_F(StartupTest, MissingFileSystemEndsBeforeTheDisplayIsMeasured) {
    for (auto broken : std::vector<std::function<filesystem::FileSystem*()>>{
             [] { return nullptr; },
             []() -> filesystem::FileSystem* { throw std::runtime_error("no runtime"); }}) {
        services.fileSystem = broken;
        prompts.AnswerMessage(Answer::Ok);
        EXPECT_FALSE(app::StartUp(services));
        EXPECT_EQ(prompts.Asked().back().text, "Scripting Runtime is not registered.");
    }
    EXPECT_EQ(measured, 0);
}

TEST_F(StartupTest, AFailingMeasurementIsPassedOver) {
    services.measureDisplay = [] { throw std::runtime_error("no screen"); };
    EXPECT_TRUE(app::StartUp(services));
}

TEST_F(StartupTest, AWindowThatCannotBeMadeIsReportedAndEnds) {
    TempDir dir;
    services.window.description = dir.File("missing.json");
    prompts.AnswerMessage(Answer::Ok);
    EXPECT_FALSE(app::StartUp(services));
    ASSERT_EQ(prompts.Asked().size(), 1u);
    EXPECT_TRUE(prompts.Asked()[0].text.startsWith("Error : ")) << prompts.Asked()[0].text.toStdString();
    EXPECT_GT(prompts.Asked()[0].text.size(), 8);
    EXPECT_EQ(prompts.Asked()[0].icon, prompts::Icon::Critical);
}

TEST(SingleInstanceTest, SecondHolderOfTheLockIsRefusedUntilTheFirstGoes) {
    TempDir dir;
    const std::string lock = dir.File("instance.lock").toStdString();
    auto first = std::make_unique<app::SingleInstance>(lock);
    EXPECT_EQ(first->Acquire(), app::SingleInstance::State::First);
    app::SingleInstance second(lock);
    EXPECT_EQ(second.Acquire(), app::SingleInstance::State::AnotherRunning);
    first.reset();
    app::SingleInstance third(lock);
    EXPECT_EQ(third.Acquire(), app::SingleInstance::State::First);
}

TEST(SingleInstanceTest, LockThatCannotBeOpenedIsUnknown) {
    TempDir dir;
    app::SingleInstance guard(dir.File("no/such/folder/instance.lock").toStdString());
    EXPECT_EQ(guard.Acquire(), app::SingleInstance::State::Unknown);
}

}  // namespace
}  // namespace kiv::testing
