// CHistoryComboBox: the editable combo of the image and C-bus fields. The
// rules live in HistoryList; the widget mirrors the list and hands the
// user's edits back to it before each rule runs.
#pragma once

#include <QComboBox>

#include <string>

#include "ombra/frontend/history_list.h"
#include "ombra/frontend/profile.h"

namespace ombra::frontend {

class CHistoryComboBox final : public QComboBox {
public:
    explicit CHistoryComboBox(QWidget* parent = nullptr);

    void setMaximum(int n);
    std::string load(const AppProfile& profile, const std::string& section, const std::string& prefix,
                     bool rememberLast = true, const std::string& lastKey = "");
    void add(const std::string& text);
    void save(AppProfile& profile, bool addCurrent);
    // The drop-down becomes wide enough for the longest entry.
    void widen();

    // The selected entry's text, "" when none is selected.
    std::string selectedText();
    const HistoryList& list();

private:
    void pull();
    void push();

    HistoryList list_;
};

}  // namespace ombra::frontend
