// The dialog driven as an operator drives it, with the real workers and
// selkan-sim behind it.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include <filesystem>
#include <fstream>

#include "dump_dlg.h"
#include "gui_rig.h"
#include "history_combo.h"
#include "ombra/platform/registry.h"
#include "ombra/platform/unique_mutex.h"
#include "ombra_dlg.h"

using namespace ombra;
using namespace ombra::frontend;
using namespace ombra::guitest;

namespace {

template <typename T>
T* child(QWidget& w, const char* id) {
    T* c = w.findChild<T*>(id);
    if (c == nullptr) ADD_FAILURE() << "no control " << id;
    return c;
}

std::string logText(COmbraDlg& d) { return child<QTextEdit>(d, "1014")->toPlainText().toStdString(); }
bool logHas(COmbraDlg& d, const std::string& s) { return logText(d).find(s) != std::string::npos; }
bool isReady(const COmbraDlg& d) { return d.mode() == Mode::ready && !d.hasWorkerThread(); }
bool progressStarted(COmbraDlg& d) { return !child<QLabel>(d, "1008")->text().isEmpty(); }

void click(COmbraDlg& d, const char* id) { QTest::mouseClick(child<QPushButton>(d, id), Qt::LeftButton); }

// Nothing of an operation is left: no thread, no worker holding its lock.
void expectNothingLeft(const COmbraDlg& d) {
    EXPECT_FALSE(d.hasWorkerThread());
    ASSERT_FALSE(d.workerMutexName().empty());
    EXPECT_FALSE(platform::UniqueMutex::exists(d.workerMutexName()));
    EXPECT_FALSE(std::filesystem::exists(platform::UniqueMutex::folder() + "/" + d.workerMutexName()));
}

DWORD valueCount(const char* key) {
    platform::RegKey k;
    if (k.open(HKEY_LOCAL_MACHINE, key, KEY_READ) != ERROR_SUCCESS) return 0;
    DWORD values = 0;
    RegQueryInfoKeyA(k.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    return values;
}

// Fills the dump dialog as soon as it shows and presses OK.
void answerDumpDialog(std::uint32_t start, std::uint32_t length, const std::string& file) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [=] {
        auto* dlg = dynamic_cast<CDumpDlg*>(QApplication::activeModalWidget());
        if (dlg == nullptr) return;
        timer->stop();
        timer->deleteLater();
        dlg->findChild<QLineEdit*>("1017")->setText(QString::number(start));
        dlg->findChild<QLineEdit*>("1018")->setText(QString::number(length));
        dlg->findChild<QLineEdit*>("1019")->setText(QString::fromStdString(file));
        QTest::mouseClick(dlg->findChild<QPushButton*>("IDOK"), Qt::LeftButton);
    });
    timer->start(20);
}

DialogSettings onPort(const Rig& rig) {
    DialogSettings s;
    s.portName = rig.port();
    return s;
}

// The board's port, the shipped C-bus table and a random image of `size`
// bytes at the top of the image history.
DialogSettings withImage(Rig& rig, std::size_t size, unsigned seed) {
    rig.addCBusFile();
    writeFile(rig.file("image.bin"), randomBytes(size, seed));
    DialogSettings s = onPort(rig);
    s.imagePath = rig.file("image.bin");
    return s;
}

constexpr int kOperationMs = 60000;

}  // namespace

TEST(Dialog, FirstStartWritesTheCommDefaultsAndFillsTheLists) {
    Rig rig({}, false);
    AppProfile profile("Tarvik", "Ombra");
    COmbraDlg dlg(profile, {});
    EXPECT_EQ(dlg.windowTitle(), "Tarvik Ombra");
    // No port remembered: the values lie in the Comm key itself.
    EXPECT_EQ(valueCount("Software\\Tarvik\\Ombra\\Comm"), 32u);
    EXPECT_EQ(child<QComboBox>(dlg, "1010")->currentText(), "115200");
    EXPECT_EQ(child<QComboBox>(dlg, "1010")->count(), 6);
    EXPECT_EQ(dlg.dcb().XonLim, 2048);
    EXPECT_EQ(dlg.commTimeouts().WriteTotalTimeoutConstant, 1000u);

    auto* programmers = child<QComboBox>(dlg, "1005");
    ASSERT_EQ(programmers->count(), 3);
    EXPECT_EQ(programmers->itemText(0), "SST");
    EXPECT_EQ(programmers->currentIndex(), 0);
    EXPECT_EQ(dlg.currentProgrammer(), 0);

    // Sorted by text, each entry with its own device number.
    auto* devices = child<QComboBox>(dlg, "1006");
    ASSERT_GT(devices->count(), 1);
    for (int i = 1; i < devices->count(); ++i)
        EXPECT_LE(devices->itemText(i - 1).compare(devices->itemText(i), Qt::CaseInsensitive), 0);
    EXPECT_EQ(devices->currentData().toInt(), 0);
    EXPECT_EQ(devices->currentText().toStdString(), dlg.deviceNames().at(0));
    EXPECT_EQ(dlg.deviceNames().at(0), "SST SST39LF/VF160");

    EXPECT_TRUE(child<QPushButton>(dlg, "1015")->isEnabled());
    EXPECT_TRUE(child<QPushButton>(dlg, "1018")->isEnabled());
    EXPECT_TRUE(child<QPushButton>(dlg, "1016")->isEnabled());
    EXPECT_TRUE(child<QPushButton>(dlg, "1017")->isEnabled());
    EXPECT_FALSE(child<QPushButton>(dlg, "1021")->isEnabled());  // the component has no property page
    EXPECT_FALSE(child<QPushButton>(dlg, "1009")->isEnabled());
    EXPECT_TRUE(child<QPushButton>(dlg, "1017")->isHidden());
    EXPECT_TRUE(child<QPushButton>(dlg, "1020")->isHidden());
    EXPECT_EQ(child<QLabel>(dlg, "1004")->text(), "Ready");
    EXPECT_EQ(child<QLabel>(dlg, "1007")->text(), "00:00");
}

TEST(Dialog, AProgrammerChangeReloadsTheDevicesAndAnUnknownSavedDeviceFallsBackToDeviceZero) {
    Rig rig({}, false);
    AppProfile profile("Tarvik", "Ombra");
    DialogSettings s;
    s.savedProgrammer = 7;   // not installed: the first driver
    s.savedDevice = 100000;  // no such device: device 0, listed and sent alike
    COmbraDlg dlg(profile, s);
    EXPECT_EQ(dlg.currentProgrammer(), 0);
    EXPECT_EQ(dlg.savedDevice(), 0);
    EXPECT_EQ(child<QComboBox>(dlg, "1006")->currentData().toInt(), 0);

    auto* programmers = child<QComboBox>(dlg, "1005");
    programmers->setCurrentIndex(2);
    dlg.OnSelchangeCmbProgrammer();
    EXPECT_EQ(dlg.savedProgrammer(), 2);
    EXPECT_EQ(dlg.currentProgrammer(), 2);
    auto* devices = child<QComboBox>(dlg, "1006");
    ASSERT_GT(devices->count(), 0);
    EXPECT_EQ(devices->currentData().toInt(), dlg.currentDevice());
    devices->setCurrentIndex(devices->count() - 1);
    dlg.OnSelchangeCmbDevices();
    EXPECT_EQ(dlg.savedDevice(), devices->itemData(devices->count() - 1).toInt());
}

TEST(Dialog, IdentifySelectsTheDeviceTheWorkerFound) {
    Rig rig;
    rig.addCBusFile();
    AppProfile profile("Tarvik", "Ombra");
    DialogSettings s = onPort(rig);
    s.savedDevice = 3;
    COmbraDlg dlg(profile, s);
    dlg.OnBtnIdentify();
    EXPECT_EQ(dlg.mode(), Mode::identify);
    EXPECT_EQ(child<QLabel>(dlg, "1004")->text(), "Identifying");
    EXPECT_FALSE(child<QComboBox>(dlg, "1002")->isEnabled());
    EXPECT_FALSE(child<QPushButton>(dlg, "1018")->isEnabled());
    EXPECT_TRUE(child<QPushButton>(dlg, "1009")->isEnabled());
    // A start button outside ready mode does nothing.
    const std::string mutex = dlg.workerMutexName();
    dlg.OnBtnBurnVerify();
    EXPECT_EQ(dlg.mode(), Mode::identify);

    ASSERT_TRUE(waitFor([&] { return isReady(dlg); }, kOperationMs)) << logText(dlg);
    // The selection and the number sent to the workers follow the worker;
    // the current device keeps what the list reload gave it.
    EXPECT_EQ(dlg.savedDevice(), 0);
    EXPECT_EQ(child<QComboBox>(dlg, "1006")->currentData().toInt(), 0);
    EXPECT_EQ(child<QComboBox>(dlg, "1006")->currentText(), "SST SST39LF/VF160");
    EXPECT_TRUE(dlg.resultDetail().empty());
    EXPECT_FALSE(platform::UniqueMutex::exists(mutex));
    expectNothingLeft(dlg);
}

TEST(Dialog, IdentifyWalksEveryDriverWhenNoneKnowsTheChip) {
    // A programmer whose drivers do not know the board's SST part.
    Rig rig;
    rig.addCBusFile();
    rig.registerProgrammerWithDrivers({"Intel", "AMD"});
    AppProfile profile("Tarvik", "Ombra");
    COmbraDlg dlg(profile, onPort(rig));
    dlg.OnBtnIdentify();
    ASSERT_TRUE(waitFor([&] { return logHas(dlg, "Device unrecognized by any of the drivers installed."); },
                        3 * kOperationMs))
        << logText(dlg);
    ASSERT_TRUE(waitFor([&] { return isReady(dlg); }, kOperationMs));
    EXPECT_EQ(dlg.currentProgrammer(), -1);
    EXPECT_EQ(child<QComboBox>(dlg, "1005")->currentIndex(), -1);
    EXPECT_EQ(child<QComboBox>(dlg, "1006")->currentIndex(), -1);
    // Without a programmer nothing but "Burn and Verify" could start.
    EXPECT_FALSE(child<QPushButton>(dlg, "1015")->isEnabled());
    dlg.OnBtnBurn();
    EXPECT_TRUE(logHas(dlg, "No programmer is selected. Please select a programmer first."));
    EXPECT_EQ(dlg.mode(), Mode::ready);
}

TEST(Dialog, BurnAndVerifyThenDumpItBack) {
    Rig rig;
    rig.addCBusFile();
    const auto image = randomBytes(8192, 7);
    writeFile(rig.file("image.bin"), image);
    AppProfile profile("Tarvik", "Ombra");
    DialogSettings s = onPort(rig);
    s.imagePath = rig.file("image.bin");
    COmbraDlg dlg(profile, s);
    EXPECT_EQ(child<QComboBox>(dlg, "1040")->currentText().toStdString(), rig.file("image.bin"));

    click(dlg, "1018");
    EXPECT_EQ(dlg.mode(), Mode::burn);
    EXPECT_EQ(child<QLabel>(dlg, "1004")->text(), "Burning");
    EXPECT_EQ(logText(dlg).rfind("Burning:\n", 0), 0u);
    ASSERT_TRUE(waitFor([&] { return isReady(dlg); }, kOperationMs)) << logText(dlg);
    EXPECT_TRUE(dlg.resultDetail().empty()) << dlg.resultDetail();
    EXPECT_EQ(child<QLabel>(dlg, "1008")->text(), "");  // ready mode clears it
    expectNothingLeft(dlg);

    // The board goes back to its ROM after an operation; the dump boots it anew.
    answerDumpDialog(0, 8192, rig.file("dump.bin"));
    click(dlg, "1016");
    EXPECT_EQ(dlg.mode(), Mode::dump);
    EXPECT_EQ(logText(dlg).rfind("Dumping:\n", 0), 0u);
    ASSERT_TRUE(waitFor([&] { return isReady(dlg); }, kOperationMs)) << logText(dlg);
    EXPECT_EQ(readFile(rig.file("dump.bin")), image) << logText(dlg);
    EXPECT_EQ(profile.getInt("Dump", "DUMP_LENGTH", 0), 8192);
    EXPECT_EQ(profile.getString("Dump", "DUMP_FILE", ""), rig.file("dump.bin"));
    EXPECT_EQ(rig.stopBoardAndReadFlash(image.size()), image);
}

TEST(Dialog, StopInEachModeReturnsToReadyWithNothingLeft) {
    const auto image = randomBytes(65536, 3);
    struct Case {
        const char* name;
        Mode mode;
        bool waitForProgress;
    };
    for (const Case c : {Case{"identify", Mode::identify, false}, Case{"burn", Mode::burn, true},
                         Case{"dump", Mode::dump, true}}) {
        SCOPED_TRACE(c.name);
        // A paced line, so the stream lasts seconds.
        Rig rig({"--flash-time-scale", "0"});
        rig.addCBusFile();
        writeFile(rig.file("image.bin"), image);
        AppProfile profile("Tarvik", "Ombra");
        DialogSettings s = onPort(rig);
        s.imagePath = rig.file("image.bin");
        COmbraDlg dlg(profile, s);
        if (c.mode == Mode::identify) dlg.OnBtnIdentify();
        if (c.mode == Mode::burn) click(dlg, "1018");
        if (c.mode == Mode::dump) {
            answerDumpDialog(0, 262144, rig.file("dump.bin"));
            click(dlg, "1016");
        }
        ASSERT_EQ(dlg.mode(), c.mode);
        if (c.waitForProgress) {
            ASSERT_TRUE(waitFor([&] { return progressStarted(dlg); }, kOperationMs)) << logText(dlg);
        }
        click(dlg, "1009");
        EXPECT_TRUE(isReady(dlg));
        EXPECT_TRUE(logHas(dlg, "Cancelling operation, please wait"));
        EXPECT_TRUE(logHas(dlg, "Cancelled."));
        EXPECT_FALSE(child<QPushButton>(dlg, "1009")->isEnabled());
        expectNothingLeft(dlg);
        if (c.mode == Mode::identify) {
            EXPECT_EQ(dlg.currentProgrammer(), -1);
            EXPECT_EQ(dlg.currentDevice(), -1);
            EXPECT_EQ(child<QComboBox>(dlg, "1005")->currentIndex(), -1);
            EXPECT_EQ(child<QComboBox>(dlg, "1006")->currentIndex(), -1);
        } else {
            EXPECT_TRUE(child<QPushButton>(dlg, "1015")->isEnabled());
        }
        // Stop outside an operation does nothing.
        const std::string before = logText(dlg);
        click(dlg, "1009");
        EXPECT_EQ(logText(dlg), before);
    }
}

TEST(Dialog, CloseDuringAnOperationAsksAndNoKeepsItRunning) {
    Rig rig({"--flash-time-scale", "0"});
    AppProfile profile("Tarvik", "Ombra");
    COmbraDlg dlg(profile, withImage(rig, 65536, 5));
    dlg.show();
    click(dlg, "1015");
    ASSERT_TRUE(waitFor([&] { return progressStarted(dlg); }, kOperationMs)) << logText(dlg);
    MessageBoxRecorder boxes(7 /* IDNO */);
    click(dlg, "1019");
    ASSERT_EQ(boxes.texts().size(), 1u);
    EXPECT_EQ(boxes.texts()[0], "Are you sure you want to close Ombra?");
    EXPECT_EQ(dlg.mode(), Mode::burn);
    EXPECT_TRUE(dlg.isVisible());
    boxes.answer(6 /* IDYES */);
    QTest::keyClick(&dlg, Qt::Key_Escape);  // the cancel command closes too
    EXPECT_EQ(boxes.texts().size(), 2u);
    EXPECT_FALSE(dlg.isVisible());
    expectNothingLeft(dlg);
    // The histories were saved on the way out.
    EXPECT_EQ(profile.getString("Settings", "MRU_IMAGE_FILE0", ""), rig.file("image.bin"));
}

TEST(Dialog, AWorkerThatDiesEndsThroughStop) {
    Rig rig({"--flash-time-scale", "0"});
    AppProfile profile("Tarvik", "Ombra");
    COmbraDlg dlg(profile, withImage(rig, 65536, 9));
    click(dlg, "1018");
    ASSERT_TRUE(waitFor([&] { return progressStarted(dlg); }, kOperationMs)) << logText(dlg);
    dlg.workerThread()->KillWorker();
    ASSERT_TRUE(waitFor([&] { return isReady(dlg); }, kOperationMs)) << logText(dlg);
    EXPECT_TRUE(logHas(dlg, "Tordel has exited.") || logHas(dlg, "Cannot communicate with Tordel.")) << logText(dlg);
    EXPECT_TRUE(logHas(dlg, "Cancelling operation, please wait"));
    EXPECT_TRUE(logHas(dlg, "Cancelled."));
    expectNothingLeft(dlg);
}

TEST(Dialog, OperationsThatCannotStartLeaveTheDialogReady) {
    Rig rig({}, false);
    AppProfile profile("Tarvik", "Ombra");
    {
        // No C-bus file in the history and none at the fixed path.
        MessageBoxRecorder boxes;
        DialogSettings s;
        s.portName = "/dev/ttyS0";
        COmbraDlg dlg(profile, s);
        click(dlg, "1018");
        ASSERT_EQ(boxes.texts().size(), 1u);
        EXPECT_EQ(boxes.texts()[0], "Cannot open file C_Bus_Table/C_Bus.txt");
        EXPECT_TRUE(isReady(dlg));
    }
    {
        // A table that its 16-bit size cannot hold is refused, not cut.
        const std::string big = rig.file("big.txt");
        {
            std::ofstream out(big);
            for (int i = 0; i < 40000; ++i) out << "ffa2\n";
        }
        profile.writeString("Settings", "MRU_C_BUS_FILE0", big);
        profile.writeString("Settings", "MRU_C_BUS_FILE", big);  // the remembered choice
        MessageBoxRecorder boxes;
        DialogSettings s;
        s.portName = "/dev/ttyS0";
        COmbraDlg dlg(profile, s);
        click(dlg, "1018");
        ASSERT_EQ(boxes.texts().size(), 1u);
        EXPECT_NE(boxes.texts()[0].find("larger than 65535 bytes"), std::string::npos) << boxes.texts()[0];
        EXPECT_TRUE(isReady(dlg));
    }
    {
        // A port name without a digit starts nothing and shows nothing.
        rig.addCBusFile();
        MessageBoxRecorder boxes;
        DialogSettings s;
        s.portName = "ABC";
        COmbraDlg dlg(profile, s);
        click(dlg, "1018");
        EXPECT_TRUE(boxes.texts().empty());
        EXPECT_TRUE(isReady(dlg));
        EXPECT_EQ(logText(dlg), "");
    }
    {
        // A worker that is not registered.
        platform::RegKey key;
        ASSERT_EQ(key.open(HKEY_LOCAL_MACHINE, "Software\\Tarvik\\Ombra\\Locations", KEY_ALL_ACCESS), ERROR_SUCCESS);
        RegDeleteValueA(key.get(), "Lunet");
        COmbraDlg dlg(profile, {});
        click(dlg, "1016");
        EXPECT_TRUE(logHas(dlg, "Lunet not registered. Aborting."));
        EXPECT_TRUE(isReady(dlg));
    }
}

TEST(Dialog, LogLinesProgressAndClock) {
    Rig rig({}, false);
    AppProfile profile("Tarvik", "Ombra");
    COmbraDlg dlg(profile, {});
    dlg.addTextLine("first\n\rsecond");
    dlg.addTextLine("ends\r\n");
    dlg.addTextLine("");
    const QStringList lines = child<QTextEdit>(dlg, "1014")->toPlainText().split('\n');
    ASSERT_GE(lines.size(), 3);
    EXPECT_TRUE(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d : first$").match(lines[0]).hasMatch()) << lines[0].toStdString();
    EXPECT_EQ(lines[1], "\t : second");
    EXPECT_TRUE(lines[2].contains(" : ends")) << lines[2].toStdString();
    // The prefix is bold, the message is not.
    QTextCursor cursor(child<QTextEdit>(dlg, "1014")->document());
    cursor.setPosition(1);
    EXPECT_EQ(cursor.charFormat().fontWeight(), QFont::Bold);
    cursor.setPosition(12);
    EXPECT_NE(cursor.charFormat().fontWeight(), QFont::Bold);

    dlg.SetProgress(300, 1000);
    EXPECT_EQ(child<QLabel>(dlg, "1008")->text(), "300 / 1000");
    EXPECT_EQ(child<QProgressBar>(dlg, "1003")->maximum(), 1000);
    EXPECT_EQ(child<QProgressBar>(dlg, "1003")->value(), 300);
    dlg.SetProgress(0xFFFFFFF0u, 0xFFFFFFFFu);  // beyond int: scaled, never negative
    EXPECT_GT(child<QProgressBar>(dlg, "1003")->value(), 0);
}

TEST(HistoryComboBox, MirrorsTheListAndSavesWhatWasTyped) {
    Rig rig({}, false);
    ensureApplication();
    AppProfile profile("Tarvik", "Ombra");
    for (int i = 0; i < 10; ++i) profile.writeString("Settings", "MRU_X" + std::to_string(i), "/p" + std::to_string(i));
    CHistoryComboBox combo;
    combo.setMaximum(10);
    combo.load(profile, "Settings", "MRU_X");
    ASSERT_EQ(combo.count(), 10);
    combo.add("/new");
    EXPECT_EQ(combo.count(), 10);
    EXPECT_EQ(combo.itemText(0), "/new");
    EXPECT_EQ(combo.currentIndex(), 0);
    EXPECT_EQ(combo.selectedText(), "/new");
    // Typed text is no selection, and goes to the top when saved.
    combo.setEditText("/typed");
    EXPECT_EQ(combo.selectedText(), "");
    combo.save(profile, true);
    EXPECT_EQ(profile.getString("Settings", "MRU_X0", ""), "/typed");
    EXPECT_EQ(profile.getString("Settings", "MRU_X1", ""), "/new");
    EXPECT_EQ(combo.itemText(0), "/typed");
}

TEST(DumpDialog, RefusesAnythingButDecimalNumbers) {
    ensureApplication();
    std::uint32_t v = 0;
    EXPECT_TRUE(parseDecimalDword("4294967295", v));
    EXPECT_EQ(v, 4294967295u);
    EXPECT_TRUE(parseDecimalDword(" 12 ", v));
    EXPECT_EQ(v, 12u);
    for (const char* bad : {"", "0x10", "-1", "4294967296", "12a", "1 2", "99999999999"})
        EXPECT_FALSE(parseDecimalDword(bad, v)) << bad;

    MessageBoxRecorder boxes;
    CDumpDlg dlg(1, 2, "/tmp/x");
    dlg.findChild<QLineEdit*>("1018")->setText("0x100");
    dlg.accept();
    EXPECT_EQ(boxes.texts().size(), 1u);
    EXPECT_EQ(dlg.result(), QDialog::Rejected);  // still open
    dlg.findChild<QLineEdit*>("1018")->setText("256");
    dlg.accept();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.length(), 256u);
    EXPECT_EQ(dlg.start(), 1u);
    EXPECT_NE(dlg.findChild<QLineEdit*>("1019")->completer(), nullptr);
}
