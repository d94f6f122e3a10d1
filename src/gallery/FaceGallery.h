#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <memory>
#include <optional>

class QScreen;
class QWidget;

namespace kiv::gallery {

// The visual states a button can be shown in, each reached the way the host or the user reaches it.
// Down is the pushed face with the pointer elsewhere (the Space key); Pressed is a mouse press on a
// hovered button.
enum class Look { Up, Down, Pressed, Disabled, Hover, Focus, Default, Latched };

const QList<Look>& AllLooks();
QString NameOf(Look look);
std::optional<Look> LookNamed(const QString& name);

struct ParsedSet {
    QVariantMap set;
    QStringList errors;  // one line per word that could not be used
};

// Turns "key=value" words into a persisted property set: numbers in decimal or 0x hex, true/false,
// text, and "font=Name,size[,bold][,italic][,underline]". Unknown keys are errors.
ParsedSet ParseProperties(const QStringList& words);

// The persisted set a button of a window description stores, or an error naming what is missing.
struct StoredSet {
    QVariantMap set;
    QString error;
};
StoredSet StoredButtonSet(const QByteArray& formJson, const QString& buttonName);

struct Shot {
    QImage image;          // ARGB32; pixels outside the button's window region are fully transparent
    QImage face;           // the button's own image, in device pixels and tagged with their ratio
    QStringList problems;  // what the button could not use of the set
};

// Renders buttons on one shown host window whose background is fixed, so a see-through button
// always shows the same thing behind it; on the screen given (the primary one by default), so at
// that screen's device pixel ratio. Needs a QApplication.
class FaceCamera {
  public:
    explicit FaceCamera(QScreen* screen = nullptr);
    ~FaceCamera();
    FaceCamera(const FaceCamera&) = delete;
    FaceCamera& operator=(const FaceCamera&) = delete;

    // False when the host window could not be shown; no hover can be rendered then.
    bool Ready() const { return ready_; }
    // A fresh button loaded from the set, sized, shown and brought into the look; its back buffer.
    Shot Render(const QVariantMap& set, Look look, QSize size);

  private:
    std::unique_ptr<QWidget> host_;
    bool ready_ = false;
};

// cells[row][column] laid edge to edge; every cell has the size of the first.
QImage Tile(const QList<QList<QImage>>& cells);
// The same cell of a tiled image.
QImage CellOf(const QImage& tiled, QSize cell, int row, int column);

// A labelled sheet for people: a title, the looks across, one row per labelled line of cells.
QImage ContactSheet(const QString& title, const QStringList& rowLabels, const QStringList& columnLabels,
                    const QList<QList<QImage>>& cells);

// expected | actual | differences, enlarged so single pixels can be seen; a different pixel is red.
QImage DiffImage(const QImage& expected, const QImage& actual);

}  // namespace kiv::gallery
