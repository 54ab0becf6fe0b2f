// The dialog "Ombra trace control": a context list and the trace settings
// of the selected context. A thin view over trace_settings.h.
#pragma once

#include <QDialog>
#include <QString>

#include "trace_settings.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace ombra::pivra {

// The list's entries. "QuaspDbg" is the name the verify worker reads;
// "Quasp" stays for whoever relies on it.
inline constexpr const char* kContexts[] = {"Ombra", "SelkanBoot", "Tordel", "Lunet", "Wexom",
                                            "Quasp", "SST",        "Intel",  "AMD",   "QuaspDbg"};

class CPivraDlg : public QDialog {
    Q_OBJECT

public:
    explicit CPivraDlg(QWidget* parent = nullptr);

    // The bound values as last taken from or shown in the controls.
    const TraceValues& values() const { return m_values; }
    // The selected list entry; empty when none is.
    QString selectedContext() const;

private:
    void OnInitDialog();
    void OnSelChangeContext();
    void OnTraceEnabled();
    void OnConsole();
    void OnFile();
    void OnUpdate();

    void takeValues();  // controls -> bound values
    void showValues();  // bound values -> controls
    void save();
    void addContext(const QString& name);
    void buildLayout();

    TraceValues m_values;

    QPushButton* m_ok = nullptr;
    QListWidget* m_contextList = nullptr;
    QLabel* m_contextLabel = nullptr;
    QCheckBox* m_traceEnabled = nullptr;
    QCheckBox* m_console = nullptr;
    QCheckBox* m_file = nullptr;
    QLineEdit* m_traceFile = nullptr;
    QPushButton* m_update = nullptr;
};

}  // namespace ombra::pivra
