#include "CheckBoxArt.h"
#include "OleColor.h"
#include "XpCheckBox.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

using namespace vireo;

namespace {

QImage image(const QPixmap &pm) { return pm.toImage().convertToFormat(QImage::Format_ARGB32); }

// One window holding the box and a line edit that takes the focus; every event of the box is logged.
class XpCheckBoxTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        host = std::make_unique<QWidget>();
        host->resize(300, 120);
        host->setFont(QFont(QStringLiteral("WenQuanYi Micro Hei"), 11));
        other = new QLineEdit(host.get());
        other->setGeometry(20, 80, 100, 20);
        box = new XpCheckBox(host.get());
        box->setGeometry(20, 20, 150, 20);
        auto mouse = [this](const char *name) {
            return [this, name](short &b, short &s, float &x, float &y) {
                log << QStringLiteral("%1(%2,%3,%4,%5)").arg(QLatin1String(name)).arg(b).arg(s).arg(x).arg(y);
            };
        };
        QObject::connect(box, &XpCheckBox::Click, [this] { log << QStringLiteral("Click(%1)").arg(box->Value()); });
        QObject::connect(box, &XpCheckBox::KeyDown, [this](short &k, short &s) { log << QStringLiteral("KeyDown(%1,%2)").arg(k).arg(s); });
        QObject::connect(box, &XpCheckBox::KeyPress, [this](short &a) { log << QStringLiteral("KeyPress(%1)").arg(a); });
        QObject::connect(box, &XpCheckBox::KeyUp, [this](short &k, short &s) { log << QStringLiteral("KeyUp(%1,%2)").arg(k).arg(s); });
        QObject::connect(box, &XpCheckBox::MouseOut, [this] { log << QStringLiteral("MouseOut"); });
        QObject::connect(box, &XpCheckBox::MouseDown, mouse("MouseDown"));
        QObject::connect(box, &XpCheckBox::MouseMove, mouse("MouseMove"));
        QObject::connect(box, &XpCheckBox::MouseUp, mouse("MouseUp"));
        QObject::connect(box, &XpCheckBox::PropertyChanged, [this](const QString &name) {
            log << QStringLiteral("%1=%2").arg(name, box->property(name.toLatin1()).toString());
        });
        host->show();
        host->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(host.get()));
        cursorAway();
        QApplication::processEvents();
        log.clear();
    }

    QLabel *part(const char *name) { return box->findChild<QLabel *>(QLatin1String(name)); }
    QImage shown() { return image(part("p")->pixmap()); }
    QImage cell(int look, int index) { return image(XpCheckBox::cell(CheckBoxArt::strip(look), index)); }
    void cursorAway() { QCursor::setPos(host->mapToGlobal(QPoint(250, 100))); }
    bool mouseOutWithin(int ms)
    {
        QDeadlineTimer deadline(ms);
        while (!log.contains("MouseOut") && !deadline.hasExpired())
            QTest::qWait(2);
        return log.contains("MouseOut");
    }
    QString logText() const { return log.join(' '); }

    QStringList log; // outlives the host, whose teardown still raises events
    std::unique_ptr<QWidget> host;
    XpCheckBox *box = nullptr;
    QLineEdit *other = nullptr;
};

TEST_F(XpCheckBoxTest, NamesLayoutAndLooks)
{
    EXPECT_EQ(box->Caption(), "XpCheckBox1");
    EXPECT_EQ(XpCheckBox(host.get()).Caption(), "XpCheckBox2");
    EXPECT_EQ(shown(), cell(0, 0));
    // Glyph and caption centred vertically; the caption follows its text and font.
    box->resize(150, 30);
    EXPECT_EQ(part("p")->geometry(), QRect(0, 8, 13, 13));
    const QSize label = part("lbl")->size();
    box->setCaption(QStringLiteral("一个更长的标题文字"));
    QFont big = box->Font();
    big.setPointSize(20);
    box->setFont(big);
    EXPECT_GT(part("lbl")->width(), label.width());
    EXPECT_GT(part("lbl")->height(), label.height());
    EXPECT_EQ(part("lbl")->y(), (450 - part("lbl")->height() * 15) / 2 / 15);

    // Fourteen distinct strips of twelve distinct cells.
    for (int look = 0; look < CheckBoxArt::LookCount; ++look) {
        ASSERT_EQ(CheckBoxArt::strip(look).size(), QSize(156, 13));
        for (int b = 0; b < look; ++b)
            EXPECT_NE(image(CheckBoxArt::strip(look)), image(CheckBoxArt::strip(b))) << look << " " << b;
        for (int a = 0; a < 12; ++a)
            for (int b = 0; b < a; ++b)
                EXPECT_NE(cell(look, a), cell(look, b)) << "look " << look << " cells " << a << b;
    }
    box->setValue(1);
    box->setCheckBoxLook(7);
    EXPECT_EQ(shown(), cell(7, 4));
    box->setValue(2);
    log.clear();
    EXPECT_THROW(box->setCheckBoxLook(14), std::out_of_range);
    EXPECT_THROW(box->setCheckBoxLook(-1), std::out_of_range);
    EXPECT_EQ(box->CheckBoxLook(), 7);
    EXPECT_EQ(shown(), cell(7, 8));
    EXPECT_TRUE(log.isEmpty()) << logText().toStdString();
}

TEST_F(XpCheckBoxTest, MouseClicksToggleAndRaiseEventsInOrder)
{
    box->setFocus();
    QApplication::processEvents();
    log.clear();
    QTest::mousePress(part("p"), Qt::LeftButton, {}, QPoint(3, 4));
    EXPECT_EQ(box->shownCell(), 2); // pressed
    QTest::mouseMove(part("lbl"), QPoint(2, 2)); // no moves while the button is held
    QTest::mouseRelease(part("p"), Qt::LeftButton, {}, QPoint(3, 4));
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
    box->setValue(5); // kept, not drawn, not toggled
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
    EXPECT_FALSE(logText().contains("Click"));
}

TEST_F(XpCheckBoxTest, SpaceRaisesClickTwiceAndTogglesOnce)
{
    QWidget *p = part("p");
    p->setFocus();
    QApplication::processEvents();
    log.clear();
    QTest::keyPress(p, Qt::Key_Space);
    EXPECT_EQ(box->shownCell(), 2);
    QTest::keyRelease(p, Qt::Key_Space);
    EXPECT_EQ(log, QStringList({"KeyDown(32,0)", "KeyPress(32)", "Click(0)", "MouseDown(1,0,0,0)", "KeyUp(32,0)",
                                "Click(0)", "Value=1"}));
    EXPECT_FALSE(box->buttonHeld());
    log.clear();
    QTest::keyClick(p, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(p, Qt::Key_F2);
    EXPECT_EQ(log, QStringList({"KeyDown(17,2)", "KeyDown(65,2)", "KeyDown(113,0)"}));
    EXPECT_EQ(box->Value(), 1);
}

TEST_F(XpCheckBoxTest, DisabledControlIsGreyAndOnlyRaisesMouseUp)
{
    QTest::mouseMove(part("p"), QPoint(5, 5));
    ASSERT_TRUE(box->isTracking());
    box->setValue(2);
    box->setForeColor(0x000000FF); // red
    log.clear();
    box->setEnabled(false);
    EXPECT_EQ(log, QStringList({"Enabled=false"}));
    EXPECT_FALSE(box->isTracking());
    EXPECT_EQ(box->shownCell(), 11);
    EXPECT_EQ(part("lbl")->palette().color(QPalette::WindowText), OleColor::toColor(OleColor::GrayText));
    EXPECT_EQ(OleColor::toColor(OleColor::GrayText), qApp->palette().color(QPalette::Disabled, QPalette::Text));

    log.clear();
    for (QWidget *w : {static_cast<QWidget *>(box), static_cast<QWidget *>(part("p")), static_cast<QWidget *>(part("lbl"))}) {
        QTest::mouseMove(w, QPoint(3, 3));
        QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(3, 3));
    }
    cursorAway();
    QTest::qWait(40);
    EXPECT_EQ(log, QStringList({"MouseUp(1,0,3,3)", "MouseUp(1,0,3,3)", "MouseUp(1,0,3,3)"}));
    EXPECT_EQ(box->Value(), 2);
    box->setEnabled(true);
    EXPECT_EQ(box->shownCell(), 8);
    EXPECT_EQ(part("lbl")->palette().color(QPalette::WindowText), QColor(Qt::red));
}

TEST_F(XpCheckBoxTest, HoverShowsHotCellUntilTheCursorLeaves)
{
    QTest::mouseMove(part("lbl"), QPoint(4, 4));
    EXPECT_EQ(log, QStringList({"MouseMove(0,0,4,4)"}));
    EXPECT_EQ(box->shownCell(), 1);
    QTest::mouseMove(box, QPoint(150, 20)); // hot cell already shown: no event; far edges count as inside
    QTest::qWait(30);
    EXPECT_EQ(log.size(), 1);
    cursorAway();
    EXPECT_TRUE(mouseOutWithin(200));
    QTest::qWait(50);
    EXPECT_EQ(log.count("MouseOut"), 1);
    EXPECT_EQ(box->shownCell(), 0);
    EXPECT_FALSE(box->isTracking());

}

TEST_F(XpCheckBoxTest, HeldButtonKeepsPressedCellUntilReleasedOutside)
{
    box->setFocus(); // gaining focus stops the hover timer, a later hover restarts it
    box->setValue(0);
    QTest::mouseMove(part("p"), QPoint(5, 5));
    ASSERT_TRUE(box->isTracking());
    QTest::mousePress(part("p"), Qt::LeftButton, {}, QPoint(5, 5));
    cursorAway();
    QTest::qWait(50);
    EXPECT_FALSE(log.contains("MouseOut"));
    EXPECT_EQ(box->shownCell(), 2);
    QTest::mouseRelease(part("p"), Qt::LeftButton, {}, part("p")->mapFromGlobal(QCursor::pos()));
    EXPECT_EQ(box->Value(), 0);
    EXPECT_TRUE(mouseOutWithin(200));
    EXPECT_EQ(box->shownCell(), 0);
}

TEST_F(XpCheckBoxTest, FocusKeepsHotCellUntilLost)
{
    box->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(log, QStringList({"MouseMove(0,0,0,0)"}));
    QTest::qWait(30);
    EXPECT_EQ(box->shownCell(), 1);
    other->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(log.count("MouseMove(0,0,0,0)"), 2);
    EXPECT_TRUE(mouseOutWithin(200));
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
    const QFont font(QStringLiteral("WenQuanYi Micro Hei"), 15);
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
    EXPECT_EQ(loaded.palette().color(QPalette::Window), QColor(0xEE, 0xFF, 0xC0));
    EXPECT_EQ(loaded.Font(), font);
    EXPECT_EQ(loaded.ForeColor(), 0x00FF0000u);
    EXPECT_EQ(loaded.shownCell(), 11);

    box->setCaption(QStringLiteral("CheckBox"));
    box->setEnabled(true);
    PropertyBag renamed;
    box->writeProperties(renamed);
    EXPECT_FALSE(renamed.contains("Caption") || renamed.contains("Enabled"));
    log.clear();
    box->readProperties(renamed);
    EXPECT_EQ(box->Caption(), "CheckBox1");
    QStringList order;
    for (const QString &entry : std::as_const(log))
        order << entry.section('=', 0, 0);
    EXPECT_EQ(order, QStringList({"Enabled", "CheckBoxLook", "Value", "Caption", "BackColor", "Font", "ForeColor"}));
    PropertyBag bad;
    bad.writeProperty("CheckBoxLook", 20, 0);
    EXPECT_THROW(box->readProperties(bad), std::out_of_range);
}

} // namespace
