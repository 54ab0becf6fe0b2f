// The installation wizard: the sheet COmbraInstallPropertySheet, which holds
// the wizard's state, and its five pages (pages.h).
#pragma once

#include <QWizard>

#include <functional>

#include "installation.h"

namespace ombra::install {

class CInstallerDlg;

class COmbraInstallPropertySheet : public QWizard {
public:
    enum PageId { kWelcomePage = 0, kDirSelectPage, kComponentSelectPage, kSummaryPage, kInstallerPage };

    // Shows a message box; gives IDOK, IDYES or IDNO.
    using MessageFn = std::function<int(QWidget* parent, const QString& text, DWORD type)>;

    explicit COmbraInstallPropertySheet(InstallEnvironment env, QWidget* parent = nullptr);

    // Folder, selection and flags as the pages leave them.
    InstallChoices& state() { return state_; }
    const InstallEnvironment& environment() const { return env_; }

    int messageBox(QWidget* parent, const QString& text, DWORD type);
    // Tests answer the boxes and stand in for the process's end.
    void setMessageFn(MessageFn fn) { messageFn_ = std::move(fn); }
    void setExitFn(std::function<void()> fn) { exitFn_ = std::move(fn); }

    CInstallerDlg* installerPage() const { return installer_; }

    // Page 5's work has ended: finished state, or only Cancel left.
    void installationEnded(bool complete);
    bool finished() const { return finished_; }

    // The sheet's Cancel (also the window's close button and Escape).
    void reject() override;

private:
    void showCaptionOf(int id);

    InstallEnvironment env_;
    InstallChoices state_;
    MessageFn messageFn_;
    std::function<void()> exitFn_;
    CInstallerDlg* installer_ = nullptr;
    bool finished_ = false;
};

// The default message box (QMessageBox with the MB_ buttons and icon).
int showMessageBox(QWidget* parent, const QString& caption, const QString& text, DWORD type);

}  // namespace ombra::install
