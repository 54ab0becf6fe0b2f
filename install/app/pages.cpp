#include "pages.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTextEdit>
#include <QVBoxLayout>

#include "destination.h"
#include "install_table.h"
#include "ombra/common/hand_over.h"
#include "ombra/platform/messagebox.h"
#include "product_bitmap.h"
#include "wizard.h"

namespace ombra::install {
namespace {

// 320 x 200 dialog units at the usual font.
constexpr int kPageWidth = 520;
constexpr int kPageHeight = 330;
constexpr int kBitmapWidth = 130;

QString shown(const std::string& text)
{
    QString out = QString::fromStdString(text);
    out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return out;
}

QLabel* textLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    return label;
}

// Observer on the installation thread: every call becomes a queued call
// on the page.
class PageObserver final : public InstallObserver {
public:
    explicit PageObserver(CInstallerDlg* page) : page_(page) {}
    void logLine(const std::string& text) override
    {
        post([p = page_, t = shown(text)] { p->logLine(t); });
    }
    void logAppend(const std::string& text) override
    {
        post([p = page_, t = shown(text)] { p->logAppend(t); });
    }
    void setProgress(int percent) override
    {
        post([p = page_, percent] { p->setProgress(percent); });
    }
    void finished(bool complete) override
    {
        post([p = page_, complete] { p->workEnded(complete); });
    }

private:
    void post(std::function<void()> call)
    {
        auto* event = new CInstallerDlg::CallEvent(std::move(call));
        handOverSent(event);
        QCoreApplication::postEvent(page_, event);
    }
    CInstallerDlg* page_;
};

}  // namespace

CInstallPage::CInstallPage(COmbraInstallPropertySheet* sheet, const char* objectName, const QString& caption)
    : QWizardPage(sheet), sheet_(sheet)
{
    setObjectName(QString::fromLatin1(objectName));
    setProperty(kPageCaptionProperty, caption);
    setMinimumSize(kPageWidth, kPageHeight);
    auto* row = new QHBoxLayout(this);
    auto* bitmap = new QLabel(this);
    bitmap->setObjectName(QStringLiteral("productBitmap"));
    bitmap->setPixmap(productBitmap(kBitmapWidth, kPageHeight - 20));
    bitmap->setAlignment(Qt::AlignTop);
    row->addWidget(bitmap);
    content_ = new QVBoxLayout;
    row->addLayout(content_, 1);
}

CWelcomePage::CWelcomePage(COmbraInstallPropertySheet* sheet)
    : CInstallPage(sheet, "template103", QStringLiteral("Ombra Installation"))
{
    auto* welcome = textLabel(QStringLiteral("Welcom to the Tarvik Ombra installer."), this);
    QFont big = welcome->font();
    big.setBold(true);
    big.setPointSize(big.pointSize() + 2);
    welcome->setFont(big);
    content()->addSpacing(20);
    content()->addWidget(welcome);
    content()->addSpacing(12);
    content()->addWidget(textLabel(QStringLiteral("Press 'Next' to continue."), this));
    content()->addStretch(1);
    auto* version = new QLabel(QStringLiteral("Ombra v0.38"), this);
    version->setObjectName(QStringLiteral("versionStatic"));
    content()->addWidget(version, 0, Qt::AlignRight);
}

CDirSelectDlg::CDirSelectDlg(COmbraInstallPropertySheet* sheet)
    : CInstallPage(sheet, "template104", QStringLiteral("Ombra Installer - Select Installation Directory"))
{
    content()->addSpacing(20);
    content()->addWidget(
        textLabel(QStringLiteral("Please select the directory where Ombra should be installed :"), this));
    auto* row = new QHBoxLayout;
    folder_ = new QLineEdit(this);
    folder_->setObjectName(QStringLiteral("destinationEdit"));
    browse_ = new QPushButton(QStringLiteral("Browse..."), this);
    browse_->setObjectName(QStringLiteral("browseButton"));
    row->addWidget(folder_, 1);
    row->addWidget(browse_);
    content()->addLayout(row);
    content()->addStretch(1);
    connect(browse_, &QPushButton::clicked, this, [this] { browse(); });
}

void CDirSelectDlg::initializePage() { folder_->setText(QString::fromStdString(sheet()->state().destination)); }

void CDirSelectDlg::browse()
{
    QString chosen = QFileDialog::getExistingDirectory(window(), QStringLiteral("Please select a destination folder"),
                                                       folder_->text(),
                                                       QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    if (!chosen.isEmpty()) folder_->setText(chosen);
}

bool CDirSelectDlg::validatePage()
{
    std::string folder = folder_->text().toStdString();
    bool accepted = acceptDestination(folder, [this](const std::string& text, DWORD type) {
        return sheet()->messageBox(window(), QString::fromStdString(text), type);
    });
    if (accepted) sheet()->state().destination = folder;
    return accepted;
}

void CDirSelectDlg::cleanupPage() { sheet()->state().destination = storedFolder(folder_->text().toStdString()); }

CComponentSelectDlg::CComponentSelectDlg(COmbraInstallPropertySheet* sheet)
    : CInstallPage(sheet, "template105", QStringLiteral("Ombra Installer - Component selection"))
{
    content()->addWidget(
        textLabel(QStringLiteral("Please select which components you would like to install:"), this));
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("componentList"));
    for (const ComponentEntry& component : componentTable()) {
        auto* item = new QListWidgetItem(QString::fromLatin1(component.listText), list_);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
        item->setCheckState(Qt::Checked);
    }
    content()->addWidget(list_, 1);
    desktop_ = new QCheckBox(QStringLiteral("Create a desktop shortcut"), this);
    desktop_->setObjectName(QStringLiteral("desktopShortcut"));
    desktop_->setChecked(true);
    startMenu_ = new QCheckBox(QStringLiteral("Create a start menu shortcut"), this);
    startMenu_->setObjectName(QStringLiteral("startMenuShortcut"));
    startMenu_->setChecked(true);
    content()->addWidget(desktop_);
    content()->addWidget(startMenu_);
}

bool CComponentSelectDlg::validatePage()
{
    InstallChoices& state = sheet()->state();
    state.components.clear();
    for (int i = 0; i < list_->count(); ++i)
        if (list_->item(i)->checkState() == Qt::Checked) state.components.push_back(i);
    state.desktopShortcut = desktop_->isChecked();
    state.startMenuShortcut = startMenu_->isChecked();
    return true;  // an empty selection is accepted
}

void CComponentSelectDlg::cleanupPage() {}

CInstallSummaryDlg::CInstallSummaryDlg(COmbraInstallPropertySheet* sheet)
    : CInstallPage(sheet, "template106", QStringLiteral("Ombra Installer - Installation summary"))
{
    content()->addWidget(textLabel(QStringLiteral("Installation summary:"), this));
    summary_ = new QTextEdit(this);
    summary_->setObjectName(QStringLiteral("summaryText"));
    summary_->setReadOnly(true);
    summary_->setCursorWidth(0);  // the caret is hidden
    QPalette colours = summary_->palette();
    colours.setColor(QPalette::Base, QColor(0xFF, 0xFF, 0xC0));
    colours.setColor(QPalette::Text, Qt::black);
    summary_->setPalette(colours);
    content()->addWidget(summary_, 1);
    content()->addWidget(textLabel(QStringLiteral("Press 'Next' to begin installation."), this));
}

void CInstallSummaryDlg::initializePage() { summary_->setPlainText(shown(summaryText(sheet()->state()))); }

CInstallerDlg::CInstallerDlg(COmbraInstallPropertySheet* sheet)
    : CInstallPage(sheet, "template107", QStringLiteral("Ombra Installer - Installing..."))
{
    log_ = new QTextEdit(this);
    log_->setObjectName(QStringLiteral("logText"));
    log_->setReadOnly(true);
    QPalette colours = log_->palette();
    colours.setColor(QPalette::Base, Qt::black);
    colours.setColor(QPalette::Text, QColor(0xC0, 0xC0, 0x00));
    log_->setPalette(colours);
    QFont bold = log_->font();
    bold.setBold(true);
    log_->setFont(bold);
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("progress"));
    progress_->setRange(0, 100);
    progress_->setValue(0);
    content()->addWidget(log_, 1);
    content()->addWidget(progress_);
}

CInstallerDlg::~CInstallerDlg()
{
    // The steps are bounded (each started program is waited for a limited
    // time), so this wait ends.
    if (worker_.joinable()) worker_.join();
}

void CInstallerDlg::initializePage()
{
    if (running_ || done_) return;
    // The thread gets its own copy: it reads nothing shared afterwards.
    InstallChoices choices = sheet()->state();
    InstallEnvironment env = sheet()->environment();
    sheet()->setButtonLayout({QWizard::Stretch, QWizard::CancelButton});
    log_->setPlainText(shown(kLogHeader));
    progress_->setValue(0);
    running_ = true;
    worker_ = std::thread([this, choices = std::move(choices), env = std::move(env)]() mutable {
        PageObserver observer(this);
        Installation installation(std::move(choices), std::move(env), observer);
        installation.runInstallation();
    });
}

bool CInstallerDlg::event(QEvent* e)
{
    if (e->type() == CallEvent::kType) {
        handOverTaken(e);
        static_cast<CallEvent*>(e)->call();
        return true;
    }
    return CInstallPage::event(e);
}

void CInstallerDlg::logLine(const QString& text) { logAppend(QStringLiteral("\n") + text); }

void CInstallerDlg::logAppend(const QString& text)
{
    QTextCursor cursor = log_->textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
    log_->setTextCursor(cursor);
    log_->ensureCursorVisible();
}

void CInstallerDlg::setProgress(int percent) { progress_->setValue(percent); }

void CInstallerDlg::workEnded(bool complete)
{
    running_ = false;
    done_ = complete;
    sheet()->installationEnded(complete);
    emit completeChanged();
}

}  // namespace ombra::install
