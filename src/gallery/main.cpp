// kivbtn-gallery: draws KivBtn faces to PNG files, one button or every type in every look.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QTextStream>
#include <cstdio>

#include "app/identity/Resources.h"
#include "gallery/FaceGallery.h"
#include "gallery/ReferenceFaces.h"
#include "platform/forms/FontStandIns.h"

namespace {

using namespace kiv::gallery;

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

const char* const kUsageText =
    "usage:\n"
    "  kivbtn-gallery [--program] [--look LOOK] [--size WxH] --out FILE.png [key=value ...]\n"
    "  kivbtn-gallery --all DIR\n"
    "  kivbtn-gallery --references DIR\n"
    "\n"
    "The first form draws one button loaded from the persisted keys given (btype=12 coltype=2\n"
    "bcol=0xC0E0FF font=\"Trebuchet MS,8.25,bold\" tx=\"Proceed >>\" ...); --program starts from the\n"
    "set the program's Proceed button stores. LOOK is up, down (pushed by the Space key), pressed\n"
    "(pushed by the mouse, so hovered too), disabled, hover, focus, default or latched; up when not\n"
    "given. The size defaults to the program's buttons, 113x25. Pixels outside the button's window\n"
    "region are transparent.\n"
    "--all draws every type 0..14 in every look for the custom scheme with the program's colours\n"
    "and for the fixed scheme 3, one file per face and a contact sheet per scheme.\n"
    "--references writes the pixel tests' reference images.\n";

QTextStream& Err() {
    static QTextStream err(stderr);
    return err;
}

int Usage(const QString& problem) {
    Err() << "kivbtn-gallery: " << problem << "\n\n" << kUsageText;
    Err().flush();
    return kUsage;
}

bool Save(const QImage& image, const QString& path) {
    if (image.save(path, "PNG")) return true;
    Err() << "kivbtn-gallery: cannot write " << path << "\n";
    Err().flush();
    return false;
}

std::optional<QVariantMap> ProgramSet() {
    QFile form(QStringLiteral(":/forms/frmmain.json"));
    if (!form.open(QIODevice::ReadOnly)) {
        Err() << "kivbtn-gallery: the main window description is missing\n";
        return std::nullopt;
    }
    StoredSet stored = StoredButtonSet(form.readAll(), QStringLiteral("cmdproceed"));
    if (!stored.error.isEmpty()) {
        Err() << "kivbtn-gallery: " << stored.error << "\n";
        return std::nullopt;
    }
    return stored.set;
}

bool ReportProblems(const QStringList& problems) {
    for (const QString& p : problems) Err() << "kivbtn-gallery: the button could not use " << p << "\n";
    Err().flush();
    return problems.isEmpty();
}

std::optional<QDir> OutputFolder(const QString& path) {
    QDir dir(path);
    if (!dir.mkpath(QStringLiteral("."))) {
        Err() << "kivbtn-gallery: cannot make the folder " << path << "\n";
        return std::nullopt;
    }
    return dir;
}

int RenderAll(FaceCamera& camera, const QString& path) {
    const auto dir = OutputFolder(path);
    const auto program = ProgramSet();
    if (!dir || !program) return kFailed;
    QVariantMap custom = *program;
    // The program's buttons hide the focus rectangle; shown here, the focus looks have something to show.
    custom.insert(QStringLiteral("focusr"), true);
    QVariantMap fixed = custom;
    fixed.insert(QStringLiteral("coltype"), 3);
    const QList<std::tuple<QString, QString, QVariantMap>> schemes{
        {QStringLiteral("scheme2"),
         QStringLiteral("KivBtn, the program's own look: scheme 2, BackColor 0xC0E0FF, BackOver 0xC0FFFF"),
         custom},
        {QStringLiteral("scheme3"), QStringLiteral("KivBtn, scheme 3 (fixed colours)"), fixed}};
    QStringList columns;
    for (Look look : AllLooks()) columns << NameOf(look);
    QStringList problems;
    for (const auto& [name, title, base] : schemes) {
        if (!dir->mkpath(name)) return kFailed;
        QList<QList<QImage>> rows;
        QStringList rowLabels;
        for (int type = 0; type <= 14; ++type) {
            QVariantMap set = base;
            set.insert(QStringLiteral("btype"), type);
            QList<QImage> row;
            for (Look look : AllLooks()) {
                Shot shot = camera.Render(set, look, {113, 25});
                problems << shot.problems;
                const QString file = QStringLiteral("%1/type%2-%3.png")
                                         .arg(name)
                                         .arg(type, 2, 10, QLatin1Char('0'))
                                         .arg(NameOf(look));
                if (!Save(shot.image, dir->filePath(file))) return kFailed;
                row << shot.image;
            }
            rows << row;
            rowLabels << QStringLiteral("type %1").arg(type);
        }
        if (!Save(ContactSheet(title, rowLabels, columns, rows),
                  dir->filePath(QStringLiteral("contact-%1.png").arg(name))))
            return kFailed;
    }
    return ReportProblems(problems) ? kOk : kFailed;
}

int RenderReferences(FaceCamera& camera, const QString& path) {
    const QFontInfo font{QFont(kReferenceFontFamily)};
    if (font.family() != kReferenceFontFamily) {
        Err() << "kivbtn-gallery: the reference font " << kReferenceFontFamily
              << " is not installed (Qt gives " << font.family() << "); run scripts/setup.sh\n";
        return kFailed;
    }
    const auto dir = OutputFolder(path);
    const auto program = ProgramSet();
    if (!dir || !program) return kFailed;
    QStringList problems;
    for (const ReferenceSheet& sheet : ReferenceSheets(*program)) {
        if (!Save(Tile(RenderSheet(camera, sheet, &problems)),
                  dir->filePath(sheet.name + QStringLiteral(".png"))))
            return kFailed;
    }
    return ReportProblems(problems) ? kOk : kFailed;
}

int RenderOne(FaceCamera& camera, const QStringList& args) {
    Look look = Look::Up;
    QSize size(113, 25);
    QString out;
    bool fromProgram = false;
    QStringList words;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args.at(i);
        const bool hasValue = i + 1 < args.size();
        if (a == QLatin1String("--program")) {
            fromProgram = true;
        } else if (a == QLatin1String("--look") && hasValue) {
            const auto named = LookNamed(args.at(++i));
            if (!named) return Usage(QStringLiteral("unknown look \"%1\"").arg(args.at(i)));
            look = *named;
        } else if (a == QLatin1String("--size") && hasValue) {
            const QStringList wh = args.at(++i).toLower().split(QLatin1Char('x'));
            bool okW = false, okH = false;
            const int w = wh.size() == 2 ? wh.at(0).toInt(&okW) : 0;
            const int h = wh.size() == 2 ? wh.at(1).toInt(&okH) : 0;
            if (!okW || !okH || w < 1 || h < 1 || w > 4096 || h > 4096)
                return Usage(QStringLiteral("the size \"%1\" is not WxH between 1 and 4096").arg(args.at(i)));
            size = {w, h};
        } else if (a == QLatin1String("--out") && hasValue) {
            out = args.at(++i);
        } else if (a.startsWith(QLatin1String("--"))) {
            return Usage(QStringLiteral("unknown or incomplete option \"%1\"").arg(a));
        } else {
            words << a;
        }
    }
    if (out.isEmpty()) return Usage(QStringLiteral("no --out file given"));
    ParsedSet parsed = ParseProperties(words);
    if (!parsed.errors.isEmpty()) return Usage(parsed.errors.join(QLatin1Char('\n')));
    QVariantMap set;
    if (fromProgram) {
        const auto program = ProgramSet();
        if (!program) return kFailed;
        set = *program;
    }
    for (auto it = parsed.set.cbegin(); it != parsed.set.cend(); ++it) set.insert(it.key(), it.value());
    Shot shot = camera.Render(set, look, size);
    if (!ReportProblems(shot.problems)) return kUsage;
    return Save(shot.image, out) ? kOk : kFailed;
}

}  // namespace

int main(int argc, char** argv) {
    // The faces are drawn into the button's own image, and the hover look moves the pointer: no
    // display is needed, and a real pointer must not be taken over.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    kiv::app::InitResources();
    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty() || args.contains(QLatin1String("--help")) || args.contains(QLatin1String("-h"))) {
        QTextStream(stdout) << kUsageText;
        return args.isEmpty() ? kUsage : kOk;
    }
    const bool references = args.front() == QLatin1String("--references");
    // The references name their font directly; everything else draws the windows' fonts as the program does.
    if (!references) kiv::forms::InstallFontStandIns();
    FaceCamera camera;
    if (!camera.Ready()) {
        Err() << "kivbtn-gallery: the drawing window could not be shown\n";
        return kFailed;
    }
    if (args.front() == QLatin1String("--all") || references) {
        if (args.size() != 2) return Usage(QStringLiteral("%1 takes one folder").arg(args.front()));
        return references ? RenderReferences(camera, args.at(1)) : RenderAll(camera, args.at(1));
    }
    return RenderOne(camera, args);
}
