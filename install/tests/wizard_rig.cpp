#include "wizard_rig.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <cstdlib>

#include "ombra/platform/messagebox.h"
#include "pages.h"

namespace ombra::installtest {

void ensureApplication()
{
    if (QApplication::instance()) return;
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "install_wizard_test";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
}

bool waitFor(const std::function<bool()>& done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QTest::qWait(5);
    }
    return true;
}

void onNextModal(std::function<void(QWidget*)> act, int ms)
{
    auto* timer = new QTimer;
    auto* clock = new QElapsedTimer;
    clock->start();
    QObject::connect(timer, &QTimer::timeout, [timer, clock, act = std::move(act), ms] {
        QWidget* modal = QApplication::activeModalWidget();
        const bool found = modal && modal->isVisible();
        if (!found && clock->elapsed() < ms) return;
        timer->stop();
        timer->deleteLater();
        delete clock;
        if (found) act(modal);
    });
    timer->start(20);
}

WizardRig::WizardRig(install::InstallEnvironment env)
{
    ensureApplication();
    sheet_ = std::make_unique<install::COmbraInstallPropertySheet>(std::move(env));
    setUp();
}

void WizardRig::setUp()
{
    sheet_->setMessageFn([this](QWidget*, const QString& text, DWORD type) {
        asked.push_back({text.toStdString(), type});
        return (type & 0xF) == MB_YESNO ? answer : IDOK;
    });
    sheet_->setExitFn([this] { ++exits; });
    sheet_->show();
    QCoreApplication::processEvents();
}

bool WizardRig::shown(QWizard::WizardButton which) const
{
    QAbstractButton* b = sheet_->button(which);
    return b && b->isVisible();
}

bool WizardRig::click(QWizard::WizardButton which)
{
    QAbstractButton* b = sheet_->button(which);
    if (!b || !b->isVisible() || !b->isEnabled()) return false;
    QTest::mouseClick(b, Qt::LeftButton);
    QCoreApplication::processEvents();
    return true;
}

void WizardRig::goToSummary(const std::string& folder)
{
    click(QWizard::NextButton);
    find<QLineEdit>("destinationEdit")->setText(QString::fromStdString(folder));
    click(QWizard::NextButton);
    click(QWizard::NextButton);
}

bool WizardRig::installAndWait(int ms)
{
    if (!click(QWizard::NextButton)) return false;
    auto* page = sheet_->installerPage();
    return waitFor([&] { return !page->running(); }, ms);
}

}  // namespace ombra::installtest

// Under LeakSanitizer: what the desktop libraries below Qt keep until exit
// is theirs, not a leak of ours.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\nleak:libdbus-1.so\n";
}
