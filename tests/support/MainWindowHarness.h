#pragma once

#include <QString>
#include <filesystem>
#include <memory>

#include "main_window/frmmain.h"
#include "platform/formhost/Yield.h"
#include "platform/forms/QtFontSystem.h"
#include "support/ScriptedPrompts.h"
#include "support/TempFolder.h"

namespace kiv::testing {

// A main window built from the program's own description, with scripted prompts, a counting
// yield and a recorded program end. Offscreen; nothing here ever blocks on a dialog.
class MainWindowHarness {
  public:
    explicit MainWindowHarness(
        certificate::CertificateFactory certificates = certificate::OpenSslCertificateFactory());
    ~MainWindowHarness();

    main_window::frmmain& Window() { return *window_; }
    grid::FlexGrid& Grid() { return window_->Grid(); }
    // Runs the load step and shows the window, waiting until it is exposed.
    void Show();
    // Lists a file the way Add File does, through the open-file dialog.
    void AddThroughDialog(const QString& path);
    void SetPasswords(const QString& first, const QString& second);
    // The file system the window works on from now on (nullptr: the real one again); not owned.
    void UseFileSystem(filesystem::FileSystem* files) { files_ = files ? files : local_.get(); }
    // Runs Proceed with a Yes to its confirmation.
    void ProceedConfirmed();
    QString Status(int row);
    QString Path(int row);

    template <typename T>
    T* Control(const QString& name, int index = -1) {
        return window_->Host().As<T>(name, index);
    }

    ScriptedPrompts prompts;
    forms::QtFontSystem fonts;
    Yield yield;
    int programEnds = 0;

  private:
    std::unique_ptr<filesystem::FileSystem> local_ = filesystem::CreateLocalFileSystem();
    filesystem::FileSystem* files_ = local_.get();
    std::unique_ptr<main_window::frmmain> window_;
};

// The suite's temporary folder, with the paths as the window shows them.
class TempDir : public TempFolder {
  public:
    std::filesystem::path Path() const { return Root(); }
    QString File(const QString& name) const;
};

}  // namespace kiv::testing
