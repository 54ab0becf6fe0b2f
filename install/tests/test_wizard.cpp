// The wizard driven page by page (offscreen) into a scratch home and
// registry: captions, texts, colours and checks of every page, the
// destination cases, the log page's run, Cancel and its question.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "install_table.h"
#include "ombra/platform/messagebox.h"
#include "ombra/platform/registry.h"
#include "pages.h"
#include "wizard_rig.h"

namespace ombra::installtest {
namespace {

using namespace ombra::install;

std::vector<std::string> labelTexts(QWidget* page)
{
    std::vector<std::string> out;
    for (QLabel* label : page->findChildren<QLabel*>())
        if (!label->text().isEmpty()) out.push_back(label->text().toStdString());
    return out;
}

bool hasLabel(QWidget* page, const char* text)
{
    auto texts = labelTexts(page);
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

std::vector<std::string> split(const QString& text)
{
    std::vector<std::string> out;
    for (const QString& line : text.split(QLatin1Char('\n'))) out.push_back(line.toStdString());
    return out;
}

class Wizard : public ::testing::Test {
protected:
    Wizard() : rig(testEnvironment(scratch, payload)) {}
    QWizardPage* current() { return rig.sheet().currentPage(); }
    std::string title() { return rig.sheet().windowTitle().toStdString(); }
    QString log() { return rig.find<QTextEdit>("logText")->toPlainText(); }

    Scratch scratch;
    MemoryPayload payload = standInPayload();
    WizardRig rig;
};

TEST_F(Wizard, PagesInOrderWithTheirCaptionsTextsAndButtons)
{
    EXPECT_EQ(current()->objectName(), "template103");
    EXPECT_EQ(title(), "Ombra Installation");
    EXPECT_TRUE(hasLabel(current(), "Welcom to the Tarvik Ombra installer."));
    EXPECT_TRUE(hasLabel(current(), "Press 'Next' to continue."));
    EXPECT_EQ(rig.find<QLabel>("versionStatic")->text(), "Ombra v0.38");
    EXPECT_FALSE(rig.shown(QWizard::BackButton));
    EXPECT_TRUE(rig.shown(QWizard::NextButton));
    EXPECT_TRUE(rig.shown(QWizard::CancelButton));
    EXPECT_FALSE(rig.find<QLabel>("productBitmap")->pixmap().isNull());

    ASSERT_TRUE(rig.click(QWizard::NextButton));
    EXPECT_EQ(current()->objectName(), "template104");
    EXPECT_EQ(title(), "Ombra Installer - Select Installation Directory");
    EXPECT_TRUE(hasLabel(current(), "Please select the directory where Ombra should be installed :"));
    EXPECT_EQ(rig.find<QLineEdit>("destinationEdit")->text().toStdString(), scratch.destination().string());
    EXPECT_EQ(rig.find<QPushButton>("browseButton")->text(), "Browse...");
    EXPECT_TRUE(rig.shown(QWizard::BackButton));

    ASSERT_TRUE(rig.click(QWizard::NextButton));
    // The default folder does not exist yet: made, then the question (Yes).
    ASSERT_EQ(rig.asked.size(), 1u);
    EXPECT_EQ(current()->objectName(), "template105");
    EXPECT_EQ(title(), "Ombra Installer - Component selection");
    EXPECT_TRUE(hasLabel(current(), "Please select which components you would like to install:"));
    auto* list = rig.find<QListWidget>("componentList");
    ASSERT_EQ(list->count(), 8);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(list->item(i)->text().toStdString(), componentTable()[i].listText);
        EXPECT_EQ(list->item(i)->checkState(), Qt::Checked);
    }
    EXPECT_EQ(rig.find<QCheckBox>("desktopShortcut")->text(), "Create a desktop shortcut");
    EXPECT_TRUE(rig.find<QCheckBox>("desktopShortcut")->isChecked());
    EXPECT_EQ(rig.find<QCheckBox>("startMenuShortcut")->text(), "Create a start menu shortcut");
    EXPECT_TRUE(rig.find<QCheckBox>("startMenuShortcut")->isChecked());
    EXPECT_TRUE(rig.shown(QWizard::BackButton));

    ASSERT_TRUE(rig.click(QWizard::NextButton));
    EXPECT_EQ(current()->objectName(), "template106");
    EXPECT_EQ(title(), "Ombra Installer - Installation summary");
    EXPECT_TRUE(hasLabel(current(), "Installation summary:"));
    EXPECT_TRUE(hasLabel(current(), "Press 'Next' to begin installation."));
    auto* summary = rig.find<QTextEdit>("summaryText");
    EXPECT_TRUE(summary->isReadOnly());
    EXPECT_EQ(summary->cursorWidth(), 0);
    EXPECT_EQ(summary->palette().color(QPalette::Base), QColor(0xFF, 0xFF, 0xC0));
    EXPECT_EQ(summary->palette().color(QPalette::Text), QColor(Qt::black));
    EXPECT_EQ(summary->toPlainText().toStdString(),
              "\n Destination folder : " + scratch.destination().string() +
                  " \n Installed components: \n\t+Ombra\n\t+Tordel\n\t+Quasp\n\t+Lunet\n\t+Wexom\n\t+Cobalt\n"
                  "\t+Copper\n\t+Nickel\nA desktop shortcut will be created.\nA start-menu shortcut will be created.\n");

    ASSERT_TRUE(rig.installAndWait());
    EXPECT_EQ(current()->objectName(), "template107");
    auto* logText = rig.find<QTextEdit>("logText");
    EXPECT_EQ(logText->palette().color(QPalette::Base), QColor(Qt::black));
    EXPECT_EQ(logText->palette().color(QPalette::Text), QColor(0xC0, 0xC0, 0x00));
    EXPECT_TRUE(logText->font().bold());
    auto lines = split(log());
    ASSERT_GT(lines.size(), 5u);
    EXPECT_EQ(lines[0], "Ombra Installation Log ");
    EXPECT_EQ(lines[1], " ---------------------------");
    EXPECT_EQ(lines[2], "Beginning installation:");
    EXPECT_EQ(lines.back(), "Installation complete.");
    EXPECT_EQ(rig.find<QProgressBar>("progress")->value(), 100);
    EXPECT_EQ(rig.find<QProgressBar>("progress")->maximum(), 100);
    EXPECT_EQ(title(), "Ombra Installer - Finished");
    EXPECT_FALSE(rig.shown(QWizard::CancelButton));
    EXPECT_FALSE(rig.shown(QWizard::BackButton));
    EXPECT_FALSE(rig.shown(QWizard::NextButton));
    EXPECT_TRUE(rig.shown(QWizard::FinishButton));
    EXPECT_TRUE(fs::exists(scratch.destination() / "uninstall.sh"));
    ASSERT_TRUE(rig.click(QWizard::FinishButton));
    EXPECT_FALSE(rig.sheet().isVisible());
    EXPECT_EQ(rig.sheet().result(), QDialog::Accepted);
}

TEST_F(Wizard, DestinationCasesAndTheirMessages)
{
    rig.click(QWizard::NextButton);
    auto* edit = rig.find<QLineEdit>("destinationEdit");
    auto tryNext = [&](const std::string& text) {
        rig.asked.clear();
        edit->setText(QString::fromStdString(text));
        rig.click(QWizard::NextButton);
        return current()->objectName() == "template105";
    };
    EXPECT_FALSE(tryNext(""));
    ASSERT_EQ(rig.asked.size(), 1u);
    EXPECT_EQ(rig.asked[0].text, "You must select a destination folder to continue");

    writeText(scratch.root() / "plain", "x");
    const std::string file = (scratch.root() / "plain").string();
    EXPECT_FALSE(tryNext(file));
    ASSERT_EQ(rig.asked.size(), 1u);
    EXPECT_EQ(rig.asked[0].text, file + " is an illegal directory name");
    EXPECT_EQ(rig.asked[0].type, MB_OK | MB_ICONEXCLAMATION);

    const std::string deep = (scratch.root() / "one/two").string();
    EXPECT_FALSE(tryNext(deep));
    ASSERT_EQ(rig.asked.size(), 1u);
    EXPECT_EQ(rig.asked[0].text, "Unable to create a directory named " + deep + " ");

    const std::string fresh = (scratch.root() / "fresh").string();
    rig.answer = IDNO;
    EXPECT_FALSE(tryNext(fresh));
    ASSERT_EQ(rig.asked.size(), 1u);
    EXPECT_EQ(rig.asked[0].text, "Directory " + fresh + " doesn't exist. Do you want to create it ?");
    EXPECT_EQ(rig.asked[0].type, MB_YESNO | MB_ICONQUESTION);
    EXPECT_TRUE(fs::is_directory(fresh)) << "No keeps the folder just made";

    const std::string other = (scratch.root() / "other").string();
    rig.answer = IDYES;
    EXPECT_TRUE(tryNext(other));
    EXPECT_EQ(rig.sheet().state().destination, other);
}

TEST_F(Wizard, BackStoresTheFolderWithoutAnyCheck)
{
    rig.click(QWizard::NextButton);
    rig.find<QLineEdit>("destinationEdit")->setText(QStringLiteral("/no/such/place/"));
    ASSERT_TRUE(rig.click(QWizard::BackButton));
    EXPECT_EQ(current()->objectName(), "template103");
    EXPECT_TRUE(rig.asked.empty());
    EXPECT_EQ(rig.sheet().state().destination, "/no/such/place");
    rig.click(QWizard::NextButton);
    EXPECT_EQ(rig.find<QLineEdit>("destinationEdit")->text(), "/no/such/place");
}

TEST_F(Wizard, AnEmptySelectionInstallsTheUnconditionalFiles)
{
    rig.click(QWizard::NextButton);
    rig.find<QLineEdit>("destinationEdit")->setText(QString::fromStdString(scratch.destination().string()));
    rig.click(QWizard::NextButton);
    auto* list = rig.find<QListWidget>("componentList");
    for (int i = 0; i < list->count(); ++i) list->item(i)->setCheckState(Qt::Unchecked);
    rig.find<QCheckBox>("desktopShortcut")->setChecked(false);
    rig.click(QWizard::NextButton);
    EXPECT_EQ(rig.find<QTextEdit>("summaryText")->toPlainText().toStdString(),
              "\n Destination folder : " + scratch.destination().string() +
                  " \n Installed components: \nA start-menu shortcut will be created.\n");
    // Back and forth keeps the ticks as they were left.
    rig.click(QWizard::BackButton);
    EXPECT_EQ(list->item(0)->checkState(), Qt::Unchecked);
    rig.click(QWizard::NextButton);
    ASSERT_TRUE(rig.installAndWait());
    EXPECT_TRUE(rig.sheet().finished());
    EXPECT_TRUE(fs::exists(scratch.destination() / "SelkanBoot.so"));
    EXPECT_FALSE(fs::exists(scratch.destination() / "Tordel"));
    EXPECT_FALSE(fs::exists(scratch.desktop() / "Ombra v0.37.desktop"));
    auto lines = split(log());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "\tSelkanBoot.so"), lines.end());
    EXPECT_EQ(std::find(lines.begin(), lines.end(), "\tTordel REGISTER"), lines.end());
    const std::string script = readText(scratch.destination() / "uninstall.sh");
    EXPECT_NE(script.find("echo Uninstalling SelkanBoot..."), std::string::npos);
    EXPECT_EQ(script.find("UNREGISTER"), std::string::npos);
}

TEST_F(Wizard, AReinstallLogsTheMenuFolderErrorAndStillCompletes)
{
    rig.goToSummary(scratch.destination().string());
    ASSERT_TRUE(rig.installAndWait());
    {
        // The trace settings of the first installation, which must go.
        ombra::platform::RegKey debug;
        ASSERT_EQ(debug.create(HKEY_LOCAL_MACHINE, "Software\\Tarvik\\Ombra\\Debug", KEY_ALL_ACCESS), ERROR_SUCCESS);
    }
    WizardRig again(testEnvironment(scratch, payload));
    again.goToSummary(scratch.destination().string());
    ASSERT_TRUE(again.installAndWait());
    auto lines = split(again.find<QTextEdit>("logText")->toPlainText());
    auto at = std::find(lines.begin(), lines.end(), "Error creating start menu folder");
    ASSERT_NE(at, lines.end());
    EXPECT_EQ(*(at + 1), "Error: File exists");
    EXPECT_EQ(*(at + 2), "Start menu shortcut not created.");
    EXPECT_EQ(lines.back(), "Installation complete.");
    ombra::platform::RegKey gone;
    EXPECT_EQ(gone.open(HKEY_LOCAL_MACHINE, "Software\\Tarvik\\Ombra\\Debug", KEY_READ), ERROR_FILE_NOT_FOUND);
}

TEST_F(Wizard, CancelAsksAndOnlyYesEndsTheProgram)
{
    rig.click(QWizard::NextButton);
    rig.answer = IDNO;
    ASSERT_TRUE(rig.click(QWizard::CancelButton));
    ASSERT_EQ(rig.asked.size(), 1u);
    EXPECT_EQ(rig.asked[0].text, "Are you sure you want to cancel ?");
    EXPECT_EQ(rig.asked[0].type, MB_YESNO | MB_ICONQUESTION);
    EXPECT_EQ(rig.exits, 0);
    EXPECT_TRUE(rig.sheet().isVisible());
    rig.answer = IDYES;
    rig.click(QWizard::CancelButton);
    EXPECT_EQ(rig.exits, 1);
}

// The work runs on its own thread: while it is held in a pause the page
// keeps answering, shows what has come so far, and Cancel still asks.
TEST_F(Wizard, TheLogArrivesWhileTheWorkRunsAndCancelWorksMeanwhile)
{
    std::mutex lock;
    std::condition_variable wake;
    bool release = false;
    std::atomic<bool> held{false};
    InstallEnvironment env = testEnvironment(scratch, payload);
    env.pause = [&](DWORD) {
        std::unique_lock<std::mutex> guard(lock);
        held = true;
        wake.wait(guard, [&] { return release; });
    };
    WizardRig slow(env);
    slow.goToSummary(scratch.destination().string());
    ASSERT_TRUE(slow.click(QWizard::NextButton));
    ASSERT_TRUE(waitFor([&] { return held.load(); }, 5000));
    ASSERT_TRUE(waitFor([&] {
        return slow.find<QTextEdit>("logText")->toPlainText().contains(QStringLiteral("Operating system is")) ||
               slow.find<QProgressBar>("progress")->value() == 10;
    }, 5000));
    EXPECT_EQ(slow.find<QProgressBar>("progress")->value(), 10);
    EXPECT_TRUE(slow.sheet().installerPage()->running());
    EXPECT_FALSE(slow.shown(QWizard::BackButton));
    EXPECT_FALSE(slow.shown(QWizard::NextButton));
    EXPECT_FALSE(slow.shown(QWizard::FinishButton));
    EXPECT_TRUE(slow.shown(QWizard::CancelButton));
    slow.answer = IDYES;
    slow.click(QWizard::CancelButton);
    EXPECT_EQ(slow.exits, 1);
    {
        std::lock_guard<std::mutex> guard(lock);
        release = true;
    }
    wake.notify_all();
    EXPECT_TRUE(waitFor([&] { return !slow.sheet().installerPage()->running(); }, 20000));
}

TEST_F(Wizard, AStoppedInstallationLeavesOnlyCancel)
{
    payload.add(140, {});
    WizardRig broken(testEnvironment(scratch, payload));
    broken.goToSummary(scratch.destination().string());
    ASSERT_TRUE(broken.installAndWait());
    EXPECT_FALSE(broken.sheet().finished());
    EXPECT_EQ(broken.sheet().windowTitle(), "Ombra Installer - Installing...");
    EXPECT_TRUE(broken.shown(QWizard::CancelButton));
    EXPECT_FALSE(broken.shown(QWizard::FinishButton));
    EXPECT_FALSE(broken.shown(QWizard::BackButton));
    EXPECT_TRUE(broken.find<QTextEdit>("logText")->toPlainText().endsWith(QStringLiteral("File decompression failed.")));
}

TEST_F(Wizard, BrowseReplacesTheFolderWithTheChosenOne)
{
    rig.click(QWizard::NextButton);
    fs::create_directories(scratch.root() / "picked");
    std::string title;
    onNextModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        title = dialog->windowTitle().toStdString();
        // A folder dialog chooses the folder it shows; OK on a selected
        // subfolder would only open it.
        dialog->setDirectory(QString::fromStdString((scratch.root() / "picked").string()));
        // The name field still holds the start folder's last part.
        if (auto* name = dialog->findChild<QLineEdit*>("fileNameEdit")) name->clear();
        QMetaObject::invokeMethod(dialog, "done", Q_ARG(int, QDialog::Accepted));
    });
    rig.find<QPushButton>("browseButton")->click();
    EXPECT_EQ(title, "Please select a destination folder");
    EXPECT_EQ(rig.find<QLineEdit>("destinationEdit")->text().toStdString(), (scratch.root() / "picked").string());

    // Cancelled: the text stays.
    onNextModal([](QWidget* modal) { QMetaObject::invokeMethod(modal, "reject"); });
    rig.find<QPushButton>("browseButton")->click();
    EXPECT_EQ(rig.find<QLineEdit>("destinationEdit")->text().toStdString(), (scratch.root() / "picked").string());
}

// The real message box, as the user sees it: text, icon and buttons.
TEST_F(Wizard, TheDefaultMessageBoxShowsTheTextWithItsIcon)
{
    ensureApplication();
    std::string seen;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttons = 0;
    onNextModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        seen = box->text().toStdString();
        icon = box->icon();
        buttons = static_cast<int>(box->buttons().size());
        box->button(QMessageBox::No)->click();
    });
    int answer = showMessageBox(nullptr, QStringLiteral("Ombra Installer"), QStringLiteral("Are you sure you want to cancel ?"),
                                MB_YESNO | MB_ICONQUESTION);
    EXPECT_EQ(answer, IDNO);
    EXPECT_EQ(seen, "Are you sure you want to cancel ?");
    EXPECT_EQ(icon, QMessageBox::Question);
    EXPECT_EQ(buttons, 2);
}

}  // namespace
}  // namespace ombra::installtest
