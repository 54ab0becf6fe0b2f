// The wizard tests' helpers: one QApplication (offscreen unless a platform
// was chosen), a sheet over a scratch home whose message boxes are answered
// and recorded, and waits that keep the event loop running.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QWizard>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "install_rig.h"
#include "wizard.h"

namespace ombra::installtest {

void ensureApplication();
bool waitFor(const std::function<bool()>& done, int ms);
// Calls `act` on the next modal dialog once it shows (polled, for up to
// `ms`), so a test can answer a dialog that blocks in exec().
void onNextModal(std::function<void(QWidget*)> act, int ms = 5000);

struct AskedBox {
    std::string text;
    DWORD type;
};

class WizardRig {
public:
    explicit WizardRig(install::InstallEnvironment env);

    install::COmbraInstallPropertySheet& sheet() { return *sheet_; }
    template <typename W>
    W* find(const char* name) const
    {
        return sheet_->findChild<W*>(QString::fromLatin1(name));
    }
    // Clicks a wizard button; false if it is not shown or not enabled.
    bool click(QWizard::WizardButton which);
    bool shown(QWizard::WizardButton which) const;
    // Welcome -> destination -> components -> summary, with `folder`.
    void goToSummary(const std::string& folder);
    // Then Next on the summary and wait for the end of the work.
    bool installAndWait(int ms = 20000);

    std::vector<AskedBox> asked;
    int answer = 6;  // IDYES
    int exits = 0;

private:
    void setUp();
    std::unique_ptr<install::COmbraInstallPropertySheet> sheet_;
};

}  // namespace ombra::installtest
