// The wizard's five pages (templates 103 to 107). Every page shows the
// product bitmap at its side; widgets carry object names for the tests.
#pragma once

#include <QEvent>
#include <QWizardPage>

#include <functional>
#include <thread>

#include "installation.h"

class QCheckBox;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTextEdit;
class QVBoxLayout;

namespace ombra::install {

class COmbraInstallPropertySheet;

// The caption the title bar shows while a page is current.
inline const char* const kPageCaptionProperty = "ombraCaption";

class CInstallPage : public QWizardPage {
public:
    CInstallPage(COmbraInstallPropertySheet* sheet, const char* objectName, const QString& caption);

protected:
    COmbraInstallPropertySheet* sheet() const { return sheet_; }
    QVBoxLayout* content() const { return content_; }

private:
    COmbraInstallPropertySheet* sheet_;
    QVBoxLayout* content_;
};

// 1: welcome.
class CWelcomePage final : public CInstallPage {
public:
    explicit CWelcomePage(COmbraInstallPropertySheet* sheet);
};

// 2: destination folder.
class CDirSelectDlg final : public CInstallPage {
public:
    explicit CDirSelectDlg(COmbraInstallPropertySheet* sheet);
    void initializePage() override;
    bool validatePage() override;
    void cleanupPage() override;  // Back

private:
    void browse();
    QLineEdit* folder_;
    QPushButton* browse_;
};

// 3: components and shortcuts.
class CComponentSelectDlg final : public CInstallPage {
public:
    explicit CComponentSelectDlg(COmbraInstallPropertySheet* sheet);
    bool validatePage() override;
    void cleanupPage() override;  // keeps the ticks

private:
    QListWidget* list_;
    QCheckBox* desktop_;
    QCheckBox* startMenu_;
};

// 4: summary.
class CInstallSummaryDlg final : public CInstallPage {
public:
    explicit CInstallSummaryDlg(COmbraInstallPropertySheet* sheet);
    void initializePage() override;

private:
    QTextEdit* summary_;
};

// 5: the installation log; runInstallation runs on a thread of its own and
// reaches this page only through queued calls.
class CInstallerDlg final : public CInstallPage {
public:
    explicit CInstallerDlg(COmbraInstallPropertySheet* sheet);
    ~CInstallerDlg() override;
    void initializePage() override;
    bool isComplete() const override { return done_; }

    // A call from the installation thread, run on the user-interface thread.
    class CallEvent final : public QEvent {
    public:
        static constexpr QEvent::Type kType = static_cast<QEvent::Type>(QEvent::User + 1);
        explicit CallEvent(std::function<void()> f) : QEvent(kType), call(std::move(f)) {}
        std::function<void()> call;
    };
    bool event(QEvent* e) override;

    // On the user-interface thread, from the queued calls.
    void logLine(const QString& text);
    void logAppend(const QString& text);
    void setProgress(int percent);
    void workEnded(bool complete);

    bool running() const { return running_; }

private:
    QTextEdit* log_;
    QProgressBar* progress_;
    std::thread worker_;
    bool running_ = false;
    bool done_ = false;
};

}  // namespace ombra::install
