// Files and folders dropped onto the main window.
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include "main_window/frmmain.h"

namespace kiv::main_window {

namespace {

// A file URL carries the name's bytes percent-encoded, so a name that is not UTF-8 keeps its bytes
// on the way to the list.
QString ListPathOf(const QUrl& url) {
    if (!url.isLocalFile()) return QString();
    const QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    return PathToListText(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

QStringList LocalPaths(const QMimeData* data) {
    QStringList paths;
    if (!data || !data->hasUrls()) return paths;
    for (const QUrl& url : data->urls()) {
        const QString path = ListPathOf(url);
        if (!path.isEmpty()) paths << path;
    }
    return paths;
}

// We only read the dropped files, so a move is never accepted: the dragging program must not
// delete what it dragged.
void AcceptAsCopy(QDropEvent* event) {
    if (event->possibleActions() & Qt::CopyAction) {
        event->setDropAction(Qt::CopyAction);
    } else if (event->possibleActions() & Qt::LinkAction) {
        event->setDropAction(Qt::LinkAction);
    } else {
        event->ignore();
        return;
    }
    event->accept();
}

}  // namespace

bool frmmain::TakesDrop(const QMimeData* data) const {
    // The list is not to change during a run, a search, or while a question is open.
    if (ended_ || InRun() || searching_ || dropPending_ || QApplication::activeModalWidget()) return false;
    return !LocalPaths(data).isEmpty();
}

void frmmain::dragEnterEvent(QDragEnterEvent* event) {
    if (TakesDrop(event->mimeData())) {
        AcceptAsCopy(event);
    } else {
        event->ignore();
    }
}

void frmmain::dragMoveEvent(QDragMoveEvent* event) {
    if (TakesDrop(event->mimeData())) {
        AcceptAsCopy(event);
    } else {
        event->ignore();
    }
}

void frmmain::dropEvent(QDropEvent* event) {
    if (!TakesDrop(event->mimeData())) {
        event->ignore();
        return;
    }
    AcceptAsCopy(event);
    if (!event->isAccepted()) return;
    // The drop completes before any question or search window opens, so the program the files
    // came from is not kept waiting for the answer.
    dropPending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this, paths = LocalPaths(event->mimeData())] {
            dropPending_ = false;
            AddDroppedPaths(paths);
        },
        Qt::QueuedConnection);
}

void frmmain::AddDroppedPaths(const QStringList& paths) {
    // A run or a search may have begun between the drop and now.
    if (ended_ || InRun() || searching_) return;
    filesystem::FileSystem* files = Files();
    if (!files) return;
    // The message for a listed path is for a single dropped file; among many it is skipped
    // silently, as a search skips it.
    const bool single = paths.size() == 1;
    bool added = false;
    for (const QString& path : paths) {
        if (ended_) break;
        const std::string local = ListTextToPath(path);
        if (files->Identity(local)) {
            SearchChosenFolder(path);
            added = false;  // the search has fitted the columns to everything listed so far
        } else if (files->FileExists(local)) {
            added = AddChosenFile(path, single) || added;
        }
    }
    if (added) FitListColumns();
}

}  // namespace kiv::main_window
