// The dialog on Qt's offscreen platform (or a real X server, for the
// window tests), against a private registry.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QWindow>
#include <memory>
#include <string>

#include "pivra_dlg.h"
#include "pivra_test_support.h"
#include "ombra/testsupport/child_process.h"

namespace ombra::pivra {
namespace {

using namespace ombra::pivra::test;

class PivraDialog : public ::testing::Test {
protected:
    void SetUp() override {
        dlg = std::make_unique<CPivraDlg>();
        dlg->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
        list = find<QListWidget>("1001");
        traceEnabled = find<QCheckBox>("1002");
        console = find<QCheckBox>("1003");
        file = find<QCheckBox>("1004");
        path = find<QLineEdit>("1005");
        update = find<QPushButton>("1006");
        ok = find<QPushButton>("IDOK");
    }

    template <class W>
    W* find(const char* id) {
        auto* w = dlg->findChild<W*>(id);
        EXPECT_NE(w, nullptr) << id;
        return w;
    }

    void select(const char* context) {
        const auto items = list->findItems(context, Qt::MatchExactly);
        ASSERT_EQ(items.size(), 1) << context;
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(items.front()).center());
        ASSERT_EQ(dlg->selectedContext(), context);
    }
    // On a check box only the box and its text take a click, not the whole
    // width the layout gives it.
    static void click(QAbstractButton* button) {
        QPoint at = button->rect().center();
        if (auto* box = qobject_cast<QCheckBox*>(button)) {
            QStyleOptionButton option;
            option.initFrom(box);
            option.text = box->text();
            at = box->style()->subElementRect(QStyle::SE_CheckBoxClickRect, &option, box).center();
        }
        QTest::mouseClick(button, Qt::LeftButton, {}, at);
    }
    void typePath(const QString& text) {
        path->clear();
        QTest::keyClicks(path, text);
    }
    bool checks(bool enabled, bool con, bool fil) const {
        return traceEnabled->isChecked() == enabled && console->isChecked() == con && file->isChecked() == fil;
    }
    bool enables(bool con, bool fil, bool pth) const {
        return console->isEnabled() == con && file->isEnabled() == fil && path->isEnabled() == pth;
    }

    TempRegistry registry;
    std::unique_ptr<CPivraDlg> dlg;
    QListWidget* list = nullptr;
    QCheckBox* traceEnabled = nullptr;
    QCheckBox* console = nullptr;
    QCheckBox* file = nullptr;
    QLineEdit* path = nullptr;
    QPushButton* update = nullptr;
    QPushButton* ok = nullptr;
};

TEST_F(PivraDialog, ControlsTextsAndTabOrder) {
    EXPECT_EQ(dlg->objectName(), "102");
    EXPECT_EQ(dlg->windowTitle(), "Ombra trace control");
    EXPECT_FALSE(dlg->windowIcon().isNull());
    EXPECT_EQ(ok->text(), "OK");
    EXPECT_TRUE(ok->isDefault());
    EXPECT_EQ(find<QLabel>("-1")->text(), "Context:");
    EXPECT_EQ(traceEnabled->text(), "Trace enabled");
    EXPECT_EQ(console->text(), "Console");
    EXPECT_EQ(file->text(), "File");
    EXPECT_EQ(update->text(), "Update");
    EXPECT_EQ(path->maxLength(), kMaxPathBytes);

    // The focus chain from OK, as Tab walks it.
    QStringList order;
    QWidget* w = ok;
    do {
        if (w->focusPolicy() & Qt::TabFocus) order << w->objectName();
        w = w->nextInFocusChain();
    } while (w != ok && order.size() < 20);
    EXPECT_EQ(order, (QStringList{"IDOK", "1001", "1002", "1003", "1004", "1005", "1006"}));

    // The dialog's size comes from its template in dialog units; the layout
    // puts the list left of the settings and OK at the top right.
    EXPECT_GT(dlg->width(), dlg->height());
    EXPECT_LT(list->geometry().right(), traceEnabled->geometry().left());
    EXPECT_LT(traceEnabled->geometry().top(), console->geometry().top());
    EXPECT_LT(file->geometry().bottom(), path->geometry().top());
    EXPECT_LT(path->geometry().bottom(), update->geometry().top());
    EXPECT_GT(ok->geometry().left(), path->geometry().left());
    EXPECT_GT(console->geometry().left(), traceEnabled->geometry().left()) << "outputs hang off Trace enabled";
}

TEST_F(PivraDialog, TheContextsAreSortedAndNoneIsSelected) {
    QStringList names;
    for (int i = 0; i < list->count(); ++i) names << list->item(i)->text();
    EXPECT_EQ(names, (QStringList{"AMD", "Intel", "Lunet", "Ombra", "Quasp", "QuaspDbg", "SelkanBoot", "SST",
                                  "Tordel", "Wexom"}));
    EXPECT_TRUE(list->selectedItems().isEmpty());
    EXPECT_TRUE(dlg->selectedContext().isEmpty());
    EXPECT_TRUE(checks(false, false, false));
    EXPECT_EQ(path->text(), "");
    EXPECT_EQ(dlg->values(), TraceValues{});
    // Opening the dialog reads and writes nothing.
    EXPECT_TRUE(readFile(registry.hiveFile()).empty());
}

TEST_F(PivraDialog, AContextWithoutAKeyGetsAnEmptyOneAndTheBoxesKeepThePreviousState) {
    writeContext("Lunet", 1, 2, "/tmp/lunet.log");
    select("Lunet");
    EXPECT_TRUE(checks(true, true, false));
    EXPECT_EQ(path->text(), "/tmp/lunet.log");

    select("Wexom");
    EXPECT_TRUE(keyExists("Wexom"));
    EXPECT_EQ(valueCount("Wexom"), 0) << "nothing is saved into a key made just now";
    EXPECT_TRUE(checks(true, true, false));
    EXPECT_EQ(path->text(), "/tmp/lunet.log");

    // Until "Update" writes what the boxes show.
    click(update);
    EXPECT_EQ(readDword("Wexom", "fTraceEnabled"), 1u);
    EXPECT_EQ(readDword("Wexom", "dwTraceType"), 2u);
    EXPECT_EQ(readText("Wexom", "sTraceFile"), "/tmp/lunet.log");
    EXPECT_EQ(readText("Lunet", "sTraceFile"), "/tmp/lunet.log");
}

TEST_F(PivraDialog, SelectingAnExistingKeyRewritesAllThreeValues) {
    writeDword("Tordel", "fTraceEnabled", 1);  // nothing else there
    writeContext("AMD", 1, 7, "/tmp/amd.log");  // the debugger bit set by hand
    select("Tordel");
    EXPECT_EQ(readDword("Tordel", "fTraceEnabled"), 1u);
    EXPECT_EQ(readDword("Tordel", "dwTraceType"), 0u);
    EXPECT_EQ(readText("Tordel", "sTraceFile"), "") << "a missing path comes back as an empty text";

    select("AMD");
    EXPECT_EQ(readDword("AMD", "dwTraceType"), 3u) << "7 comes back as 3";
    EXPECT_EQ(readDword("AMD", "fTraceEnabled"), 1u);
    EXPECT_EQ(readText("AMD", "sTraceFile"), "/tmp/amd.log");
    EXPECT_TRUE(checks(true, true, true));
}

TEST_F(PivraDialog, MissingValuesKeepThePreviousContextsFlags) {
    writeContext("Intel", 1, 3, "/tmp/intel.log");
    writeDword("SST", "dwTraceType", 0);  // no enabled flag, no path
    select("Intel");
    select("SST");
    EXPECT_TRUE(checks(true, false, false));
    EXPECT_EQ(path->text(), "");
    EXPECT_EQ(readDword("SST", "fTraceEnabled"), 1u) << "the flag carried over is saved";
}

TEST_F(PivraDialog, TheEnableRulesOfTheThreeBoxes) {
    // On load: "Trace enabled" then "File".
    struct Case {
        const char* context;
        DWORD enabled, type;
        bool console, file, path;
    } cases[] = {
        {"Ombra", 0, 3, false, false, false},
        {"Lunet", 1, 0, true, true, false},
        {"Tordel", 1, 1, true, true, true},
        {"Wexom", 0, 1, false, false, false},
    };
    for (const auto& c : cases) {
        writeContext(c.context, c.enabled, c.type, "/tmp/x.log");
        select(c.context);
        EXPECT_TRUE(enables(c.console, c.file, c.path)) << c.context;
    }

    // By hand: the "Trace enabled" rule opens all three, even the path box
    // of an unchecked "File"; the "File" rule then closes it again.
    select("Lunet");  // enabled, no outputs
    click(traceEnabled);
    EXPECT_TRUE(enables(false, false, false));
    click(traceEnabled);
    EXPECT_TRUE(enables(true, true, true));
    click(file);
    EXPECT_TRUE(enables(true, true, true));
    click(file);
    EXPECT_TRUE(enables(true, true, false));
    click(console);
    EXPECT_TRUE(enables(true, true, false));
}

TEST_F(PivraDialog, OnlyTraceEnabledAndUpdateSave) {
    writeContext("Ombra", 1, 0, "");
    select("Ombra");
    click(console);
    click(file);
    typePath("/tmp/ombra.log");
    EXPECT_EQ(readDword("Ombra", "dwTraceType"), 0u) << "Console and File only take the values";
    EXPECT_EQ(readText("Ombra", "sTraceFile"), "");
    EXPECT_EQ(dlg->values(), (TraceValues{1, 1, 1, ""})) << "the path is taken on the next click";

    click(update);
    EXPECT_EQ(readDword("Ombra", "dwTraceType"), 3u);
    EXPECT_EQ(readText("Ombra", "sTraceFile"), "/tmp/ombra.log");

    click(console);
    click(traceEnabled);
    EXPECT_EQ(readDword("Ombra", "fTraceEnabled"), 0u);
    EXPECT_EQ(readDword("Ombra", "dwTraceType"), 1u);
}

TEST_F(PivraDialog, OkEscapeAndClosingTheWindowSaveNothing) {
    writeContext("Intel", 1, 1, "/tmp/intel.log");
    const auto edit = [&] {
        select("Intel");
        click(console);
        typePath("/tmp/changed.log");
        click(file);
    };
    edit();
    const std::string saved = readFile(registry.hiveFile());
    click(ok);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    EXPECT_EQ(readFile(registry.hiveFile()), saved);

    dlg->show();
    edit();
    QTest::keyClick(dlg.get(), Qt::Key_Escape);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), QDialog::Rejected);

    dlg->show();
    edit();
    EXPECT_TRUE(dlg->close());
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(readFile(registry.hiveFile()), saved);
    EXPECT_EQ(readText("Intel", "sTraceFile"), "/tmp/intel.log");
}

TEST_F(PivraDialog, EnterInThePathBoxIsOkAndSavesNothing) {
    writeContext("AMD", 1, 1, "/tmp/amd.log");
    select("AMD");
    typePath("/tmp/typed.log");
    QTest::keyClick(path, Qt::Key_Return);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    EXPECT_EQ(readText("AMD", "sTraceFile"), "/tmp/amd.log");
}

TEST_F(PivraDialog, WithNoContextSelectedNothingReachesTheRegistry) {
    click(traceEnabled);
    EXPECT_TRUE(enables(true, true, true)) << "the rules still apply";
    click(console);
    typePath("/tmp/nowhere.log");
    click(update);
    click(traceEnabled);
    EXPECT_TRUE(enables(false, false, false));
    EXPECT_TRUE(readFile(registry.hiveFile()).empty());

    // Losing the selection loads nothing either.
    writeContext("Quasp", 1, 3, "/tmp/quasp.log");
    select("Quasp");
    const std::string saved = readFile(registry.hiveFile());
    list->clearSelection();
    click(update);
    EXPECT_EQ(readFile(registry.hiveFile()), saved);
}

TEST_F(PivraDialog, ThePathBoxRefusesMoreThanTheTraceLogReads) {
    select("Wexom");
    const QString longest(kMaxPathBytes, QLatin1Char('a'));
    typePath(longest + "bc");
    EXPECT_EQ(path->text(), longest);

    // Bytes count: a two-byte letter fits while two bytes are left, not
    // in the last place.
    const auto type = [&](const QString& text) {
        QKeyEvent typed(QEvent::KeyPress, 0, Qt::NoModifier, text);
        QApplication::sendEvent(path, &typed);
    };
    const QString eAcute = QString::fromUtf8("\xc3\xa9");
    path->setText(QString(kMaxPathBytes - 3, QLatin1Char('a')));
    path->end(false);
    type(eAcute);
    EXPECT_EQ(path->text().size(), kMaxPathBytes - 2);
    type(eAcute);
    EXPECT_EQ(path->text().size(), kMaxPathBytes - 2);
    type("z");
    EXPECT_EQ(path->text().size(), kMaxPathBytes - 1);
    EXPECT_EQ(path->text().toUtf8().size(), kMaxPathBytes);

    click(update);
    EXPECT_EQ(readText("Wexom", "sTraceFile")->size(), static_cast<std::size_t>(kMaxPathBytes));
}

TEST_F(PivraDialog, RegistryFailuresAreSilent) {
    writeContext("Ombra", 1, 3, "/tmp/ombra.log");
    const std::string broken = "not a hive\n";
    writeFile(registry.hiveFile(), broken);
    select("Ombra");
    EXPECT_TRUE(checks(false, false, false)) << "nothing could be loaded";
    click(traceEnabled);
    click(update);
    EXPECT_EQ(readFile(registry.hiveFile()), broken);
    int visible = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) visible += w->isVisible() ? 1 : 0;
    EXPECT_EQ(visible, 1) << "no message box";
}

// Switches a worker's trace on through the dialog, runs the worker, and
// finds its lines in the chosen file.
class PivraRoundTrip : public PivraDialog {
protected:
    // Runs `program REGISTER`, which traces its start under its name.
    QString runRegister(const char* program) {
        testsupport::ChildOptions options;
        options.errors = registry.folder() + "/register-errors.txt";
        EXPECT_NE(testsupport::runChild(program, {"REGISTER"}, 30000, options), STILL_ACTIVE) << program;
        return QString::fromStdString(readFile(options.errors));
    }
    void switchOn(const char* context, bool toConsole, bool toFile, const std::string& target) {
        select(context);
        if (!traceEnabled->isChecked()) click(traceEnabled);
        if (console->isChecked() != toConsole) click(console);
        if (file->isChecked() != toFile) click(file);
        typePath(QString::fromStdString(target));
        click(update);
    }
    std::string traceFile(const char* name) const { return registry.folder() + "/" + name; }
};

#if defined(PIVRA_WEXOM) && defined(PIVRA_QUASP)

const QRegularExpression kStartLine(QStringLiteral("^-?\\d+ : starting\\r\\n"));

TEST_F(PivraRoundTrip, AWorkerSwitchedOnWritesItsTraceFile) {
    const std::string target = traceFile("wexom.log");
    switchOn("Wexom", false, true, target);
    runRegister(PIVRA_WEXOM);
    const QString lines = QString::fromStdString(readFile(target));
    EXPECT_TRUE(kStartLine.match(lines).hasMatch()) << lines.toStdString();

    // Switched off again: the next run leaves the file alone.
    writeFile(target, "");
    click(traceEnabled);
    runRegister(PIVRA_WEXOM);
    EXPECT_EQ(readFile(target), "");
}

TEST_F(PivraRoundTrip, TheLongestPathTheBoxTakesIsOneTheTraceLogOpens) {
    std::string target = registry.folder() + "/";
    target += std::string(kMaxPathBytes - target.size(), 'w');
    ASSERT_EQ(target.size(), static_cast<std::size_t>(kMaxPathBytes));
    switchOn("Wexom", false, true, target);
    runRegister(PIVRA_WEXOM);
    EXPECT_TRUE(kStartLine.match(QString::fromStdString(readFile(target))).hasMatch());
}

TEST_F(PivraRoundTrip, TheConsoleOutputReachesTheWorkersStandardError) {
    switchOn("Wexom", true, false, "");
    EXPECT_TRUE(runRegister(PIVRA_WEXOM).contains(QRegularExpression("-?\\d+ : starting\\r\\n")));
}

TEST_F(PivraRoundTrip, TheVerifyWorkerIsSwitchedOnUnderQuaspDbg) {
    const std::string old = traceFile("quasp.log");
    switchOn("Quasp", false, true, old);
    runRegister(PIVRA_QUASP);
    EXPECT_EQ(readFile(old), "") << "nothing reads the old entry";

    const std::string target = traceFile("quaspdbg.log");
    switchOn("QuaspDbg", false, true, target);
    runRegister(PIVRA_QUASP);
    EXPECT_TRUE(kStartLine.match(QString::fromStdString(readFile(target))).hasMatch());
}

#endif

// The program itself: the two options that need no window, and the
// refusal of anything else.
TEST(PivraProgram, HelpVersionAndABadCommandLine) {
    struct Result {
        int status = -1;
        QString out, err;
    };
    TempRegistry registry;  // a folder of the test's own for the output
    const auto run = [&](const std::vector<std::string>& args) {
        testsupport::ChildOptions options;
        options.unset = {"DISPLAY", "WAYLAND_DISPLAY"};
        options.environment = {"QT_QPA_PLATFORM=offscreen"};
        options.output = registry.folder() + "/out.txt";
        options.errors = registry.folder() + "/err.txt";
        const DWORD code = testsupport::runChild(PIVRA_PROGRAM, args, 30000, options);
        EXPECT_NE(code, STILL_ACTIVE);
        return Result{static_cast<int>(code), QString::fromStdString(readFile(options.output)),
                      QString::fromStdString(readFile(options.errors))};
    };
    auto r = run({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out.startsWith("Usage: Pivra [--help | --version]")) << r.out.toStdString();
    r = run({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out.startsWith("Pivra ")) << r.out.toStdString();
    r = run({"REGISTER"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_TRUE(r.err.contains("Pivra: unexpected argument \"REGISTER\"\nUsage: Pivra")) << r.err.toStdString();
    // Qt's own options are Qt's.
    r = run({"-platform", "offscreen", "--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out.startsWith("Pivra ")) << r.out.toStdString();
}

// A picture of the dialog with a context loaded, written into the build
// folder: offscreen from the widget, on an X server also from the screen.
TEST(PivraWindow, Screenshot) {
    TempRegistry registry;
    writeContext("Wexom", 1, 1, "/home/operator/ombra/wexom.log");
    CPivraDlg dlg;
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    auto* list = dlg.findChild<QListWidget*>("1001");
    const auto item = list->findItems("Wexom", Qt::MatchExactly).front();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
    ASSERT_EQ(dlg.selectedContext(), "Wexom");
    QTest::qWait(200);

    const QString folder = QStringLiteral(PIVRA_SHOT_DIR);
    const QString platform = QGuiApplication::platformName();
    const QImage widget = dlg.grab().toImage();
    ASSERT_FALSE(widget.isNull());
    EXPECT_TRUE(widget.save(folder + "/pivra-" + platform + ".png"));
    if (platform == "xcb") {
        const QImage screen = dlg.screen()->grabWindow(dlg.winId()).toImage();
        ASSERT_FALSE(screen.isNull());
        EXPECT_EQ(screen.size(), dlg.size() * dlg.devicePixelRatio());
        EXPECT_TRUE(screen.save(folder + "/pivra-xcb-screen.png"));
        // The server's pixels are the widget's: the window really is there.
        EXPECT_EQ(screen.convertToFormat(QImage::Format_RGB32).pixel(list->geometry().center()),
                  widget.convertToFormat(QImage::Format_RGB32).pixel(list->geometry().center()));
    }

    // Switched off: the outputs and the path are greyed out.
    auto* traceEnabled = dlg.findChild<QCheckBox*>("1002");
    traceEnabled->click();
    ASSERT_FALSE(dlg.findChild<QLineEdit*>("1005")->isEnabled());
    QTest::qWait(100);
    EXPECT_TRUE(dlg.grab().save(folder + "/pivra-" + platform + "-off.png"));
}

}  // namespace
}  // namespace ombra::pivra

// The application lives on main's stack, so it goes before the rest of Qt.
int main(int argc, char** argv) {
    // The window tests run on a real X server; everything else offscreen.
    if (!qEnvironmentVariableIsSet("PIVRA_TEST_DISPLAY")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
