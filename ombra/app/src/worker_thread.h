// The front end's operation threads: each runs one worker through the
// launcher core on a thread of its own and hands every record to the dialog
// as a posted event. No thread ever touches a widget.
#pragma once

#include <QEvent>
#include <QObject>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ombra/launcher/launcher.h"

namespace ombra::frontend {

// The dialog's WM_SERVICE_NOTIFY.
inline const QEvent::Type kServiceNotifyEvent = static_cast<QEvent::Type>(QEvent::User + 1);

class ServiceNotifyEvent final : public QEvent {
public:
    explicit ServiceNotifyEvent(launcher::ServiceRecord r) : QEvent(kServiceNotifyEvent), record(std::move(r)) {}
    launcher::ServiceRecord record;
};

// Where the threads post: the dialog while it lives. A thread may outlive
// the dialog (a wait that gave up), so the dialog closes the mailbox before
// it goes and later posts are dropped.
class ServiceMailbox {
public:
    explicit ServiceMailbox(QObject* owner) : owner_(owner) {}
    void post(launcher::ServiceRecord record);
    void close();

private:
    std::mutex lock_;
    QObject* owner_;
};

// What every operation is handed; owned copies.
struct OperationValues {
    CLSID programmerClsid{};
    std::string programmerName;
    DCB dcb;
    COMMTIMEOUTS timeouts;
    std::string portPath;
    std::vector<std::uint8_t> cbusTable;
    DWORD baudRate = 0;
    HANDLE cancelEvent = nullptr;  // the dialog's, not owned
};

class CWorkerThread {
public:
    virtual ~CWorkerThread();
    CWorkerThread(const CWorkerThread&) = delete;
    CWorkerThread& operator=(const CWorkerThread&) = delete;

    // Starts the thread; false when it cannot be started.
    bool Start();
    // Waits on the done event; false on time-out or when never started.
    bool Wait(DWORD milliseconds) const;
    // Ends the worker process at once, so that a thread the dialog stopped
    // waiting for ends by itself soon after.
    void KillWorker();
    std::string mutexName() const;

protected:
    CWorkerThread(std::shared_ptr<ServiceMailbox> mailbox, launcher::WorkerJob job);
    // The device an identification found once the thread has posted its
    // completion; -1 otherwise.
    std::int32_t identified() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

class CIdentifyThread final : public CWorkerThread {
public:
    CIdentifyThread(std::shared_ptr<ServiceMailbox> mailbox, std::string workerPath, const OperationValues& values);
    std::int32_t identifiedDevice() const { return identified(); }
};

class CBurnThread final : public CWorkerThread {
public:
    CBurnThread(std::shared_ptr<ServiceMailbox> mailbox, std::string workerPath, const OperationValues& values,
                DWORD deviceNumber, std::string imagePath, DWORD burnStart, bool verify);
};

class CDumpThread final : public CWorkerThread {
public:
    CDumpThread(std::shared_ptr<ServiceMailbox> mailbox, std::string workerPath, const OperationValues& values,
                DWORD deviceNumber, std::string dumpFile, DWORD dumpStart, DWORD dumpLength);
};

}  // namespace ombra::frontend
