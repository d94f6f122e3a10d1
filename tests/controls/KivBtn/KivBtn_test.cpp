#include "controls/KivBtn/KivBtn.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <memory>

#include "controls/KivBtn/MainWindowSet.h"

namespace kiv::controls {
namespace {

class KivBtnTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window = std::make_unique<QWidget>();
        window->resize(400, 160);
        for (int i = 0; i < 3; ++i) {
            auto* b = new KivBtn(window.get());
            b->setObjectName(QStringLiteral("cmd%1").arg(i));
            b->setGeometry(10 + 130 * i, 20, 113, 25);
            buttons.push_back(b);
        }
        button = buttons.front();
        button->SetCaption("&Add");
        Record(button);
    }

    void TearDown() override {
        window.reset();
        QApplication::processEvents();
        EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());
    }

    void Show() {
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    void Record(KivBtn* b) {
        auto mouse = [this](const char* name) {
            return [this, name](short& button, short&, float& x, float& y) {
                log << QStringLiteral("%1(%2,%3,%4)").arg(QLatin1String(name)).arg(button).arg(x).arg(y);
            };
        };
        QObject::connect(b, &KivBtn::MouseDown, b, mouse("MouseDown"));
        QObject::connect(b, &KivBtn::MouseUp, b, mouse("MouseUp"));
        QObject::connect(b, &KivBtn::Click, b, [this] { log << "Click"; });
        QObject::connect(b, &KivBtn::MouseOver, b, [this] { log << "MouseOver"; });
        QObject::connect(b, &KivBtn::MouseOut, b, [this] { log << "MouseOut"; });
        QObject::connect(b, &KivBtn::MouseMove, b, [this](short&, short&, float&, float&) { ++moves; });
        QObject::connect(b, &KivBtn::KeyDown, b,
                         [this](short& code, short&) { log << QStringLiteral("KeyDown(%1)").arg(code); });
        QObject::connect(b, &KivBtn::KeyUp, b,
                         [this](short& code, short&) { log << QStringLiteral("KeyUp(%1)").arg(code); });
    }

    QPoint Centre(KivBtn* b) const { return b->rect().center(); }
    QPoint Outside() const { return window->mapToGlobal(QPoint(200, 130)); }

    // Input as the platform gives it to the window: Qt finds the widget under the pointer and, from the
    // timestamps, makes a quick second press at the same place into a double click.
    void Deliver(QEvent::Type type, QPoint at, int msLater, Qt::MouseButton button = Qt::LeftButton) {
        QWindow* w = window->windowHandle();
        const QPointF global = w->mapToGlobal(QPointF(at));
        if (type == QEvent::MouseMove) {
            QCursor::setPos(global.toPoint());
            button = Qt::NoButton;
        }
        const Qt::MouseButtons held =
            type == QEvent::MouseButtonPress ? Qt::MouseButtons(button) : Qt::NoButton;
        QTest::lastMouseTimestamp += msLater;
        qt_handleMouseEvent(w, QPointF(at), global, held, button, type, {}, QTest::lastMouseTimestamp);
        QApplication::processEvents();
    }
    void DeliverClick(QPoint at, int msLater) {
        Deliver(QEvent::MouseButtonPress, at, msLater);
        Deliver(QEvent::MouseButtonRelease, at, 1);
    }

    void Hover(KivBtn* b) {
        // The pointer may still rest where an earlier case left it, and a move to the same place is no move.
        QCursor::setPos(Outside());
        QApplication::processEvents();
        QTest::mouseMove(b, Centre(b));
        QApplication::processEvents();
    }

    std::unique_ptr<QWidget> window;
    std::vector<KivBtn*> buttons;
    KivBtn* button = nullptr;
    QStringList log;
    int moves = 0;
};

TEST_F(KivBtnTest, HoverEntersOnceAndLeavesWithinATick) {
    Show();
    Hover(button);
    EXPECT_TRUE(button->IsOver());
    EXPECT_EQ(log, QStringList{"MouseOver"});
    const int movesAfterEntry = moves;
    EXPECT_GE(movesAfterEntry, 1);
    QTest::mouseMove(button, Centre(button) + QPoint(5, 0));
    EXPECT_EQ(log, QStringList{"MouseOver"});
    EXPECT_GT(moves, movesAfterEntry);
    // Leave without any move reaching the button: the tracker notices.
    QCursor::setPos(Outside());
    QTRY_VERIFY_WITH_TIMEOUT(log.contains("MouseOut"), 1000);
    EXPECT_FALSE(button->IsOver());
    EXPECT_EQ(log, (QStringList{"MouseOver", "MouseOut"}));
}

TEST_F(KivBtnTest, SchemeTwoHoverPaintsFromBackOverAndKeepsBackColor) {
    button->SetColorScheme(2);
    button->SetButtonType(1);
    button->SetBackColor(0x808080);
    button->SetBackOver(0x00C000);
    button->SetCaption("");
    Show();
    EXPECT_EQ(platform::raster::FromQRgb(button->FaceImage().pixel(50, 12)), 0x808080u);
    Hover(button);
    EXPECT_EQ(platform::raster::FromQRgb(button->FaceImage().pixel(50, 12)), 0x00C000u);
    EXPECT_EQ(button->BackColor(), 0x808080u);
    EXPECT_EQ(button->Colors().face, 0x808080u);
}

TEST_F(KivBtnTest, LeftClickRaisesDownUpClick) {
    Show();
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_EQ(log, (QStringList{"MouseDown(1,20,10)", "MouseUp(1,20,10)", "Click"}));
    EXPECT_EQ(button->DrawnState(), FaceState::Up);
}

TEST_F(KivBtnTest, DragOffAndReleaseOutsideGivesNoClick) {
    Show();
    QTest::mousePress(button, Qt::LeftButton, {}, Centre(button));
    EXPECT_EQ(button->DrawnState(), FaceState::Down);
    QTest::mouseMove(button, QPoint(200, 12));
    EXPECT_EQ(button->DrawnState(), FaceState::Up);
    QTest::mouseMove(button, Centre(button));
    EXPECT_EQ(button->DrawnState(), FaceState::Down);
    QTest::mouseMove(button, QPoint(200, 12));
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(200, 12));
    EXPECT_FALSE(log.contains("Click"));
    EXPECT_TRUE(log.last().startsWith("MouseUp(1"));
}

TEST_F(KivBtnTest, RightClickLeavesTheFaceAndMiddlePressesIt) {
    Show();
    const quint64 paints = button->PaintCount();
    QTest::mouseClick(button, Qt::RightButton, {}, Centre(button));
    EXPECT_EQ(button->PaintCount(), paints);
    QTest::mousePress(button, Qt::MiddleButton, {}, Centre(button));
    EXPECT_EQ(button->DrawnState(), FaceState::Down);
    QTest::mouseRelease(button, Qt::MiddleButton, {}, Centre(button));
    EXPECT_EQ(button->DrawnState(), FaceState::Up);
    EXPECT_FALSE(log.contains("Click"));
    EXPECT_EQ(log.size(), 4);
}

TEST_F(KivBtnTest, DoubleClickClicksOnce) {
    Show();
    const QPoint at(30, 12);
    QTest::mouseClick(button, Qt::LeftButton, {}, at);
    QTest::mouseDClick(button, Qt::LeftButton, {}, at);
    QTest::mouseRelease(button, Qt::LeftButton, {}, at);
    EXPECT_EQ(log, (QStringList{"MouseDown(1,30,12)", "MouseUp(1,30,12)", "Click", "MouseDown(1,0,0)",
                                "MouseUp(1,30,12)"}));
}

TEST_F(KivBtnTest, PressOnTheNextButtonWhileTheFirstStillHoversClicksOnlyTheNext) {
    button->SetColorScheme(2);
    button->SetBackOver(0x00C000);
    KivBtn* next = buttons[1];
    QSignalSpy nextClicks(next, &KivBtn::Click);
    Show();
    const QImage normalFace = button->FaceImage();
    QCursor::setPos(Outside());
    Deliver(QEvent::MouseMove, button->geometry().center(), 1000);
    ASSERT_TRUE(button->IsOver());
    ASSERT_NE(button->FaceImage(), normalFace);
    // Straight on to the next button and click at once, before the first one's tracker has looked.
    const QPoint onNext = next->geometry().center();
    Deliver(QEvent::MouseMove, onNext, 1);
    DeliverClick(onNext, 1);
    EXPECT_EQ(nextClicks.count(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(!button->IsOver(), 1000);
    EXPECT_EQ(log, (QStringList{"MouseOver", "MouseOut"}));
    EXPECT_EQ(button->FaceImage(), normalFace);
    // Between the buttons nothing is clicked.
    const QPoint between = window->mapFromGlobal(Outside());
    Deliver(QEvent::MouseMove, between, 1000);
    DeliverClick(between, 1);
    EXPECT_EQ(nextClicks.count(), 1);
    EXPECT_FALSE(log.contains("Click"));
}

TEST_F(KivBtnTest, QuickClickAfterAnotherWindowHadTheUserIsNotADoubleClick) {
    Show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    const QPoint at = button->geometry().center();
    const QString down = QStringLiteral("MouseDown(1,%1,%2)").arg(Centre(button).x()).arg(Centre(button).y());
    const QString up = QStringLiteral("MouseUp(1,%1,%2)").arg(Centre(button).x()).arg(Centre(button).y());
    QCursor::setPos(Outside());
    Deliver(QEvent::MouseMove, at, 1000);
    DeliverClick(at, 1000);
    DeliverClick(at, 50);
    // Two quick clicks are one double click: one Click.
    EXPECT_EQ(log, (QStringList{"MouseOver", down, up, "Click", "MouseDown(1,0,0)", up}));

    // A handler that puts up a window of its own, which the user answers and closes at once.
    QWidget dialog;
    // Away from the pointer, so that the hover tracker's ticks do not see the pointer leave.
    dialog.setGeometry(QRect(window->frameGeometry().bottomRight() + QPoint(20, 20), QSize(100, 60)));
    QObject::connect(button, &KivBtn::Click, button, [&] {
        dialog.show();
        dialog.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
        dialog.hide();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    });
    log.clear();
    DeliverClick(at, 1000);
    DeliverClick(at, 50);
    EXPECT_EQ(log, (QStringList{down, up, "Click", down, up, "Click"}));
}

TEST_F(KivBtnTest, QuickClickAfterAModalDialogIsNotADoubleClickEvenWithoutActivation) {
    // On a bare X server nothing may move the activation to a dialog; the dialog still blocks the
    // button's window, and that alone makes the next quick click a click of its own.
    Show();
    const QPoint at = button->geometry().center();
    const QString down = QStringLiteral("MouseDown(1,%1,%2)").arg(Centre(button).x()).arg(Centre(button).y());
    const QString up = QStringLiteral("MouseUp(1,%1,%2)").arg(Centre(button).x()).arg(Centre(button).y());
    QCursor::setPos(Outside());
    Deliver(QEvent::MouseMove, at, 1000);
    QWidget dialog;
    // Away from the pointer, so that the hover tracker's ticks do not see the pointer leave.
    dialog.setGeometry(QRect(window->frameGeometry().bottomRight() + QPoint(20, 20), QSize(100, 60)));
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setAttribute(Qt::WA_ShowWithoutActivating);
    QObject::connect(button, &KivBtn::Click, button, [&] {
        dialog.show();
        QCoreApplication::processEvents();
        dialog.hide();
        QCoreApplication::processEvents();
    });
    log.clear();
    DeliverClick(at, 1000);
    DeliverClick(at, 50);
    EXPECT_EQ(log, (QStringList{down, up, "Click", down, up, "Click"}));
}

TEST_F(KivBtnTest, MouseDownHandlerCanChangeTheButton) {
    Show();
    QObject::connect(button, &KivBtn::MouseDown, button, [](short& b, short&, float&, float&) { b = 2; });
    QTest::mouseClick(button, Qt::LeftButton, {}, Centre(button));
    EXPECT_EQ(button->DrawnState(), FaceState::Up);
    EXPECT_FALSE(log.contains("Click"));  // the press now counts as a right press
}

TEST_F(KivBtnTest, SpaceClicksOnlyWhenItWasTheLastKey) {
    Show();
    button->setFocus();
    QTest::keyPress(button, Qt::Key_Space);
    EXPECT_EQ(button->DrawnState(), FaceState::Down);
    QTest::keyRelease(button, Qt::Key_Space);
    EXPECT_EQ(log, (QStringList{"KeyDown(32)", "KeyUp(32)", "Click"}));
    log.clear();
    QTest::keyPress(button, Qt::Key_Space);
    QTest::keyPress(button, Qt::Key_A);
    QTest::keyRelease(button, Qt::Key_Space);
    EXPECT_FALSE(log.contains("Click"));
    // Enter is no click of its own.
    log.clear();
    QTest::keyClick(button, Qt::Key_Return);
    EXPECT_FALSE(log.contains("Click"));
}

TEST_F(KivBtnTest, RepeatedKeyReleasesDoNotClick) {
    Show();
    button->setFocus();
    QTest::keyPress(button, Qt::Key_Space);
    QKeyEvent repeat(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, " ", true);
    QApplication::sendEvent(button, &repeat);
    EXPECT_FALSE(log.contains("Click"));
}

TEST_F(KivBtnTest, KeyDownHandlerCancelsTheSpacePress) {
    Show();
    button->setFocus();
    QObject::connect(button, &KivBtn::KeyDown, button, [](short& code, short&) { code = 0; });
    QTest::keyClick(button, Qt::Key_Space);
    EXPECT_EQ(button->DrawnState(), FaceState::Up);
    EXPECT_FALSE(log.contains("Click"));
}

TEST_F(KivBtnTest, ArrowsMoveTheFocusAlongTheTabOrder) {
    Show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    buttons[1]->setFocus();
    QTest::keyClick(buttons[1], Qt::Key_Right);
    EXPECT_TRUE(buttons[2]->hasFocus());
    EXPECT_TRUE(buttons[2]->HasFocus());
    QTest::keyClick(buttons[2], Qt::Key_Up);
    EXPECT_TRUE(buttons[1]->hasFocus());
    QTest::keyClick(buttons[1], Qt::Key_Left);
    EXPECT_TRUE(button->hasFocus());
    QTest::keyClick(button, Qt::Key_Down);
    EXPECT_TRUE(buttons[1]->hasFocus());
    EXPECT_FALSE(log.contains("Click"));
}

TEST_F(KivBtnTest, AccessKeyClicksWithoutThePushedFace) {
    Show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    EXPECT_EQ(button->AccessKey(), QChar('a'));
    QObject::connect(button, &KivBtn::Click, button,
                     [this] { EXPECT_EQ(button->DrawnState(), FaceState::Up); });
    QTest::keyClick(window.get(), Qt::Key_A, Qt::AltModifier);
    EXPECT_EQ(log, QStringList{"Click"});
    button->SetEnabled(false);
    QTest::keyClick(window.get(), Qt::Key_A, Qt::AltModifier);
    EXPECT_EQ(log, QStringList{"Click"});
}

TEST_F(KivBtnTest, CheckBoxButtonFlipsValueAndStaysDown) {
    button->SetCheckBoxBehaviour(true);
    Show();
    button->setFocus();
    QTest::mouseClick(button, Qt::LeftButton, {}, Centre(button));
    EXPECT_TRUE(button->Value());
    EXPECT_EQ(button->DrawnState(), FaceState::Down);
    Hover(button);
    EXPECT_EQ(button->DrawnState(), FaceState::Down);
    QTest::keyClick(button, Qt::Key_Space);
    EXPECT_FALSE(button->Value());
    EXPECT_EQ(button->DrawnState(), FaceState::Up);
}

TEST_F(KivBtnTest, ValueWithoutCheckBoxIsStoredUnpainted) {
    Show();
    const quint64 paints = button->PaintCount();
    button->SetValue(true);
    EXPECT_EQ(button->PaintCount(), paints);
    button->SetCheckBoxBehaviour(true);
    EXPECT_EQ(button->DrawnState(), FaceState::Down);
}

TEST_F(KivBtnTest, PaintsOnlyWhenSomethingChangedOrForced) {
    Show();
    const quint64 paints = button->PaintCount();
    button->DrawButton(FaceState::Up, false);
    EXPECT_EQ(button->PaintCount(), paints);
    button->DrawButton(FaceState::Up, true);
    EXPECT_EQ(button->PaintCount(), paints + 1);
    button->DisableRefresh();
    button->SetCaption("Other");
    EXPECT_EQ(button->PaintCount(), paints + 1);
    button->Refresh();
    EXPECT_EQ(button->PaintCount(), paints + 2);
}

TEST_F(KivBtnTest, ZeroHeightOrHiddenButtonsDoNotPaint) {
    buttons[1]->setGeometry(150, 20, 113, 0);
    Show();
    buttons[1]->SetCaption("Never");
    EXPECT_EQ(buttons[1]->PaintCount(), 0u);
    button->hide();
    const quint64 paints = button->PaintCount();
    button->SetCaption("Later");
    EXPECT_EQ(button->PaintCount(), paints);
    button->show();
    EXPECT_GT(button->PaintCount(), paints);
}

TEST_F(KivBtnTest, ResizeRebuildsTheRegionAndTheImage) {
    button->SetButtonType(3);
    Show();
    EXPECT_FALSE(button->mask().contains(QPoint(0, 0)));
    EXPECT_TRUE(button->mask().contains(QPoint(2, 0)));
    button->setGeometry(10, 20, 80, 40);
    EXPECT_EQ(button->FaceImage().size(), QSize(80, 40));
    EXPECT_FALSE(button->mask().contains(QPoint(79, 38)));
    EXPECT_TRUE(button->mask().contains(QPoint(79, 37)));
    EXPECT_EQ(button->FaceRect(), (Rect{4, 4, 76, 36}));
    button->SetButtonType(14);
    EXPECT_EQ(button->FaceRect(), (Rect{6, 6, 76, 36}));
}

TEST_F(KivBtnTest, OvalButtonHoversOnlyInsideItsEllipse) {
    button->SetButtonType(13);
    Show();
    EXPECT_FALSE(button->HitTest(QPoint(1, 1)));
    EXPECT_TRUE(button->HitTest(Centre(button)));
    QCursor::setPos(button->mapToGlobal(QPoint(1, 1)));
    QApplication::processEvents();
    EXPECT_FALSE(button->IsMouseOver());
    EXPECT_FALSE(log.contains("MouseOver"));
    Hover(button);
    EXPECT_TRUE(button->IsMouseOver());
    EXPECT_TRUE(log.contains("MouseOver"));
}

TEST_F(KivBtnTest, DisablingByAnyRouteRedrawsTheFace) {
    button->SetCaption("");
    button->SetButtonType(3);         // its disabled face is flat, its normal face a gradient
    button->SetShowFocusRect(false);  // disabling passes the focus on, which type 3 would show
    Show();
    const QImage enabled = button->FaceImage().copy();
    button->setEnabled(false);
    EXPECT_FALSE(button->Enabled());
    EXPECT_NE(button->FaceImage(), enabled);
    button->setEnabled(true);
    EXPECT_EQ(button->FaceImage(), enabled);
    window->setEnabled(false);  // the container: looks disabled, keeps its own setting
    EXPECT_TRUE(button->Enabled());
    EXPECT_NE(button->FaceImage(), enabled);
}

TEST_F(KivBtnTest, HostFontBecomesTheButtonFont) {
    Show();
    const int height = button->Layout().textHeight;
    QFont big = button->font();
    big.setPixelSize(20);
    button->setFont(big);
    EXPECT_EQ(button->Font().pixelSize(), 20);
    EXPECT_GT(button->Layout().textHeight, height);
}

TEST_F(KivBtnTest, HandlerDeletingTheButtonIsSafe) {
    Show();
    QObject::connect(button, &KivBtn::Click, button, [this] { delete buttons[0]; });
    QTest::mouseClick(button, Qt::LeftButton, {}, Centre(button));
    EXPECT_EQ(window->findChildren<KivBtn*>().size(), 2);
}

// Property behaviour ------------------------------------------------------------------------

TEST_F(KivBtnTest, LoadingTheMainWindowSet) {
    button->ReadProperties(MainWindowSet());
    EXPECT_TRUE(button->ReadProblems().isEmpty());
    EXPECT_EQ(button->ButtonType(), 3);
    EXPECT_EQ(button->AccessKey(), QChar('a'));
    EXPECT_EQ(button->MousePointer(), 99);
    EXPECT_EQ(button->cursor().shape(), Qt::BitmapCursor);
    EXPECT_EQ(button->cursor().hotSpot(), KivBtn::HandPointerHotSpot());
    EXPECT_EQ(button->FontSize(), 8);
    EXPECT_TRUE(button->FontBold());
    Show();
    EXPECT_FALSE(button->mask().contains(QPoint(1, 0)));
    const QVariantMap written = button->WriteProperties();
    auto* copy = new KivBtn(window.get());
    copy->ReadProperties(written);
    EXPECT_EQ(copy->WriteProperties(), written);
}

TEST_F(KivBtnTest, LoadingAnEmptySetGivesTheArrowAndSystemColours) {
    button->ReadProperties({{"mptr", 2}});
    EXPECT_EQ(button->MousePointer(), 1);
    EXPECT_EQ(button->Caption(), QString());
    EXPECT_EQ(button->BackColor(), CurrentSystemColors().face);
    EXPECT_EQ(button->BackOver(), button->BackColor());
    EXPECT_EQ(button->ButtonType(), 2);
    EXPECT_FALSE(button->WriteProperties().contains("picn"));
}

TEST_F(KivBtnTest, WrongValuesLoadSafely) {
    button->ReadProperties({{"btype", QVariantList{1}}, {"font", 12}, {"picn", "/no/such/picture.xpm"}});
    EXPECT_EQ(button->ReadProblems().size(), 2);
    EXPECT_EQ(button->ButtonType(), 2);
    EXPECT_EQ(button->PictureSize(), QSize(0, 0));
    Show();  // and it still paints
    EXPECT_GT(button->PaintCount(), 0u);
}

TEST_F(KivBtnTest, PicturesLoadFromFilesAndLayOutBesideTheCaption) {
    QTemporaryDir dir;
    QImage picture(16, 16, QImage::Format_RGB32);
    picture.fill(qRgb(0xC0, 0xC0, 0xC0));
    picture.setPixel(8, 8, qRgb(255, 0, 0));
    const QString path = dir.filePath("add.png");
    ASSERT_TRUE(picture.save(path));
    button->SetPictureNormal(path);
    Show();
    EXPECT_EQ(button->PictureSize(), QSize(16, 16));
    const QPoint at = button->PictureOrigin();
    EXPECT_EQ(at.x(), button->Layout().captionRect.left - 20);
    EXPECT_EQ(platform::raster::FromQRgb(button->FaceImage().pixel(at + QPoint(8, 8))), 0x0000FFu);
    EXPECT_EQ(button->FaceImage().pixel(at), button->FaceImage().pixel(at + QPoint(1, 0)));
}

TEST_F(KivBtnTest, SettersNotifyWithTheirKeys) {
    QSignalSpy spy(button, &KivBtn::PropertyChanged);
    button->SetFontBold(true);
    EXPECT_EQ(spy.count(), 0);
    button->SetFont(QFont());
    button->SetPictureOver(QString());
    button->SetMousePointer(2);
    EXPECT_FALSE(button->SetMousePointer(70000));
    EXPECT_EQ(button->MousePointer(), 2);
    QStringList keys;
    for (const auto& args : spy) keys << args.at(0).toString();
    EXPECT_EQ(keys, (QStringList{"FONT", "PICO", "MPTR"}));
}

TEST_F(KivBtnTest, DesignModeColoursAndBoldFollow) {
    button->SetBackOver(0x111111);
    button->SetBackColor(0x222222);
    EXPECT_EQ(button->BackOver(), 0x111111u);
    button->SetButtonType(5);
    EXPECT_FALSE(button->FontBold());
    button->SetUserMode(false);
    button->SetBackColor(0x333333);
    button->SetForeColor(0x444444);
    EXPECT_EQ(button->BackOver(), 0x333333u);
    EXPECT_EQ(button->ForeOver(), 0x444444u);
    button->SetButtonType(5);
    EXPECT_TRUE(button->FontBold());
}

TEST_F(KivBtnTest, NewInstanceDefaults) {
    button->InitProperties("KivBtn1");
    EXPECT_EQ(button->Caption(), "KivBtn1");
    EXPECT_EQ(button->ButtonType(), 2);
    EXPECT_EQ(button->ColorScheme(), 1);
    EXPECT_TRUE(button->ShowFocusRect());
    EXPECT_EQ(button->MaskColor(), 0xC0C0C0u);
    EXPECT_EQ(button->BackColor(), CurrentSystemColors().face);
    EXPECT_EQ(button->ForeOver(), CurrentSystemColors().text);
    EXPECT_EQ(button->Version(), "2.0.6 B");
    EXPECT_FALSE(KivBtn::HandPointerImage().isNull());
    EXPECT_EQ(KivBtn::HandPointerImage().size(), QSize(32, 32));
}

// A button made in code has no picture, so its caption sits where a loaded button's does.
TEST_F(KivBtnTest, ButtonMadeInCodeLaysOutLikeALoadedOne) {
    KivBtn* made = buttons[1];
    KivBtn* loaded = buttons[2];
    Show();
    loaded->ReadProperties({{"tx", "Go"}, {"font", QVariantMap{{"name", made->FontName()}, {"size", 9}}}});
    made->SetFont(loaded->Font());
    made->SetCaption("Go");
    EXPECT_EQ(made->PictureSize(), QSize(0, 0));
    for (int w : {113, 114}) {
        made->resize(w, 25);
        loaded->resize(w, 25);
        EXPECT_EQ(made->Layout().captionRect, loaded->Layout().captionRect) << w;
    }
}

}  // namespace
}  // namespace kiv::controls
