#include "ombra_dlg.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "about_dlg.h"
#include "dump_dlg.h"
#include "history_combo.h"
#include "message_service.h"
#include "ombra/burnix/interfaces.h"
#include "ombra/common/hand_over.h"
#include "ombra/common/trace.h"
#include "ombra/frontend/cbus_file.h"
#include "ombra/frontend/comm_settings.h"
#include "ombra/frontend/serial_ports.h"
#include "ombra/platform/clock.h"
#include "ombra/platform/com.h"
#include "ombra/platform/event.h"
#include "ombra/platform/file.h"
#include "ombra_strings.h"

namespace ombra::frontend {

namespace {

const QColor kBrush1(248, 246, 207);
const QColor kBrush3(255, 255, 234);
const QColor kBrush5(248, 246, 207);
constexpr int kClockTimerMs = 1500;
constexpr DWORD kStopWaitMs = 6000;
constexpr int kIdentifyRetryPauseMs = 1500;

const char* const kBaudRates[] = {"19200", "38400", "57600", "115200", "230400", "460800"};

std::string format(const char* fmt, const std::string& value) {
    std::string out(std::strlen(fmt) + value.size() + 16, '\0');
    const int n = std::snprintf(out.data(), out.size(), fmt, value.c_str());
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return out;
}

// The platform's case-insensitive prefix search of a list; -1 when none.
int findPrefix(const QComboBox* combo, const QString& prefix) {
    for (int i = 0; i < combo->count(); ++i)
        if (combo->itemText(i).startsWith(prefix, Qt::CaseInsensitive)) return i;
    return -1;
}

// An MFC-style filter "A (*.a)|*.a|All Files (*.*) |*.*||" as Qt's filter list.
QString qtFilter(const char* mfcFilter) {
    const QStringList parts = QString(mfcFilter).split('|');
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty()) break;
        const QString pattern = parts[i + 1] == "*.*" ? "*" : parts[i + 1];
        QString description = parts[i].trimmed();
        if (!description.endsWith("(" + pattern + ")")) description += " (" + pattern + ")";
        filters << description;
    }
    return filters.join(";;");
}

template <typename T>
struct ComPtr {
    T* p = nullptr;
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() {
        if (p != nullptr) p->Release();
    }
    void** out() { return reinterpret_cast<void**>(&p); }
    T* operator->() const { return p; }
    explicit operator bool() const { return p != nullptr; }
};

// A fresh programmer component in this process, as every list query makes one.
template <typename T>
bool createBurnix(const IID& iid, ComPtr<T>& object) {
    return SUCCEEDED(CoCreateInstance(CLSID_Burnix, nullptr, CLSCTX_INPROC_SERVER, iid, object.out())) &&
           object;
}

}  // namespace

COmbraDlg::COmbraDlg(AppProfile& profile, DialogSettings s, QWidget* parent)
    : QDialog(parent),
      profile_(profile),
      cbusPath_(std::move(s.cbusPath)),
      imagePath_(std::move(s.imagePath)),
      portName_(std::move(s.portName)),
      savedProgrammer_(s.savedProgrammer),
      savedDevice_(s.savedDevice),
      unattended_(s.unattended),
      verify_(s.verify),
      commandLineBaud_(s.commandLineBaud),
      logFilePath_(std::move(s.logFilePath)),
      mailbox_(std::make_shared<ServiceMailbox>(this)) {
    TraceText("COmbraDlg::COmbraDlg\n");
    buildWidgets();
    OnInitDialog();
}

COmbraDlg::~COmbraDlg() {
    mailbox_->close();
    if (workerThread_) {
        // Only reached when the dialog goes without Close (a test's end):
        // the thread must not be left running a worker.
        SetEvent(cancelEvent_);
        if (!workerThread_->Wait(kStopWaitMs)) workerThread_->KillWorker();
        workerThread_.reset();
    }
    if (cancelEvent_ != nullptr) CloseHandle(cancelEvent_);
}

std::string COmbraDlg::workerMutexName() const {
    return workerThread_ ? workerThread_->mutexName() : lastMutexName_;
}

// ---- widgets -----------------------------------------------------------------

void COmbraDlg::buildWidgets() {
    setObjectName("102");
    setWindowFlag(Qt::WindowMinimizeButtonHint, true);
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    setSizeGripEnabled(true);

    auto label = [this](const char* id, const char* text) {
        auto* l = new QLabel(text, this);
        l->setObjectName(id);
        return l;
    };
    auto button = [this](const char* id, const char* text) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(id);
        b->setAutoDefault(false);
        return b;
    };
    auto list = [this](const char* id) {
        auto* c = new QComboBox(this);
        c->setObjectName(id);
        c->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        return c;
    };

    upperPanel_ = new QFrame(this);
    upperPanel_->setObjectName("1022");
    lowerPanel_ = new QFrame(this);
    lowerPanel_->setObjectName("1028");
    bottomBand_ = new QFrame(this);
    bottomBand_->setObjectName("1029");
    bottomBand_->setVisible(false);

    QLabel* imageLabel = label("1025", "Image file");
    imageCombo_ = new CHistoryComboBox(this);
    imageCombo_->setObjectName("1040");
    browse_ = button("1001", "Browse");
    QLabel* cbusLabel = label("1030", "C_Bus file");
    cbusCombo_ = new CHistoryComboBox(this);
    cbusCombo_->setObjectName("1041");
    cbusBrowse_ = button("1011", "Browse");
    QLabel* portLabel = label("1024", "Serial port");
    portCombo_ = list("1002");
    QLabel* baudLabel = label("1026", "Baud Rate");
    baudCombo_ = list("1010");
    advanced_ = button("1020", "Advanced...");
    advanced_->setVisible(false);
    QLabel* programmerLabel = label("1023", "Programmer");
    programmerCombo_ = list("1005");
    QLabel* deviceLabel = label("1027", "Device");
    deviceCombo_ = list("1006");
    properties_ = button("1021", "Properties...");
    upperLabels_ = {programmerLabel, portLabel, imageLabel, baudLabel, deviceLabel, cbusLabel};

    status_ = label("1004", "Ready");
    progress_ = new QProgressBar(this);
    progress_->setObjectName("1003");
    progress_->setTextVisible(false);
    progress_->setRange(0, 100);
    progress_->setValue(0);
    progressText_ = label("1008", "");
    progressText_->setMinimumWidth(120);
    progressText_->setAlignment(Qt::AlignCenter);
    elapsed_ = label("1007", "00:00");
    elapsed_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    elapsed_->setMinimumWidth(48);

    log_ = new QTextEdit(this);
    log_->setObjectName("1014");
    log_->setReadOnly(true);
    log_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    log_->setLineWrapMode(QTextEdit::WidgetWidth);
    log_->setMinimumHeight(160);
    log_->setTabStopDistance(log_->fontMetrics().horizontalAdvance("00:00:00"));

    burnVerify_ = button("1018", "Burn and Verify");
    burn_ = button("1015", "&Burn");
    dump_ = button("1016", "&Dump");
    stop_ = button("1009", "&Stop");
    identify_ = button("1017", "&Auto-Detect");
    identify_->setVisible(false);
    close_ = button("1019", "Close");
    close_->setAutoDefault(true);
    close_->setDefault(true);

    // Upper panel: the files, the line, the programmer and its device.
    auto* upper = new QGridLayout(upperPanel_);
    upper->setContentsMargins(10, 10, 10, 10);
    upper->setHorizontalSpacing(8);
    upper->addWidget(imageLabel, 0, 0);
    upper->addWidget(imageCombo_, 0, 1, 1, 3);
    upper->addWidget(browse_, 0, 4);
    upper->addWidget(cbusLabel, 1, 0);
    upper->addWidget(cbusCombo_, 1, 1, 1, 3);
    upper->addWidget(cbusBrowse_, 1, 4);
    upper->addWidget(portLabel, 2, 0);
    upper->addWidget(portCombo_, 2, 1);
    upper->addWidget(baudLabel, 2, 2, Qt::AlignRight);
    upper->addWidget(baudCombo_, 2, 3);
    upper->addWidget(advanced_, 2, 4);
    upper->addWidget(programmerLabel, 3, 0);
    upper->addWidget(programmerCombo_, 3, 1, 1, 3);
    upper->addWidget(properties_, 3, 4);
    upper->addWidget(deviceLabel, 4, 0);
    upper->addWidget(deviceCombo_, 4, 1, 1, 3);
    upper->setColumnStretch(1, 3);
    upper->setColumnStretch(3, 2);

    // Lower panel: where the operation stands.
    auto* lower = new QHBoxLayout(lowerPanel_);
    lower->setContentsMargins(10, 6, 10, 6);
    status_->setMinimumWidth(90);
    lower->addWidget(status_);
    lower->addWidget(progress_, 1);
    lower->addWidget(progressText_);
    lower->addWidget(elapsed_);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(10, 0, 10, 0);
    buttons->addWidget(burnVerify_);
    buttons->addWidget(burn_);
    buttons->addWidget(dump_);
    buttons->addWidget(stop_);
    buttons->addWidget(identify_);
    buttons->addStretch(1);
    buttons->addWidget(close_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 8);
    layout->setSpacing(6);
    layout->addWidget(upperPanel_);
    layout->addWidget(lowerPanel_);
    auto* logBox = new QVBoxLayout;
    logBox->setContentsMargins(10, 0, 10, 0);
    logBox->addWidget(log_);
    layout->addLayout(logBox, 1);
    layout->addLayout(buttons);
    layout->addWidget(bottomBand_);
    resize(640, 560);

    connect(browse_, &QPushButton::clicked, this, &COmbraDlg::OnBtnBrowse);
    connect(cbusBrowse_, &QPushButton::clicked, this, &COmbraDlg::OnBtnCBusBrowse);
    connect(portCombo_, &QComboBox::activated, this, &COmbraDlg::OnSelchangeCmbSerialport);
    connect(programmerCombo_, &QComboBox::activated, this, &COmbraDlg::OnSelchangeCmbProgrammer);
    connect(deviceCombo_, &QComboBox::activated, this, &COmbraDlg::OnSelchangeCmbDevices);
    connect(baudCombo_, &QComboBox::activated, this, &COmbraDlg::OnSelchangeCmbBaud);
    connect(burn_, &QPushButton::clicked, this, &COmbraDlg::OnBtnBurn);
    connect(burnVerify_, &QPushButton::clicked, this, &COmbraDlg::OnBtnBurnVerify);
    connect(dump_, &QPushButton::clicked, this, &COmbraDlg::OnBtnDump);
    connect(identify_, &QPushButton::clicked, this, &COmbraDlg::OnBtnIdentify);
    connect(stop_, &QPushButton::clicked, this, &COmbraDlg::OnBtnStop);
    connect(close_, &QPushButton::clicked, this, &COmbraDlg::OnBtnClose);
    connect(advanced_, &QPushButton::clicked, this, &COmbraDlg::OnBtnAdvanced);
    connect(properties_, &QPushButton::clicked, this, &COmbraDlg::OnBtnProperties);

    // The window menu's about item: the dialog's context menu and F1.
    auto* about = new QAction(QString(strings::kAboutMenu).remove('&'), this);
    about->setObjectName("aboutAction");
    about->setShortcut(QKeySequence::HelpContents);
    connect(about, &QAction::triggered, this, &COmbraDlg::OnAbout);
    addAction(about);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    clockTimer_ = new QTimer(this);
    clockTimer_->setObjectName("timer1001");
    connect(clockTimer_, &QTimer::timeout, this, &COmbraDlg::OnTimerClock);
    cleanUpTimer_ = new QTimer(this);
    cleanUpTimer_->setObjectName("timer1002");
    connect(cleanUpTimer_, &QTimer::timeout, this, &COmbraDlg::OnTimerCleanUp);
}

bool COmbraDlg::useColors() const {
    const QScreen* s = screen();
    return s == nullptr || s->depth() >= 16;
}

void COmbraDlg::setColors() {
    colors_ = useColors();
    if (!colors_) return;
    auto paint = [](QWidget* w, const QColor& c) {
        QPalette p = w->palette();
        p.setColor(QPalette::Window, c);
        w->setPalette(p);
        w->setAutoFillBackground(true);
    };
    for (QLabel* l : upperLabels_) paint(l, kBrush1);
    for (QWidget* w : std::initializer_list<QWidget*>{status_, elapsed_, progressText_, progress_}) paint(w, kBrush3);
    QPalette p = palette();
    p.setColor(QPalette::Window, kBrush1);
    setPalette(p);
}

void COmbraDlg::paintEvent(QPaintEvent* e) {
    if (colors_) {
        QPainter painter(this);
        painter.fillRect(rect(), kBrush1);
        const auto band = [&](const QWidget* w, const QColor& c, bool line) {
            if (!w->isVisible()) return;
            const QRect g = w->geometry();
            painter.fillRect(QRect(0, g.top(), width(), g.height()), c);
            if (line) {
                painter.setPen(QColor(128, 128, 128));
                painter.drawLine(0, g.bottom(), width(), g.bottom());
            }
        };
        band(upperPanel_, kBrush1, true);
        band(lowerPanel_, kBrush3, true);
        band(bottomBand_, kBrush5, false);
    }
    QDialog::paintEvent(e);
}

// ---- initialisation and end --------------------------------------------------

void COmbraDlg::OnInitDialog() {
    TraceText("COmbraDlg::OnInitDialog()\n");
    setWindowTitle(strings::kCaption);
    setWindowIcon(QIcon(":/ombra/ombra.png"));
    const QIcon browseIcon(":/ombra/browse.png");
    browse_->setIcon(browseIcon);
    cbusBrowse_->setIcon(browseIcon);

    getSerialPortsList();
    const int port = findPrefix(portCombo_, QString::fromStdString(portName_));
    portCombo_->setCurrentIndex(port);

    loadCommSettings(portName_, commandLineBaud_, dcb_, timeouts_);
    fillSerialPortBaudRates(true);

    getProgrammersList();
    getDevicesList();
    enableButtons();

    cancelEvent_ = CreateEvent(TRUE, FALSE);
    mode_ = Mode::ready;

    cleanUpTimer_->start(kClockTimerMs);
    clockTimer_->start(kClockTimerMs);

    stop_->setEnabled(false);
    setColors();

    imageCombo_->setMaximum(10);
    imageCombo_->load(profile_, "Settings", "MRU_IMAGE_FILE", true);
    cbusCombo_->setMaximum(10);
    cbusCombo_->load(profile_, "Settings", "MRU_C_BUS_FILE", true);
    // The image named on the command line (or in the profile) is the one
    // burned and the one the report names.
    if (!imagePath_.empty()) imageCombo_->add(imagePath_);
    imageCombo_->widen();
    cbusCombo_->widen();
    if (QLineEdit* edit = cbusCombo_->lineEdit()) edit->deselect();

    baudText_ = baudCombo_->currentText().toStdString();
    if (unattended_) {
        const auto& images = imageCombo_->list().entries();
        report_.startedOn(launcher::startedOnText(std::time(nullptr)));
        report_.imageFileName(images.empty() ? std::string() : images.front());
        report_.comPort(portName_);
        report_.baudRate(dcb_.BaudRate);
        report_.action(verify_);
        postClick(&COmbraDlg::OnBtnIdentify);
    }
}

void COmbraDlg::OnDestroy() {
    TraceText("COmbraDlg::OnDestroy()\n");
    imageCombo_->save(profile_, true);
    cbusCombo_->save(profile_, true);
}

void COmbraDlg::reject() { OnBtnClose(); }

void COmbraDlg::closeEvent(QCloseEvent* e) {
    e->ignore();
    if (!quitting_) OnBtnClose();
}

void COmbraDlg::OnBtnClose() {
    TraceText("COmbraDlg::OnBtnClose()\n");
    if (quitting_) return;
    dataExchangeFromControls();
    if (mode_ != Mode::ready) {
        if (showMessageBox(this, strings::kCloseQuestion, strings::kCaption, MB_YESNO | MB_ICONQUESTION) != IDYES)
            return;
        stopOperation();
        deleteWorkerThread();
    }
    quitting_ = true;
    OnDestroy();
    mailbox_->close();
    if (cancelEvent_ != nullptr) CloseHandle(cancelEvent_);
    cancelEvent_ = nullptr;
    QDialog::done(QDialog::Rejected);
}

void COmbraDlg::writeRunLogAndQuit() {
    TraceText("COmbraDlg::writeRunLog\n");
    runFailed_ = !detail_.passed();
    report_.finish(detail_);
    DWORD error = 0;
    switch (launcher::writeRunLog(logFilePath_, report_.text(), &error)) {
    case launcher::RunLogResult::cannotCreate:
        showMessageBox(this, "Cannot create the log file " + logFilePath_ + ": " + GetErrorText(error), "Error",
                       MB_OK | MB_ICONEXCLAMATION);
        break;
    case launcher::RunLogResult::writeFailed:
        showMessageBox(this, "An error occurred while writing " + logFilePath_ + ": " + GetErrorText(error), "Error",
                       MB_OK | MB_ICONEXCLAMATION);
        break;
    case launcher::RunLogResult::written:
    case launcher::RunLogResult::noPath:
        break;
    }
    quitting_ = true;
    OnDestroy();
    mailbox_->close();
    QDialog::done(QDialog::Accepted);
}

// Without a display nobody can answer a dialog left open: an unattended run
// that cannot start an operation ends with that reason as its result.
bool COmbraDlg::unattendedCannotStart(const std::string& why) {
    if (!unattended_ || haveDisplay() || quitting_) return false;
    detail_.fail(why);
    writeRunLogAndQuit();
    return true;
}

void COmbraDlg::postClick(void (COmbraDlg::*handler)()) {
    QMetaObject::invokeMethod(this, [this, handler] { (this->*handler)(); }, Qt::QueuedConnection);
}

void COmbraDlg::postBurnClick() { postClick(verify_ ? &COmbraDlg::OnBtnBurnVerify : &COmbraDlg::OnBtnBurn); }

// ---- modes -------------------------------------------------------------------

void COmbraDlg::dataExchangeFromControls() {
    // A port given on the command line that the list does not show stays the
    // port; a drop-down without a selection has no text to give.
    if (portCombo_->currentIndex() >= 0) portName_ = portCombo_->currentText().toStdString();
    baudText_ = baudCombo_->currentText().toStdString();
}

void COmbraDlg::setOperationControls(bool enabled) {
    for (QWidget* w : std::initializer_list<QWidget*>{portCombo_, baudCombo_, programmerCombo_, deviceCombo_,
                                                      imageCombo_, cbusCombo_, browse_, cbusBrowse_})
        w->setEnabled(enabled);
}

void COmbraDlg::disableButtons() {
    for (QPushButton* b : {burn_, burnVerify_, dump_, identify_}) b->setEnabled(false);
}

void COmbraDlg::readyMode() {
    TraceText("COmbraDlg::readyMode()\n");
    mode_ = Mode::ready;
    status_->setText("Ready");
    progress_->setRange(0, 100);
    progress_->setValue(0);
    progressText_->setText("");
    stop_->setEnabled(false);
    setOperationControls(true);
    deleteWorkerThread();
    enableButtons();
}

void COmbraDlg::identifyMode() {
    TraceText("COmbraDlg::identifyMode()\n");
    operationMode(Mode::identify, "Identifying", nullptr);
}

void COmbraDlg::burnMode() {
    TraceText("COmbraDlg::burnMode()\n");
    operationMode(Mode::burn, "Burning", "Burning:\n");
}

void COmbraDlg::dumpMode() {
    TraceText("COmbraDlg::dumpMode()\n");
    operationMode(Mode::dump, "Dumping", "Dumping:\n");
}

// What the three operating modes share; `logHeader` replaces the log when given.
void COmbraDlg::operationMode(Mode mode, const char* status, const char* logHeader) {
    mode_ = mode;
    status_->setText(status);
    if (logHeader != nullptr) log_->setPlainText(logHeader);
    progress_->setValue(0);
    progressText_->setText("");
    stop_->setEnabled(true);
    setOperationControls(false);
    disableButtons();
}

void COmbraDlg::deleteWorkerThread() {
    if (!workerThread_) return;
    lastMutexName_ = workerThread_->mutexName();
    workerThread_.reset();
}

// ---- starting operations -----------------------------------------------------

bool COmbraDlg::readCBusTable(std::vector<std::uint8_t>& table) {
    TraceText("COmbraDlg::readCBusTable\n");
    std::string path = platform::nativeRelativePath(kDefaultCBusPath);
    const std::string selected = cbusCombo_->selectedText();
    if (!selected.empty()) path = selected;
    switch (readCBusFile(path, table)) {
    case CBusResult::ok:
        return true;
    case CBusResult::cannotOpen:
        if (unattended_) {
            table = defaultCBusTable();
            report_.defaultCBusTable();
            return true;
        }
        showMessageBox(this, format("Cannot open file %s", path), "Error", MB_OK);
        return false;
    case CBusResult::tooLarge:
        // The table's size field holds at most 65,535 bytes.
        if (unattended_) {
            table = defaultCBusTable();
            report_.note("C-bus table file " + path + " is larger than 65535 bytes. Using default table.");
            return true;
        }
        showMessageBox(this, format("The C-bus table in %s is larger than 65535 bytes.", path), "Error",
                       MB_OK | MB_ICONEXCLAMATION);
        return false;
    case CBusResult::cannotStat:
    case CBusResult::outOfMemory:
        break;
    }
    unattendedCannotStart(format("Cannot read the C-bus table file %s", path));
    return false;
}

bool COmbraDlg::makePortPath(std::string& path) {
    const auto p = portPathFromName(portName_);
    if (!p) {
        TraceText("Serial port failed\n");
        unattendedCannotStart(format("Serial port %s has no usable name", portName_));
        return false;
    }
    path = *p;
    return true;
}

OperationValues COmbraDlg::operationValues(std::vector<std::uint8_t> table, const std::string& portPath) const {
    OperationValues v;
    v.programmerClsid = CLSID_Burnix;
    v.programmerName = programmerCombo_->currentIndex() >= 0 ? programmerCombo_->currentText().toStdString() : "";
    v.dcb = dcb_;
    v.timeouts = timeouts_;
    v.portPath = portPath;
    v.cbusTable = std::move(table);
    v.baudRate = dcb_.BaudRate;
    v.cancelEvent = cancelEvent_;
    return v;
}

void COmbraDlg::OnBtnIdentify() {
    TraceText("COmbraDlg::OnBtnIdentify()\n");
    if (mode_ != Mode::ready || quitting_) return;
    dataExchangeFromControls();
    deleteWorkerThread();
    std::string worker;
    if (!launcher::findWorker("Wexom", worker)) {
        addTextLine("Wexom not registered. Aborting.");
        unattendedCannotStart("Wexom not registered. Aborting.");
        return;
    }
    std::vector<std::uint8_t> table;
    if (!readCBusTable(table)) return;
    std::string path;
    if (!makePortPath(path)) return;
    ResetEvent(cancelEvent_);
    workerThread_ = std::make_unique<CIdentifyThread>(mailbox_, worker, operationValues(std::move(table), path));
    startTime_ = QDateTime::currentDateTime();
    identifyMode();
    workerThread_->Start();
}

void COmbraDlg::OnBtnBurn() {
    TraceText("COmbraDlg::OnBtnBurn()\n");
    startBurn(false);
}

void COmbraDlg::OnBtnBurnVerify() {
    TraceText("COmbraDlg::OnBtnBurnVerify()\n");
    startBurn(true);
}

void COmbraDlg::startBurn(bool verify) {
    if (mode_ != Mode::ready || quitting_) return;
    dataExchangeFromControls();
    deleteWorkerThread();
    if (!verify) {
        if (currentProgrammer_ == -1) {
            addTextLine("No programmer is selected. Please select a programmer first.");
            unattendedCannotStart("No programmer is selected. Please select a programmer first.");
            return;
        }
        if (currentDevice_ == -1) {
            addTextLine("No device is selected. Please select a device first.");
            unattendedCannotStart("No device is selected. Please select a device first.");
            return;
        }
    }
    std::string worker;
    if (!launcher::findWorker("Tordel", worker)) {
        addTextLine("Tordel not registered. Aborting.");
        unattendedCannotStart("Tordel not registered. Aborting.");
        return;
    }
    std::vector<std::uint8_t> table;
    if (!readCBusTable(table)) return;
    std::string path;
    if (!makePortPath(path)) return;
    const std::string image = imageCombo_->selectedText();
    ResetEvent(cancelEvent_);
    dcb_.BaudRate = static_cast<DWORD>(std::strtoul(baudText_.c_str(), nullptr, 10));
    workerThread_ = std::make_unique<CBurnThread>(mailbox_, worker, operationValues(std::move(table), path),
                                                  static_cast<DWORD>(savedDevice_), image, 0, verify);
    startTime_ = QDateTime::currentDateTime();
    status_->setText("Burning...");
    burnMode();
    workerThread_->Start();
}

void COmbraDlg::OnBtnDump() {
    TraceText("COmbraDlg::OnBtnDump()\n");
    if (mode_ != Mode::ready || quitting_) return;
    dataExchangeFromControls();
    deleteWorkerThread();
    std::string worker;
    if (!launcher::findWorker("Lunet", worker)) {
        addTextLine("Lunet not registered. Aborting.");
        return;
    }
    CDumpDlg dlg(static_cast<std::uint32_t>(profile_.getInt("Dump", "START_ADDRESS", 0)),
                 static_cast<std::uint32_t>(profile_.getInt("Dump", "DUMP_LENGTH", 0)),
                 profile_.getString("Dump", "DUMP_FILE", ""), this);
    if (dlg.exec() != QDialog::Accepted) return;
    profile_.writeInt("Dump", "START_ADDRESS", static_cast<int>(dlg.start()));
    profile_.writeInt("Dump", "DUMP_LENGTH", static_cast<int>(dlg.length()));
    profile_.writeString("Dump", "DUMP_FILE", dlg.file());
    std::vector<std::uint8_t> table;
    if (!readCBusTable(table)) return;
    std::string path;
    if (!makePortPath(path)) return;
    ResetEvent(cancelEvent_);
    workerThread_ = std::make_unique<CDumpThread>(mailbox_, worker, operationValues(std::move(table), path),
                                                  static_cast<DWORD>(savedDevice_), dlg.file(), dlg.start(),
                                                  dlg.length());
    startTime_ = QDateTime::currentDateTime();
    status_->setText("Dumping...");
    dumpMode();
    workerThread_->Start();
}

void COmbraDlg::OnBtnStop() {
    TraceText("COmbraDlg::OnBtnStop()\n");
    stopOperation();
}

void COmbraDlg::stopOperation() {
    TraceText("COmbraDlg::stopOperation()\n");
    if (mode_ == Mode::ready || !workerThread_) return;
    addTextLine("Cancelling operation, please wait");
    QApplication::setOverrideCursor(Qt::WaitCursor);
    SetEvent(cancelEvent_);
    // A thread that does not end in time has its worker ended, so that it
    // ends by itself; what it uses lives on with it.
    if (!workerThread_->Wait(kStopWaitMs)) workerThread_->KillWorker();
    deleteWorkerThread();
    ResetEvent(cancelEvent_);
    addTextLine("Cancelled.");
    if (mode_ == Mode::identify) {
        currentProgrammer_ = -1;
        currentDevice_ = -1;
        programmerCombo_->setCurrentIndex(-1);
        deviceCombo_->setCurrentIndex(-1);
    }
    QApplication::restoreOverrideCursor();
    readyMode();
    enableButtons();
}

void COmbraDlg::OnBtnBrowse() {
    TraceText("COmbraDlg::OnBtnBrowse()\n");
    QFileDialog dlg(this, strings::kImageTitle, QString::fromStdString(imageCombo_->selectedText()),
                    qtFilter(strings::kImageFilter));
    dlg.setObjectName("imageFileDialog");
    dlg.setFileMode(QFileDialog::ExistingFile);
    dlg.setOption(QFileDialog::DontUseNativeDialog, true);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return;
    imageCombo_->add(dlg.selectedFiles().front().toStdString());
    imageCombo_->widen();
}

void COmbraDlg::OnBtnCBusBrowse() {
    TraceText("COmbraDlg::OnBtnCBusBrowse()\n");
    QFileDialog dlg(this, strings::kCBusTitle, QString::fromStdString(cbusCombo_->selectedText()),
                    qtFilter(strings::kCBusFilter));
    dlg.setObjectName("cbusFileDialog");
    dlg.setFileMode(QFileDialog::ExistingFile);
    dlg.setOption(QFileDialog::DontUseNativeDialog, true);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return;
    cbusCombo_->add(dlg.selectedFiles().front().toStdString());
    cbusCombo_->widen();
}

void COmbraDlg::OnBtnAdvanced() { TraceText("COmbraDlg::OnBtnAdvanced()\n"); }

void COmbraDlg::OnAbout() {
    CAboutDlg about(this);
    about.exec();
}

// ---- records from the worker threads -------------------------------------

bool COmbraDlg::event(QEvent* e) {
    if (e->type() == kServiceNotifyEvent) {
        handOverTaken(e);
        OnServiceNotify(static_cast<ServiceNotifyEvent*>(e)->record);
        return true;
    }
    if (e->type() == QEvent::WindowDeactivate) update();
    return QDialog::event(e);
}

void COmbraDlg::OnServiceNotify(const launcher::ServiceRecord& r) {
    TraceFormat("COmbraDlg::OnServiceNotify(wParam = %d,lParam = %d)\n", 0, static_cast<int>(r.kind));
    if (quitting_) return;
    switch (r.kind) {
    case launcher::ServiceKind::SERVICE_TEXT:
        addTextLine(r.text);
        detail_.add(r);
        break;
    case launcher::ServiceKind::SERVICE_PROGRESS:
        SetProgress(r.first, r.second);
        break;
    case launcher::ServiceKind::SERVICE_COMPLETION:
        switch (r.first) {
        case pipe::E_STATUS_FAILURE:
            stopOperation();
            if (unattended_) {
                detail_.burningCancelled();
                writeRunLogAndQuit();
            }
            break;
        case pipe::E_STATUS_SUCCESS:
            OnComplete(static_cast<std::int32_t>(r.second));
            break;
        case pipe::E_STATUS_CANCELLED:
            detail_.cancelledByUser();
            if (unattended_) {
                addTextLine("Cancelled by user.");
                writeRunLogAndQuit();
            }
            break;
        default:
            break;
        }
        break;
    }
}

void COmbraDlg::OnComplete(std::int32_t identifiedFromRecord) {
    TraceText("COmbraDlg::OnComplete()\n");
    switch (mode_) {
    case Mode::burn:
        if (unattended_) {
            writeRunLogAndQuit();
            return;
        }
        readyMode();
        break;
    case Mode::dump:
        deleteWorkerThread();
        readyMode();
        break;
    case Mode::identify: {
        const auto* identify = dynamic_cast<const CIdentifyThread*>(workerThread_.get());
        const std::int32_t device = identify != nullptr ? identify->identifiedDevice() : identifiedFromRecord;
        if (device < 0) {
            if (workerThread_) workerThread_->Wait(kStopWaitMs);
            deleteWorkerThread();
            // The pause before the next driver; the loop keeps running meanwhile.
            QTimer::singleShot(kIdentifyRetryPauseMs, this, [this] {
                if (quitting_ || mode_ != Mode::identify) return;
                if (doIdentify() != 0) return;
                if (!unattended_ || currentProgrammer_ != -1) return;
                savedProgrammer_ = 0;
                currentProgrammer_ = 0;
                setSelectedDevice(0);
                readyMode();
                postBurnClick();
            });
            return;
        }
        savedProgrammer_ = currentProgrammer_;
        setSelectedDevice(device);
        deleteWorkerThread();
        if (unattended_) {
            const std::string name =
                static_cast<std::size_t>(device) < deviceNames_.size() ? deviceNames_[device] : std::string();
            report_.detectedFlashType(name);
            postBurnClick();
        }
        readyMode();
        break;
    }
    default:
        readyMode();
        break;
    }
}

int COmbraDlg::doIdentify() {
    TraceText("COmbraDlg::doIdentify()\n");
    if (currentProgrammer_ + 1 >= programmerCombo_->count()) {
        addTextLine("Device unrecognized by any of the drivers installed.");
        programmerCombo_->setCurrentIndex(-1);
        deviceCombo_->setCurrentIndex(-1);
        currentProgrammer_ = -1;
        if (unattended_) {
            detail_.deviceUnrecognized();
            return 0;
        }
        readyMode();
        return 0;
    }
    ++currentProgrammer_;
    std::string worker;
    if (!launcher::findWorker("Wexom", worker)) {
        addTextLine("Wexom not registered. Aborting.");
        readyMode();
        unattendedCannotStart("Wexom not registered. Aborting.");
        return 0;
    }
    std::vector<std::uint8_t> table;
    if (!readCBusTable(table)) {
        readyMode();
        return 0;
    }
    std::string path;
    if (!makePortPath(path)) {
        readyMode();
        return 0;
    }
    TraceText("Creating Identify thread\n");
    OperationValues values = operationValues(std::move(table), path);
    values.programmerName = programmerCombo_->itemText(currentProgrammer_).toStdString();
    workerThread_ = std::make_unique<CIdentifyThread>(mailbox_, worker, values);
    startTime_ = QDateTime::currentDateTime();
    identifyMode();
    workerThread_->Start();
    return 1;
}

// ---- log pane and progress ---------------------------------------------------

void COmbraDlg::addTextLine(const std::string& text) {
    TraceText("COmbraDlg::addTextLine\n");
    if (text.empty()) return;
    std::vector<std::string> lines;
    std::size_t from = 0;
    for (;;) {
        const std::size_t nl = text.find('\n', from);
        if (nl == std::string::npos) {
            lines.push_back(text.substr(from));
            break;
        }
        lines.push_back(text.substr(from, nl - from));
        from = nl + 2;  // "\n" and the character after it
        if (from >= text.size()) break;
    }
    char clock[16] = "";
    const std::time_t now = std::time(nullptr);
    if (const std::tm* local = std::localtime(&now)) std::strftime(clock, sizeof clock, "%H:%M:%S", local);

    QTextCursor cursor(log_->document());
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat prefixFormat;
    prefixFormat.setFontWeight(QFont::Bold);
    QTextCharFormat messageFormat;
    messageFormat.setFontWeight(QFont::Normal);
    const bool echo = echoToConsole();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (echo) std::printf("%s : %s\n", i == 0 ? clock : "        ", lines[i].c_str());
        cursor.insertText(i == 0 ? QString(clock) : QString("\t"), prefixFormat);
        cursor.insertText(" : " + QString::fromLatin1(lines[i].data(), static_cast<int>(lines[i].size())),
                          messageFormat);
        cursor.insertBlock();
    }
    log_->setTextCursor(cursor);
    log_->ensureCursorVisible();
    if (echo) std::fflush(stdout);
}

void COmbraDlg::SetProgress(DWORD done, DWORD total) {
    TraceText("COmbraDlg::SetProgress\n");
    // The bar counts in int; large totals are scaled to fit.
    unsigned shift = 0;
    while ((total >> shift) > 0x7FFFFFFFu) ++shift;
    progress_->setRange(0, static_cast<int>(total >> shift));
    progress_->setValue(static_cast<int>(std::min(done, total) >> shift));
    char text[32];
    std::snprintf(text, sizeof text, "%d / %d", static_cast<int>(done), static_cast<int>(total));
    if (done == 0) lastEchoedTenth_ = -1;
    progressText_->setText(text);
    if (echoToConsole()) {
        // Every tenth is enough where nobody sees the bar.
        const int tenth = total != 0 ? static_cast<int>(10ull * std::min(done, total) / total) : 0;
        if (tenth != lastEchoedTenth_) std::printf("         %3d %% %s\n", tenth * 10, text);
        lastEchoedTenth_ = tenth;
        std::fflush(stdout);
    }
}

// An unattended run without a display shows its log on standard output.
bool COmbraDlg::echoToConsole() const { return unattended_ && !haveDisplay(); }

// ---- timers --------------------------------------------------------------------

void COmbraDlg::OnTimerClock() {
    if (mode_ != Mode::burn && mode_ != Mode::dump) return;
    const qint64 seconds = std::max<qint64>(0, startTime_.secsTo(QDateTime::currentDateTime()));
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d", static_cast<int>((seconds / 60) % 60), static_cast<int>(seconds % 60));
    elapsed_->setText(text);
}

void COmbraDlg::OnTimerCleanUp() {
    if (mode_ == Mode::ready) deleteWorkerThread();
}

// ---- ports and baud rates ------------------------------------------------------

void COmbraDlg::getSerialPortsList() {
    portNames_ = frontend::getSerialPortsList();
    portCombo_->clear();
    for (const auto& name : portNames_) portCombo_->addItem(QString::fromStdString(name));
}

void COmbraDlg::fillSerialPortBaudRates(bool addMissing) {
    if (addMissing) {
        baudCombo_->clear();
        for (const char* rate : kBaudRates) baudCombo_->addItem(rate);
    }
    const QString baud = QString::number(static_cast<int>(dcb_.BaudRate));
    int index = findPrefix(baudCombo_, baud);
    if (index < 0 && addMissing) {
        baudCombo_->addItem(baud);
        index = baudCombo_->count() - 1;
    }
    baudCombo_->setCurrentIndex(index);
}

void COmbraDlg::OnSelchangeCmbSerialport() {
    TraceText("COmbraDlg::OnSelchangeCmbSerialport()\n");
    dataExchangeFromControls();
    loadCommSettings(portName_, commandLineBaud_, dcb_, timeouts_);
    fillSerialPortBaudRates(false);
}

void COmbraDlg::OnSelchangeCmbBaud() {
    TraceText("COmbraDlg::OnSelchangeCmbBaud()\n");
    dataExchangeFromControls();
    dcb_.BaudRate = static_cast<DWORD>(std::strtoul(baudText_.c_str(), nullptr, 10));
    saveCommSettings(portName_, dcb_, timeouts_);
}

// ---- programmers and devices ---------------------------------------------------

void COmbraDlg::getProgrammersList() {
    TraceText("COmbraDlg::getProgrammersList()\n");
    programmerCombo_->clear();
    currentProgrammer_ = -1;
    ComPtr<IBurnixInitialization> init;
    if (!createBurnix(IID_IBurnixInitialization, init)) {
        showMessageBox(this, "Can not load programmer", strings::kCaption, MB_OK);
        return;
    }
    if (FAILED(init->InitializeProgrammers())) return;
    ComPtr<IBurnixInformation> info;
    if (FAILED(init->QueryInterface(IID_IBurnixInformation, info.out())) || !info) return;
    for (DWORD index = 0;; ++index) {
        char* name = nullptr;
        const HRESULT r = info->EnumSupportedProgrammer(index, &name);
        if (r == S_NO_MORE_ITEMS || FAILED(r)) {
            CoTaskMemFree(name);
            break;
        }
        programmerCombo_->addItem(QString::fromLatin1(name != nullptr ? name : ""), static_cast<int>(index));
        CoTaskMemFree(name);
        if (static_cast<std::int32_t>(index) == savedProgrammer_) {
            programmerCombo_->setCurrentIndex(static_cast<int>(index));
            currentProgrammer_ = static_cast<std::int32_t>(index);
        }
    }
    if (currentProgrammer_ == -1) {
        currentProgrammer_ = 0;
        programmerCombo_->setCurrentIndex(0);
    }
}

void COmbraDlg::getDevicesList() {
    TraceText("COmbraDlg::getDevicesList()\n");
    deviceCombo_->clear();
    deviceNames_.clear();
    currentDevice_ = -1;
    ComPtr<IBurnixInitialization> init;
    if (!createBurnix(IID_IBurnixInitialization, init)) return;
    const std::string driver = programmerCombo_->currentIndex() >= 0 ? programmerCombo_->currentText().toStdString() : "";
    if (FAILED(init->InitializeDevices(driver.c_str()))) return;
    ComPtr<IBurnixInformation> info;
    if (FAILED(init->QueryInterface(IID_IBurnixInformation, info.out())) || !info) return;
    int selected = -1;
    for (DWORD index = 0;; ++index) {
        DeviceInfo* device = nullptr;
        const HRESULT r = info->EnumSupportedDevices(index, &device);
        if (r == S_NO_MORE_ITEMS || FAILED(r) || device == nullptr) {
            if (device != nullptr) CoTaskMemFree(device);
            break;
        }
        const std::string text = std::string(device->manufacturerName != nullptr ? device->manufacturerName : "") +
                                 " " + (device->modelName != nullptr ? device->modelName : "");
        CoTaskMemFree(device->manufacturerName);
        CoTaskMemFree(device->modelName);
        CoTaskMemFree(device);
        // A sorted list: insert by text, each entry carrying its number.
        const QString item = QString::fromLatin1(text.data(), static_cast<int>(text.size()));
        int at = 0;
        while (at < deviceCombo_->count() && deviceCombo_->itemText(at).compare(item, Qt::CaseInsensitive) <= 0) ++at;
        deviceCombo_->insertItem(at, item, static_cast<int>(index));
        if (selected >= at) ++selected;
        deviceNames_.push_back(text);
        if (static_cast<std::int32_t>(index) == savedDevice_) {
            selected = at;
            currentDevice_ = static_cast<std::int32_t>(index);
        }
    }
    if (selected < 0 && deviceCombo_->count() > 0) {
        // The saved device is not among this driver's: take device 0 when it
        // is there, else the first entry, so the list and the number sent to
        // the worker agree.
        selected = deviceCombo_->findData(0);
        if (selected < 0) selected = 0;
        savedDevice_ = deviceCombo_->itemData(selected).toInt();
        currentDevice_ = savedDevice_;
    }
    deviceCombo_->setCurrentIndex(selected);
}

void COmbraDlg::setSelectedDevice(std::int32_t n) {
    if (n == -1) {
        deviceCombo_->setCurrentIndex(-1);
        return;
    }
    programmerCombo_->setCurrentIndex(currentProgrammer_);
    getDevicesList();
    savedDevice_ = n;
    deviceCombo_->setCurrentIndex(deviceCombo_->findData(n));
}

void COmbraDlg::enableButtons() {
    TraceText("COmbraDlg::enableButtons()\n");
    if (currentProgrammer_ == -1) {
        for (QPushButton* b : {properties_, burn_, burnVerify_, dump_, identify_}) b->setEnabled(false);
        return;
    }
    ComPtr<IBurnixInformation> info;
    if (!createBurnix(IID_IBurnixInformation, info)) return;
    properties_->setEnabled(info->Reserved7() != 0);
    {
        ComPtr<IUnknown> burn;
        const bool ok = SUCCEEDED(info->QueryInterface(IID_IBurnixBurn, burn.out())) && burn;
        burn_->setEnabled(ok);
        burnVerify_->setEnabled(ok);
    }
    {
        ComPtr<IUnknown> dump;
        dump_->setEnabled(SUCCEEDED(info->QueryInterface(IID_IBurnixDump, dump.out())) && dump);
    }
    {
        ComPtr<IUnknown> identify;
        identify_->setEnabled(SUCCEEDED(info->QueryInterface(IID_IBurnix, identify.out())) && identify);
    }
}

void COmbraDlg::OnBtnProperties() {
    TraceText("COmbraDlg::OnBtnProperties()\n");
    ComPtr<IBurnixInformation> info;
    if (createBurnix(IID_IBurnixInformation, info)) info->Reserved8();
}

void COmbraDlg::OnSelchangeCmbProgrammer() {
    TraceText("COmbraDlg::OnSelchangeCmbProgrammer()\n");
    dataExchangeFromControls();
    const int index = programmerCombo_->currentIndex();
    if (index < 0) return;
    savedProgrammer_ = programmerCombo_->itemData(index).toInt();
    currentProgrammer_ = savedProgrammer_;
    getDevicesList();
    enableButtons();
}

void COmbraDlg::OnSelchangeCmbDevices() {
    TraceText("COmbraDlg::OnSelchangeCmbDevices()\n");
    dataExchangeFromControls();
    const int index = deviceCombo_->currentIndex();
    if (index < 0) return;
    savedDevice_ = deviceCombo_->itemData(index).toInt();
    currentDevice_ = savedDevice_;
}

}  // namespace ombra::frontend
