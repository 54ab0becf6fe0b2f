#include "wizard.h"

#include <QAbstractButton>
#include <QMessageBox>

#include <cstdlib>

#include "desktop_files.h"
#include "install_table.h"
#include "ombra/platform/messagebox.h"
#include "pages.h"

namespace ombra::install {

int showMessageBox(QWidget* parent, const QString& caption, const QString& text, DWORD type)
{
    QMessageBox box(parent);
    box.setWindowTitle(caption);
    box.setText(text);
    switch (type & 0xF0) {
    case MB_ICONERROR: box.setIcon(QMessageBox::Critical); break;
    case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
    case MB_ICONWARNING: box.setIcon(QMessageBox::Warning); break;
    case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
    default: break;
    }
    if ((type & 0xF) == MB_YESNO) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes ? IDYES : IDNO;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return IDOK;
}

COmbraInstallPropertySheet::COmbraInstallPropertySheet(InstallEnvironment env, QWidget* parent)
    : QWizard(parent), env_(std::move(env))
{
    setObjectName(QStringLiteral("COmbraInstallPropertySheet"));
    setWindowTitle(QStringLiteral("Ombra Installer"));
    setWizardStyle(QWizard::ClassicStyle);
    setOption(QWizard::NoBackButtonOnStartPage, true);
    setOption(QWizard::NoBackButtonOnLastPage, true);
    // Room for the largest page from the start, so nothing is cut off.
    setMinimumSize(580, 430);

    state_.destination = defaultDestination();
    for (int i = 0; i < kComponentCount; ++i) state_.components.push_back(i);

    messageFn_ = [this](QWidget* owner, const QString& text, DWORD type) {
        return showMessageBox(owner, windowTitle(), text, type);
    };
    // "At once", also while the installation thread works.
    exitFn_ = [] { std::_Exit(0); };

    setPage(kWelcomePage, new CWelcomePage(this));
    setPage(kDirSelectPage, new CDirSelectDlg(this));
    setPage(kComponentSelectPage, new CComponentSelectDlg(this));
    setPage(kSummaryPage, new CInstallSummaryDlg(this));
    installer_ = new CInstallerDlg(this);
    setPage(kInstallerPage, installer_);
    setStartId(kWelcomePage);

    connect(this, &QWizard::currentIdChanged, this, [this](int id) { showCaptionOf(id); });
}

void COmbraInstallPropertySheet::showCaptionOf(int id)
{
    if (finished_) return;
    if (QWizardPage* p = page(id)) setWindowTitle(p->property(kPageCaptionProperty).toString());
}

int COmbraInstallPropertySheet::messageBox(QWidget* parent, const QString& text, DWORD type)
{
    return messageFn_(parent, text, type);
}

void COmbraInstallPropertySheet::installationEnded(bool complete)
{
    if (!complete) {
        // Nothing is rolled back; the user leaves with Cancel.
        setButtonLayout({QWizard::Stretch, QWizard::CancelButton});
        return;
    }
    finished_ = true;
    setWindowTitle(QStringLiteral("Ombra Installer - Finished"));
    setButtonLayout({QWizard::Stretch, QWizard::FinishButton});
}

void COmbraInstallPropertySheet::reject()
{
    if (finished_) {
        // Cancel is gone once finished; closing the window is Finish.
        accept();
        return;
    }
    if (messageBox(this, QStringLiteral("Are you sure you want to cancel ?"), MB_YESNO | MB_ICONQUESTION) == IDYES)
        exitFn_();
}

}  // namespace ombra::install
