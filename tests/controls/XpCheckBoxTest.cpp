#include "CheckBoxArt.h"
#include "OleColor.h"
#include "XpCheckBox.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

using namespace vireo;

namespace {

template <class Condition>
bool waitUntil(Condition condition, int timeoutMs = 200)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(2);
    }
    return true;
}

QImage image(const QPixmap &pm)
{
    return pm.toImage().convertToFormat(QImage::Format_ARGB32);
}

class XpCheckBoxTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        host = std::make_unique<QWidget>();
        host->resize(300, 120);
        QFont font(QStringLiteral("WenQuanYi Micro Hei"), 11);
        host->setFont(font);
        other = new QLineEdit(host.get()); // takes the focus when the window activates
        other->setGeometry(20, 80, 100, 20);
        box = new XpCheckBox(host.get());
        box->setGeometry(20, 20, 150, 20);
        watch(box);
        host->show();
        host->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(host.get()));
        QCursor::setPos(host->mapToGlobal(QPoint(250, 100)));
        QApplication::processEvents();
        log.clear();
    }

    void watch(XpCheckBox *b)
    {
        auto mouse = [this](const char *name) {
            return [this, name](short &button, short &shift, float &x, float &y) {
                log << QStringLiteral("%1(%2,%3,%4,%5)").arg(QLatin1String(name)).arg(button)
                           .arg(shift).arg(x).arg(y);
            };
        };
        QObject::connect(b, &XpCheckBox::Click, [this, b] {
            log << QStringLiteral("Click(%1)").arg(b->Value());
        });
        QObject::connect(b, &XpCheckBox::KeyDown, [this](short &code, short &shift) {
            log << QStringLiteral("KeyDown(%1,%2)").arg(code).arg(shift);
        });
        QObject::connect(b, &XpCheckBox::KeyPress, [this](short &ascii) {
            log << QStringLiteral("KeyPress(%1)").arg(ascii);
        });
        QObject::connect(b, &XpCheckBox::KeyUp, [this](short &code, short &shift) {
            log << QStringLiteral("KeyUp(%1,%2)").arg(code).arg(shift);
        });
        QObject::connect(b, &XpCheckBox::MouseOut, [this] { log << QStringLiteral("MouseOut"); });
        QObject::connect(b, &XpCheckBox::MouseDown, mouse("MouseDown"));
        QObject::connect(b, &XpCheckBox::MouseMove, mouse("MouseMove"));
        QObject::connect(b, &XpCheckBox::MouseUp, mouse("MouseUp"));
        QObject::connect(b, &XpCheckBox::PropertyChanged, [this, b](const QString &name) {
            log << QStringLiteral("%1=%2").arg(name, b->property(name.toLatin1()).toString());
        });
    }

    QLabel *part(const char *name) { return box->findChild<QLabel *>(QLatin1String(name)); }
    QImage shown() { return image(part("p")->pixmap()); }
    QImage cell(int look, int index) { return image(XpCheckBox::cell(CheckBoxArt::strip(look), index)); }
    void cursorTo(QWidget *w, QPoint pos) { QTest::mouseMove(w, pos); }
    void cursorAway() { QCursor::setPos(host->mapToGlobal(QPoint(250, 100))); }

    QStringList log; // outlives the host, whose teardown still raises events
    std::unique_ptr<QWidget> host;
    XpCheckBox *box = nullptr;
    QLineEdit *other = nullptr;
};

TEST_F(XpCheckBoxTest, NewControlHasPlacementDefaults)
{
    EXPECT_EQ(box->objectName(), "XpCheckBox1");
    EXPECT_EQ(box->Caption(), "XpCheckBox1");
    EXPECT_EQ(XpCheckBox(host.get()).Caption(), "XpCheckBox2");
    EXPECT_TRUE(box->Enabled());
    EXPECT_EQ(box->Value(), 0);
    EXPECT_EQ(box->CheckBoxLook(), 0);
    EXPECT_EQ(box->BackColor(), 0x8000000Fu);
    EXPECT_EQ(box->ForeColor(), 0u);
    EXPECT_EQ(box->Font(), host->font());
    EXPECT_EQ(box->palette().color(QPalette::Window), qApp->palette().color(QPalette::Button));
    EXPECT_EQ(part("lbl")->palette().color(QPalette::WindowText), QColor(Qt::black));
    EXPECT_EQ(box->shownCell(), 0);
    EXPECT_EQ(shown(), cell(0, 0));
    EXPECT_EQ(box->hotCell(), 1);
}

TEST_F(XpCheckBoxTest, LayoutCentresGlyphAndCaptionInTwips)
{
    box->resize(150, 30); // 450 twips
    const int labelHeight = part("lbl")->height();
    EXPECT_EQ(part("p")->geometry(), QRect(0, (450 - 195) / 2 / 15, 13, 13));
    EXPECT_EQ(part("lbl")->pos(), QPoint(16, (450 - labelHeight * 15) / 2 / 15));

    const int width = part("lbl")->width();
    box->setCaption(QStringLiteral("一个更长的标题文字"));
    EXPECT_GT(part("lbl")->width(), width);
    QFont big = box->Font();
    big.setPointSize(20);
    box->setFont(big);
    EXPECT_GT(part("lbl")->height(), labelHeight);
    EXPECT_EQ(part("lbl")->font(), big);
    EXPECT_EQ(part("lbl")->y(), (450 - part("lbl")->height() * 15) / 2 / 15);
}

TEST_F(XpCheckBoxTest, LooksAreDistinctStripsOfTwelveCells)
{
    for (int look = 0; look < CheckBoxArt::LookCount; ++look) {
        const QPixmap strip = CheckBoxArt::strip(look);
        ASSERT_EQ(strip.size(), QSize(156, 13));
        for (int other = 0; other < look; ++other)
            EXPECT_NE(image(strip), image(CheckBoxArt::strip(other))) << look << " " << other;
        for (int a = 0; a < 12; ++a)
            for (int b = 0; b < a; ++b)
                EXPECT_NE(cell(look, a), cell(look, b)) << "look " << look << " cells " << a << b;
    }
    box->setValue(1);
    box->setCheckBoxLook(7);
    EXPECT_EQ(image(box->strip()), image(CheckBoxArt::strip(7)));
    EXPECT_EQ(shown(), cell(7, 4));
}

TEST_F(XpCheckBoxTest, LookOutsideRangeIsRefusedAndOldStripStays)
{
    box->setCheckBoxLook(4);
    box->setValue(2);
    log.clear();
    EXPECT_THROW(box->setCheckBoxLook(14), std::out_of_range);
    EXPECT_THROW(box->setCheckBoxLook(-1), std::out_of_range);
    EXPECT_EQ(box->CheckBoxLook(), 4);
    EXPECT_EQ(image(box->strip()), image(CheckBoxArt::strip(4)));
    EXPECT_EQ(shown(), cell(4, 8));
    EXPECT_TRUE(log.isEmpty()) << log.join(' ').toStdString();
}

TEST_F(XpCheckBoxTest, ClickRaisesClickBeforeToggleOnEveryPart)
{
    box->setFocus();
    QApplication::processEvents();
    log.clear();
    QTest::mouseClick(part("p"), Qt::LeftButton, {}, QPoint(3, 4));
    EXPECT_EQ(log, QStringList({"MouseDown(1,0,3,4)", "MouseUp(1,0,3,4)", "Click(0)", "Value=1"}));
    EXPECT_EQ(box->shownCell(), 4);

    QTest::mouseClick(part("lbl"), Qt::LeftButton);
    EXPECT_EQ(box->Value(), 0);
    QTest::mouseClick(box, Qt::LeftButton, Qt::ShiftModifier, QPoint(140, 2));
    EXPECT_EQ(box->Value(), 1);
    EXPECT_TRUE(log.contains("MouseDown(1,1,140,2)"));

    box->setValue(2);
    QTest::mouseClick(part("p"), Qt::LeftButton);
    EXPECT_EQ(box->Value(), 0);

    // Values outside 0..2 are kept and not drawn.
    box->setValue(5);
    EXPECT_EQ(box->shownCell(), 0);
    QTest::mouseClick(part("p"), Qt::LeftButton);
    EXPECT_EQ(box->Value(), 5);
    EXPECT_EQ(box->shownCell(), 0);

    // Right button and a release away from the pressed part do not click.
    box->setValue(0);
    log.clear();
    QTest::mouseClick(part("p"), Qt::RightButton);
    QTest::mousePress(part("p"), Qt::LeftButton);
    QTest::mouseRelease(part("p"), Qt::LeftButton, {}, QPoint(60, 5));
    EXPECT_EQ(box->Value(), 0);
    EXPECT_FALSE(log.join(' ').contains("Click"));
}

TEST_F(XpCheckBoxTest, PressShowsPressedCellAndSuppressesMoves)
{
    box->setValue(1);
    QTest::mousePress(part("p"), Qt::LeftButton);
    EXPECT_EQ(box->shownCell(), 6);
    EXPECT_TRUE(box->buttonHeld());
    log.clear();
    QTest::mouseMove(part("lbl"), QPoint(2, 2));
    EXPECT_TRUE(log.isEmpty());
    QTest::mouseRelease(part("p"), Qt::LeftButton);
    EXPECT_FALSE(box->buttonHeld());
    EXPECT_EQ(box->shownCell(), 0);
}

TEST_F(XpCheckBoxTest, SpaceRaisesClickTwiceAndTogglesOnce)
{
    QWidget *p = part("p");
    p->setFocus();
    QApplication::processEvents();
    log.clear();
    QTest::keyPress(p, Qt::Key_Space);
    EXPECT_EQ(box->shownCell(), 2);
    EXPECT_TRUE(box->buttonHeld());
    QTest::keyRelease(p, Qt::Key_Space);
    EXPECT_EQ(log, QStringList({"KeyDown(32,0)", "KeyPress(32)", "Click(0)", "MouseDown(1,0,0,0)",
                                "KeyUp(32,0)", "Click(0)", "Value=1"}));
    EXPECT_EQ(box->shownCell(), 4);
    EXPECT_FALSE(box->buttonHeld());

    log.clear();
    QTest::keyClick(p, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(p, Qt::Key_F2);
    EXPECT_EQ(log, QStringList({"KeyDown(17,2)", "KeyDown(65,2)", "KeyDown(113,0)"}));
    EXPECT_EQ(box->Value(), 1);
}

TEST_F(XpCheckBoxTest, DisabledControlShowsGreyAndOnlyRaisesMouseUp)
{
    box->setValue(2);
    box->setForeColor(0x000000FF); // red
    EXPECT_EQ(part("lbl")->palette().color(QPalette::WindowText), QColor(Qt::red));
    log.clear();
    box->setEnabled(false);
    EXPECT_EQ(log, QStringList({"Enabled=false"}));
    EXPECT_FALSE(box->Enabled());
    EXPECT_EQ(box->shownCell(), 11);
    EXPECT_EQ(part("lbl")->palette().color(QPalette::WindowText),
              qApp->palette().color(QPalette::Disabled, QPalette::Text));
    EXPECT_EQ(OleColor::toColor(OleColor::GrayText),
              qApp->palette().color(QPalette::Disabled, QPalette::Text));

    log.clear();
    for (QWidget *w : {static_cast<QWidget *>(box), static_cast<QWidget *>(part("p")),
                       static_cast<QWidget *>(part("lbl"))}) {
        cursorTo(w, QPoint(3, 3));
        QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(3, 3));
    }
    EXPECT_EQ(log, QStringList({"MouseUp(1,0,3,3)", "MouseUp(1,0,3,3)", "MouseUp(1,0,3,3)"}));
    EXPECT_EQ(box->Value(), 2);
    EXPECT_FALSE(box->isTracking());

    box->setEnabled(true);
    EXPECT_EQ(box->shownCell(), 8);
    EXPECT_EQ(part("lbl")->palette().color(QPalette::WindowText), QColor(Qt::red));
}

TEST_F(XpCheckBoxTest, DisablingWhileHoveringStopsTracking)
{
    cursorTo(part("p"), QPoint(5, 5));
    ASSERT_TRUE(box->isTracking());
    box->setEnabled(false);
    EXPECT_FALSE(box->isTracking());
    EXPECT_EQ(box->shownCell(), 3);
    cursorAway();
    QTest::qWait(40);
    EXPECT_FALSE(log.contains("MouseOut"));
}

TEST_F(XpCheckBoxTest, LeavingRestoresNormalCellAndRaisesMouseOutOnce)
{
    cursorTo(part("lbl"), QPoint(4, 4));
    EXPECT_EQ(QCursor::pos(), part("lbl")->mapToGlobal(QPoint(4, 4)));
    EXPECT_EQ(log, QStringList({"MouseMove(0,0,4,4)"}));
    EXPECT_EQ(box->shownCell(), 1);
    EXPECT_TRUE(box->isTracking());
    cursorTo(box, QPoint(100, 10)); // hot cell already shown: no event
    EXPECT_EQ(log.size(), 1);

    cursorTo(box, QPoint(150, 20)); // far edges count as inside
    QTest::qWait(30);
    EXPECT_FALSE(log.contains("MouseOut"));

    cursorAway();
    EXPECT_TRUE(waitUntil([&] { return log.contains("MouseOut"); }));
    QTest::qWait(50);
    EXPECT_EQ(log.count("MouseOut"), 1);
    EXPECT_EQ(box->shownCell(), 0);
    EXPECT_FALSE(box->isTracking());
}

TEST_F(XpCheckBoxTest, HeldButtonKeepsPressedCellUntilReleased)
{
    // Focused first: gaining focus stops the hover timer, a later hover restarts it.
    box->setFocus();
    box->setValue(0);
    cursorTo(part("p"), QPoint(5, 5));
    ASSERT_TRUE(box->isTracking());
    QTest::mousePress(part("p"), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(box->isTracking());
    cursorAway();
    QTest::qWait(50);
    EXPECT_FALSE(log.contains("MouseOut"));
    EXPECT_EQ(box->shownCell(), 2);

    QTest::mouseRelease(part("p"), Qt::LeftButton, {}, part("p")->mapFromGlobal(QCursor::pos()));
    EXPECT_EQ(box->Value(), 0); // released outside: no click
    EXPECT_TRUE(waitUntil([&] { return log.contains("MouseOut"); }));
    EXPECT_EQ(log.count("MouseOut"), 1);
    EXPECT_EQ(box->shownCell(), 0);
}

TEST_F(XpCheckBoxTest, FocusKeepsHotCellUntilLost)
{
    box->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(log, QStringList({"MouseMove(0,0,0,0)"}));
    EXPECT_EQ(box->shownCell(), 1);
    EXPECT_FALSE(box->isTracking());
    QTest::qWait(30);
    EXPECT_EQ(box->shownCell(), 1);

    other->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(log.count("MouseMove(0,0,0,0)"), 2);
    EXPECT_TRUE(waitUntil([&] { return log.contains("MouseOut"); }));
    EXPECT_EQ(box->shownCell(), 0);
}

TEST_F(XpCheckBoxTest, PropertiesPersistInOrderWithTheirDefaults)
{
    PropertyBag empty;
    box->writeProperties(empty);
    EXPECT_EQ(empty.values().keys(), QStringList({"Caption"})); // the name differs from "CheckBox"

    box->setCheckBoxLook(9);
    box->setValue(2);
    box->setCaption(QStringLiteral("启用 "));
    box->setBackColor(0x00C0FFEE);
    QFont font(QStringLiteral("WenQuanYi Micro Hei"), 15);
    box->setFont(font);
    box->setForeColor(0x00FF0000);
    box->setEnabled(false);
    PropertyBag bag;
    box->writeProperties(bag);

    XpCheckBox loaded(bag, host.get());
    EXPECT_FALSE(loaded.Enabled());
    EXPECT_EQ(loaded.CheckBoxLook(), 9);
    EXPECT_EQ(loaded.Value(), 2);
    EXPECT_EQ(loaded.Caption(), "启用 ");
    EXPECT_EQ(loaded.BackColor(), 0x00C0FFEEu);
    EXPECT_EQ(loaded.palette().color(QPalette::Window), QColor(0xEE, 0xFF, 0xC0));
    EXPECT_EQ(loaded.Font(), font);
    EXPECT_EQ(loaded.ForeColor(), 0x00FF0000u);
    EXPECT_EQ(loaded.shownCell(), 11);

    log.clear();
    box->setCaption(QStringLiteral("CheckBox"));
    box->setEnabled(true);
    PropertyBag renamed;
    box->writeProperties(renamed);
    EXPECT_FALSE(renamed.contains("Caption"));
    EXPECT_FALSE(renamed.contains("Enabled"));
    log.clear();
    box->readProperties(renamed);
    EXPECT_EQ(box->Caption(), "CheckBox1");
    QStringList order;
    for (const QString &entry : log)
        order << entry.section('=', 0, 0);
    EXPECT_EQ(order, QStringList({"Enabled", "CheckBoxLook", "Value", "Caption", "BackColor", "Font",
                                  "ForeColor"}));

    PropertyBag bad;
    bad.writeProperty("CheckBoxLook", 20, 0);
    EXPECT_THROW(box->readProperties(bad), std::out_of_range);
}

} // namespace
