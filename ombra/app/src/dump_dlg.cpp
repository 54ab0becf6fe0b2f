#include "dump_dlg.h"

#include <QCompleter>
#include <QDialogButtonBox>
#include <QFileSystemModel>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "message_service.h"
#include "ombra/common/trace.h"

namespace ombra::frontend {

bool parseDecimalDword(const QString& text, std::uint32_t& value) {
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() > 10) return false;
    std::uint64_t v = 0;
    for (const QChar c : t) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<unsigned>(c.unicode() - '0');
    }
    if (v > 0xFFFFFFFFull) return false;
    value = static_cast<std::uint32_t>(v);
    return true;
}

CDumpDlg::CDumpDlg(std::uint32_t start, std::uint32_t length, const std::string& file, QWidget* parent)
    : QDialog(parent), start_(start), length_(length), file_(file) {
    setObjectName("131");
    setWindowTitle("Dump");
    QPalette p = palette();
    p.setColor(QPalette::Window, QColor(248, 246, 207));
    setPalette(p);
    setAutoFillBackground(true);

    startEdit_ = new QLineEdit(QString::number(start), this);
    startEdit_->setObjectName("1017");
    lengthEdit_ = new QLineEdit(QString::number(length), this);
    lengthEdit_->setObjectName("1018");
    fileEdit_ = new QLineEdit(QString::fromStdString(file), this);
    fileEdit_->setObjectName("1019");
    // File-system completion of the path typed so far.
    auto* model = new QFileSystemModel(this);
    model->setRootPath("");
    auto* completer = new QCompleter(model, this);
    completer->setObjectName("fileCompleter");
    fileEdit_->setCompleter(completer);
    fileEdit_->setMinimumWidth(260);

    auto* form = new QFormLayout;
    form->addRow("Start Address", startEdit_);
    form->addRow("Length", lengthEdit_);
    form->addRow("Dump to file", fileEdit_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("IDOK");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("IDCANCEL");
    connect(buttons, &QDialogButtonBox::accepted, this, &CDumpDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

void CDumpDlg::accept() {
    TraceText("CDumpDlg::OnOK\n");
    for (QLineEdit* edit : {startEdit_, lengthEdit_}) {
        std::uint32_t v = 0;
        if (!parseDecimalDword(edit->text(), v)) {
            showMessageBox(this, "Please enter a whole number from 0 to 4294967295.", "Dump", MB_ICONEXCLAMATION);
            edit->setFocus();
            edit->selectAll();
            return;
        }
    }
    parseDecimalDword(startEdit_->text(), start_);
    parseDecimalDword(lengthEdit_->text(), length_);
    file_ = fileEdit_->text().toStdString();
    QDialog::accept();
}

}  // namespace ombra::frontend
