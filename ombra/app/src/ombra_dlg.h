// COmbraDlg: the operator's dialog. It holds the widgets and the dialog's
// state; settings, the C-bus reader, the run report and the worker runs are
// plain classes it calls. Worker threads reach it only through posted
// ServiceNotifyEvents.
#pragma once

#include <QDialog>
#include <QDateTime>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ombra/common/comm_records.h"
#include "ombra/frontend/profile.h"
#include "ombra/launcher/launcher.h"
#include "ombra/launcher/run_report.h"
#include "worker_thread.h"

class QComboBox;
class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;
class QTextEdit;
class QTimer;

namespace ombra::frontend {

class CHistoryComboBox;

// What the application hands the dialog (from the profile and the command line).
struct DialogSettings {
    std::string imagePath;
    std::string portName;
    int commandLineBaud = -1;
    std::string cbusPath;
    std::int32_t savedProgrammer = 0;
    std::int32_t savedDevice = 0;
    std::string logFilePath;
    bool unattended = false;
    bool verify = false;
};

enum class Mode : int { burn = 0, dump = 1, identify = 3, ready = 4 };

class COmbraDlg final : public QDialog {
public:
    COmbraDlg(AppProfile& profile, DialogSettings settings, QWidget* parent = nullptr);
    ~COmbraDlg() override;

    // What the application stores at exit.
    const std::string& portName() const { return portName_; }
    std::int32_t savedProgrammer() const { return savedProgrammer_; }
    std::int32_t savedDevice() const { return savedDevice_; }
    // An unattended run that ended with a result detail (a failure).
    bool runFailed() const { return runFailed_; }

    // State seen by tests and the benchmark.
    Mode mode() const { return mode_; }
    std::int32_t currentProgrammer() const { return currentProgrammer_; }
    std::int32_t currentDevice() const { return currentDevice_; }
    const std::string& resultDetail() const { return detail_.text(); }
    const std::string& runReport() const { return report_.text(); }
    bool hasWorkerThread() const { return workerThread_ != nullptr; }
    CWorkerThread* workerThread() const { return workerThread_.get(); }
    const std::vector<std::string>& deviceNames() const { return deviceNames_; }
    const DCB& dcb() const { return dcb_; }
    const COMMTIMEOUTS& commTimeouts() const { return timeouts_; }
    // The mutex name of the operation running or last run ("" before any).
    std::string workerMutexName() const;

    // Handlers, public so the posted clicks and the tests reach them.
    void OnBtnIdentify();
    void OnBtnBurn();
    void OnBtnBurnVerify();
    void OnBtnDump();
    void OnBtnStop();
    void OnBtnClose();
    void OnBtnBrowse();
    void OnBtnCBusBrowse();
    void OnBtnProperties();
    void OnBtnAdvanced();
    void OnAbout();
    void OnSelchangeCmbSerialport();
    void OnSelchangeCmbBaud();
    void OnSelchangeCmbProgrammer();
    void OnSelchangeCmbDevices();

    // The log pane (public for the tests of its format).
    void addTextLine(const std::string& text);
    void SetProgress(DWORD done, DWORD total);

protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void reject() override;  // Escape
    void closeEvent(QCloseEvent* e) override;

private:
    void buildWidgets();
    void OnInitDialog();
    void OnDestroy();
    void setColors();
    bool useColors() const;

    void dataExchangeFromControls();
    void readyMode();
    void identifyMode();
    void burnMode();
    void dumpMode();
    void operationMode(Mode mode, const char* status, const char* logHeader);
    void setOperationControls(bool enabled);
    void disableButtons();
    void enableButtons();
    void stopOperation();
    void deleteWorkerThread();

    void startBurn(bool verify);
    bool readCBusTable(std::vector<std::uint8_t>& table);
    bool makePortPath(std::string& path);
    OperationValues operationValues(std::vector<std::uint8_t> table, const std::string& portPath) const;
    int doIdentify();
    bool startIdentifyThread(const std::string& programmerName);

    void OnServiceNotify(const launcher::ServiceRecord& record);
    void OnComplete(std::int32_t identifiedFromRecord);
    void postClick(void (COmbraDlg::*handler)());
    void postBurnClick();
    void writeRunLogAndQuit();
    bool unattendedCannotStart(const std::string& why);

    void getSerialPortsList();
    void fillSerialPortBaudRates(bool addMissing);
    void getProgrammersList();
    void getDevicesList();
    void setSelectedDevice(std::int32_t n);

    bool echoToConsole() const;
    void OnTimerClock();
    void OnTimerCleanUp();

    AppProfile& profile_;
    std::string cbusPath_;
    std::string imagePath_;
    std::string portName_;
    std::int32_t savedProgrammer_;
    std::int32_t savedDevice_;
    QDateTime startTime_;
    bool unattended_;
    bool verify_;
    int commandLineBaud_;
    std::string baudText_;
    launcher::ResultDetail detail_;
    launcher::RunReport report_;
    std::vector<std::string> portNames_;
    std::vector<std::string> deviceNames_;
    HANDLE cancelEvent_ = nullptr;
    std::int32_t currentProgrammer_ = -1;
    std::int32_t currentDevice_ = -1;
    std::string logFilePath_;
    Mode mode_ = Mode::ready;
    DCB dcb_;
    COMMTIMEOUTS timeouts_;
    std::unique_ptr<CWorkerThread> workerThread_;
    std::shared_ptr<ServiceMailbox> mailbox_;
    std::string lastMutexName_;
    bool runFailed_ = false;
    bool quitting_ = false;
    bool colors_ = false;
    int lastEchoedTenth_ = -1;

    // Controls, by id.
    CHistoryComboBox* imageCombo_ = nullptr;  // 1040
    CHistoryComboBox* cbusCombo_ = nullptr;   // 1041
    QPushButton* browse_ = nullptr;           // 1001
    QPushButton* cbusBrowse_ = nullptr;       // 1011
    QComboBox* portCombo_ = nullptr;          // 1002
    QComboBox* baudCombo_ = nullptr;          // 1010
    QPushButton* advanced_ = nullptr;         // 1020
    QComboBox* programmerCombo_ = nullptr;    // 1005
    QComboBox* deviceCombo_ = nullptr;        // 1006
    QPushButton* properties_ = nullptr;       // 1021
    QLabel* status_ = nullptr;                // 1004
    QProgressBar* progress_ = nullptr;        // 1003
    QLabel* progressText_ = nullptr;          // 1008
    QLabel* elapsed_ = nullptr;               // 1007
    QTextEdit* log_ = nullptr;                // 1014
    QPushButton* burnVerify_ = nullptr;       // 1018
    QPushButton* burn_ = nullptr;             // 1015
    QPushButton* dump_ = nullptr;             // 1016
    QPushButton* stop_ = nullptr;             // 1009
    QPushButton* identify_ = nullptr;         // 1017
    QPushButton* close_ = nullptr;            // 1019
    QFrame* upperPanel_ = nullptr;            // 1022
    QFrame* lowerPanel_ = nullptr;            // 1028
    QFrame* bottomBand_ = nullptr;            // 1029
    std::vector<QLabel*> upperLabels_;        // 1023..1027, 1030
    QTimer* clockTimer_ = nullptr;            // 1001
    QTimer* cleanUpTimer_ = nullptr;          // 1002
};

}  // namespace ombra::frontend
