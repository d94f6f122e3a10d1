#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

#include "filesystem/FileSystem.h"
#include "platform/formhost/FormHost.h"
#include "platform/formhost/Yield.h"

class QEventLoop;
class QLabel;

namespace kiv::controls {
class KivBtn;
}

namespace kiv::search {

// What the search window needs from the program; tests hand in doubles.
struct SearchServices {
    std::function<filesystem::FileSystem*()> fileSystem;  // the program's shared one
    forms::FontSystem* fonts = nullptr;
    Yield* yield = nullptr;  // nullptr: the window yields through one of its own
    // The main window's AddFileToList: true when a row was appended, false for a listed path.
    std::function<bool(const QString& path, const QString& name)> addFile;
    QString description = QStringLiteral(":/forms/frmsearch.json");
};

// The modal search window: shows the folder being searched and a Stop button, walks the tree
// under SrchDir on its first activation and unloads itself when the walk returns.
class frmsearch final : public QWidget {
    Q_OBJECT
  public:
    // Makes the window from its description, owned by `owner`; nullptr with `error` set when it
    // cannot be made.
    static std::unique_ptr<frmsearch> Create(SearchServices services, QWidget* owner, QString* error);
    ~frmsearch() override;

    // Scales the window and resets the search state.
    void Form_Load();

    QString SrchDir() const { return srchDir_; }
    void SetSrchDir(const QString& folder) { srchDir_ = folder; }

    // Shows the window modally, centred on its owner; returns once the window has unloaded.
    void ShowModal();

    // Starts the walk, the first time only.
    void Form_Activate();
    void cmdstop_Click();

    // "" loaded, "1" scanning, "2" stop requested.
    QString SearchState() const { return lblmainTag_; }
    bool Unloaded() const { return unloaded_; }
    // The captions in full; a label shows a long one shortened in the middle.
    QString MainCaption() const { return mainCaption_; }
    QString FolderCaption() const { return folderCaption_; }
    forms::FormHost& Host() { return *host_; }

  protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    frmsearch(SearchServices services, forms::FormModel model, QWidget* owner);
    bool Wire(QString* error);
    void SearchFolder(const QString& folder);
    void Unload();
    void CentreOnOwner();
    static void ShowCaption(QLabel* label, QString& caption, const QString& text);

    SearchServices services_;
    Yield ownYield_;
    Yield* yield_ = nullptr;
    QWidget* client_ = nullptr;
    std::unique_ptr<forms::FormHost> host_;
    QLabel* lblmain_ = nullptr;
    QLabel* lblfld_ = nullptr;
    controls::KivBtn* cmdstop_ = nullptr;
    QString srchDir_;
    QString lblmainTag_;  // the search state
    QString mainCaption_;
    QString folderCaption_;
    QEventLoop* modalLoop_ = nullptr;
    bool startQueued_ = false;
    bool running_ = false;
    bool unloaded_ = false;
};

}  // namespace kiv::search
