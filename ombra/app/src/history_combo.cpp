#include "history_combo.h"

#include <QAbstractItemView>
#include <QFontMetrics>
#include <QLineEdit>
#include <QStyle>

namespace ombra::frontend {

CHistoryComboBox::CHistoryComboBox(QWidget* parent) : QComboBox(parent) {
    setEditable(true);
    // Entries come only from Add; Return in the field must not make one.
    setInsertPolicy(QComboBox::NoInsert);
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    setMinimumContentsLength(20);
}

void CHistoryComboBox::pull() {
    const std::string text = currentText().toStdString();
    const int index = currentIndex();
    if (index >= 0 && index < count() && itemText(index).toStdString() == text) {
        list_.select(index);
    } else {
        // Typing into the field leaves no entry selected, as in a list box.
        list_.select(-1);
        list_.setEditText(text);
    }
}

void CHistoryComboBox::push() {
    blockSignals(true);
    clear();
    for (const auto& e : list_.entries()) addItem(QString::fromStdString(e));
    setCurrentIndex(list_.selected());
    if (list_.selected() < 0) setEditText(QString::fromStdString(list_.editText()));
    blockSignals(false);
}

void CHistoryComboBox::setMaximum(int n) {
    pull();
    list_.setMaximum(n);
    push();
}

std::string CHistoryComboBox::load(const AppProfile& profile, const std::string& section, const std::string& prefix,
                                   bool rememberLast, const std::string& lastKey) {
    const std::string last = list_.load(profile, section, prefix, rememberLast, lastKey);
    push();
    return last;
}

void CHistoryComboBox::add(const std::string& text) {
    pull();
    list_.add(text);
    push();
}

void CHistoryComboBox::save(AppProfile& profile, bool addCurrent) {
    pull();
    list_.save(profile, addCurrent);
    push();
}

void CHistoryComboBox::widen() {
    const QFontMetrics metrics(view()->font());
    int widest = 0;
    for (int i = 0; i < count(); ++i) widest = std::max(widest, metrics.horizontalAdvance(itemText(i)));
    const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const int edge = style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
    view()->setMinimumWidth(widest + metrics.averageCharWidth() + scrollBar + 2 * edge);
}

std::string CHistoryComboBox::selectedText() {
    pull();
    return list_.selectedText();
}

const HistoryList& CHistoryComboBox::list() {
    pull();
    return list_;
}

}  // namespace ombra::frontend
