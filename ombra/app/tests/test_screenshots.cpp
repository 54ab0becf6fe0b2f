// What an operator sees: the dialog in ready and burn mode, the about box and
// the dump dialog, grabbed to PNG files (into OMBRA_SCREENSHOT_DIR) for a
// person to look at, and their colours checked here.
#include <gtest/gtest.h>

#include <QDir>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>

#include "about_dlg.h"
#include "dump_dlg.h"
#include "gui_rig.h"
#include "ombra_dlg.h"

using namespace ombra;
using namespace ombra::frontend;
using namespace ombra::guitest;

namespace {

QString shotPath(const char* name) {
    QString dir = qEnvironmentVariable("OMBRA_SCREENSHOT_DIR");
    if (dir.isEmpty()) dir = QDir::tempPath();
    QDir().mkpath(dir);
    return dir + "/" + name;
}

QImage shoot(QWidget& w, const char* name) {
    w.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&w));
    QTest::qWait(100);
    const QImage image = w.grab().toImage();
    EXPECT_TRUE(image.save(shotPath(name)));
    return image;
}

QColor at(const QImage& image, const QWidget& parent, const QWidget& w, int dx, int dy) {
    const QPoint p = w.mapTo(&parent, QPoint(dx, dy)) * image.devicePixelRatio();
    return image.pixelColor(p);
}

}  // namespace

TEST(Screenshots, DialogInReadyAndBurnMode) {
    Rig rig({"--flash-time-scale", "0"});
    rig.addCBusFile();
    writeFile(rig.file("image.bin"), randomBytes(131072, 11));
    AppProfile profile("Tarvik", "Ombra");
    DialogSettings s;
    s.portName = rig.port();
    s.imagePath = rig.file("image.bin");
    COmbraDlg dlg(profile, s);
    dlg.addTextLine("Ready for the board on " + rig.port());
    const QImage ready = shoot(dlg, "ombra-ready.png");
    auto* upper = dlg.findChild<QFrame*>("1022");
    auto* lower = dlg.findChild<QFrame*>("1028");
    auto* status = dlg.findChild<QLabel*>("1004");
    ASSERT_NE(upper, nullptr);
    // The panels' colours, and a label's background matching its panel.
    EXPECT_EQ(at(ready, dlg, *upper, 2, 2), QColor(248, 246, 207));
    EXPECT_EQ(at(ready, dlg, *lower, 2, 2), QColor(255, 255, 234));
    EXPECT_EQ(at(ready, dlg, *status, 1, 1), QColor(255, 255, 234));
    EXPECT_EQ(at(ready, dlg, dlg, 1, dlg.height() - 2), QColor(248, 246, 207));

    QTest::mouseClick(dlg.findChild<QPushButton*>("1018"), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return !dlg.findChild<QLabel*>("1008")->text().isEmpty(); }, 60000));
    QTest::qWait(1600);  // one tick of the clock
    shoot(dlg, "ombra-burn.png");
    EXPECT_EQ(dlg.findChild<QLabel*>("1004")->text(), "Burning");
    EXPECT_NE(dlg.findChild<QLabel*>("1007")->text(), "00:00");
    QTest::mouseClick(dlg.findChild<QPushButton*>("1009"), Qt::LeftButton);
    EXPECT_EQ(dlg.mode(), Mode::ready);
}

TEST(Screenshots, AboutBoxListsTheInstalledComponents) {
    Rig rig({}, false);
    CAboutDlg about;
    shoot(about, "ombra-about.png");
    const QString text = about.findChild<QTextEdit*>("1036")->toPlainText();
    EXPECT_TRUE(text.startsWith("SelkanBoot version: ")) << text.toStdString();
    EXPECT_TRUE(text.contains("\nBurnix version: ")) << text.toStdString();
    EXPECT_EQ(about.windowTitle(), "About Ombra");
}

TEST(Screenshots, DumpDialog) {
    ensureApplication();
    CDumpDlg dump(0, 1048576, "/tmp/flash-dump.bin");
    const QImage image = shoot(dump, "ombra-dump.png");
    EXPECT_EQ(image.pixelColor(2, 2), QColor(248, 246, 207));
    EXPECT_EQ(dump.windowTitle(), "Dump");
}
