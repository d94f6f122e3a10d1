#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "certificate/Certificate.h"
#include "filesystem/FileSystem.h"
#include "platform/formhost/FormHost.h"
#include "platform/formhost/ListPath.h"
#include "platform/formhost/Yield.h"
#include "platform/prompts/Prompts.h"

class QDragEnterEvent;
class QDragMoveEvent;
class QDropEvent;
class QLabel;
class QMimeData;
class QLineEdit;
class QProgressBar;

namespace kiv::controls {
class KivBtn;
}
namespace kiv::grid {
class FlexGrid;
}

namespace kiv::main_window {

using forms::ListTextToPath;
using forms::PathToListText;
using forms::ShownText;

// What the main window needs from the rest of the program; tests hand in doubles.
struct Services {
    // The program's shared file-system object; it answers nullptr when it cannot be made.
    std::function<filesystem::FileSystem*()> fileSystem;
    prompts::Prompts* prompts = nullptr;
    forms::FontSystem* fonts = nullptr;
    certificate::CertificateFactory certificates;
    // Announces a run's saves to the certificate component, which may then prepare them ahead;
    // the run keeps what it returns until it ends. Optional.
    std::function<std::unique_ptr<certificate::SavesAhead>(const std::string& password, std::size_t saves)>
        announceSaves;
    Yield* yield = nullptr;
    std::function<void()> endProgram;  // ends the program at once
    QString description = QStringLiteral(":/forms/frmmain.json");
};

// The file list's columns: running number, full path (the key), bare name (hidden), status.
inline constexpr int kNumberCol = 0;
inline constexpr int kPathCol = 1;
inline constexpr int kNameCol = 2;
inline constexpr int kStatusCol = 3;

// The program's main window: the file list, the password pair, the commands and the progress
// frame of a protection run.
class frmmain final : public QWidget {
    Q_OBJECT
  public:
    // Makes the window from its description; nullptr with `error` set when it cannot be made.
    static std::unique_ptr<frmmain> Create(Services services, QString* error);
    ~frmmain() override;

    // Shows the window modelessly, running its load step first.
    void ShowWindow();

    // File list.
    int FindListedFile(const QString& path) const;
    bool AddFileToList(const QString& path, const QString& name);
    void FitListColumns();
    void RenumberFileList();
    void ClearStatuses();

    // Handlers.
    void Form_Load();
    void Form_KeyPress(int& keyAscii);
    void cmdadd_Click();
    void cmddelete_Click();
    void cmddeleteall_Click();
    void cmdproceed_Click();
    void cmdsearch_Click();

    // Dropped files are listed as Add File lists them, dropped folders searched as Search Files
    // searches them; nothing is taken during a protection run.
    void AddDroppedPaths(const QStringList& paths);

    bool InRun() const;
    bool Ended() const { return ended_; }
    forms::FormHost& Host() { return *host_; }
    grid::FlexGrid& Grid() const { return *vs1_; }
    QString StopRequest() const { return fampgTag_; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    frmmain(Services services, forms::FormModel model);
    bool Wire(QString* error);
    // Names for assistive technology; nothing visible changes.
    void NameControls();
    // The progress bar carries the progress text as its description while a run is on.
    void DescribeProgress();
    prompts::Answer Ask(const QString& text, prompts::Icon icon, prompts::Buttons buttons);
    void ProtectListedFiles();
    // Paths are the file system's bytes; gives the status text.
    QString ProtectFile(const std::string& source, const std::string& output, const std::string& password);
    // Add File from the point where a path has been chosen: false when nothing was listed.
    // `reportListed` shows the message for a path already in the list.
    bool AddChosenFile(const QString& path, bool reportListed);
    // Search Files from the point where a folder has been chosen.
    void SearchChosenFolder(const QString& folder);
    bool TakesDrop(const QMimeData* data) const;
    filesystem::FileSystem* Files() const { return services_.fileSystem ? services_.fileSystem() : nullptr; }

    Services services_;
    std::unique_ptr<forms::FormHost> host_;
    grid::FlexGrid* vs1_ = nullptr;
    QWidget* frame1_ = nullptr;
    QWidget* fampg_ = nullptr;
    QLabel* lblpb_ = nullptr;
    QProgressBar* pb_ = nullptr;
    QLineEdit* txtpass_[2] = {nullptr, nullptr};
    controls::KivBtn* cmdadd_ = nullptr;
    controls::KivBtn* cmdsearch_ = nullptr;
    controls::KivBtn* cmddelete_ = nullptr;
    controls::KivBtn* cmddeleteall_ = nullptr;
    controls::KivBtn* cmdproceed_ = nullptr;
    controls::KivBtn* cmdexit_ = nullptr;
    controls::KivBtn* cmdstop_ = nullptr;
    QString fampgTag_;  // the stop request of a run: empty goes on, anything else stops
    bool ended_ = false;
    bool searching_ = false;
    bool dropPending_ = false;
};

}  // namespace kiv::main_window
