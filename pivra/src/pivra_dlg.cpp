#include "pivra_dlg.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QValidator>
#include <QVBoxLayout>

namespace ombra::pivra {
namespace {

// The template's size in dialog units, and the few control sizes that
// decide the layout's proportions.
constexpr int kDialogWidthDlu = 314;
constexpr int kDialogHeightDlu = 170;
constexpr int kMarginDlu = 7;
constexpr int kListWidthDlu = 90;
constexpr int kPathWidthDlu = 140;
constexpr int kButtonWidthDlu = 50;
constexpr int kIndentDlu = 10;

// Refuses a path whose bytes would not fit what the trace log reads.
class PathLengthValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        return input.toLocal8Bit().size() <= kMaxPathBytes ? Acceptable : Invalid;
    }
};

// Horizontal and vertical dialog-unit scales of a font, as the dialog
// manager derives them: a quarter of the average character width and an
// eighth of the character height.
struct DialogUnits {
    explicit DialogUnits(const QFont& font) {
        const QFontMetrics fm(font);
        const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
        baseX = (fm.horizontalAdvance(letters) / 26 + 1) / 2;
        baseY = fm.height();
    }
    int x(int dlu) const { return dlu * baseX / 4; }
    int y(int dlu) const { return dlu * baseY / 8; }
    int baseX = 0;
    int baseY = 0;
};

}  // namespace

CPivraDlg::CPivraDlg(QWidget* parent) : QDialog(parent) {
    setObjectName("102");
    setWindowTitle("Ombra trace control");
    // Caption and system menu; no help button.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    QFont font(QStringLiteral("MS Sans Serif"), 8);
    font.setStyleHint(QFont::SansSerif);
    setFont(font);

    m_ok = new QPushButton("OK", this);
    m_ok->setObjectName("IDOK");
    m_ok->setDefault(true);
    m_contextList = new QListWidget(this);
    m_contextList->setObjectName("1001");
    m_contextList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_contextList->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_contextList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_contextLabel = new QLabel("Context:", this);
    m_contextLabel->setObjectName("-1");
    m_traceEnabled = new QCheckBox("Trace enabled", this);
    m_traceEnabled->setObjectName("1002");
    m_console = new QCheckBox("Console", this);
    m_console->setObjectName("1003");
    m_file = new QCheckBox("File", this);
    m_file->setObjectName("1004");
    m_traceFile = new QLineEdit(this);
    m_traceFile->setObjectName("1005");
    m_traceFile->setMaxLength(kMaxPathBytes);
    m_traceFile->setValidator(new PathLengthValidator(m_traceFile));
    m_update = new QPushButton("Update", this);
    m_update->setObjectName("1006");

    buildLayout();
    setTabOrder(m_ok, m_contextList);
    setTabOrder(m_contextList, m_traceEnabled);
    setTabOrder(m_traceEnabled, m_console);
    setTabOrder(m_console, m_file);
    setTabOrder(m_file, m_traceFile);
    setTabOrder(m_traceFile, m_update);

    // None of the ways out saves: only "Trace enabled" and "Update" do.
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_contextList, &QListWidget::itemSelectionChanged, this, &CPivraDlg::OnSelChangeContext);
    connect(m_traceEnabled, &QCheckBox::clicked, this, &CPivraDlg::OnTraceEnabled);
    connect(m_console, &QCheckBox::clicked, this, &CPivraDlg::OnConsole);
    connect(m_file, &QCheckBox::clicked, this, &CPivraDlg::OnFile);
    connect(m_update, &QPushButton::clicked, this, &CPivraDlg::OnUpdate);

    OnInitDialog();
}

void CPivraDlg::buildLayout() {
    const DialogUnits du(font());
    // Widths from the template; the list's own size hint would be far wider.
    m_contextList->setFixedWidth(du.x(kListWidthDlu));
    m_traceFile->setMinimumWidth(du.x(kPathWidthDlu));
    m_ok->setFixedWidth(du.x(kButtonWidthDlu));
    m_update->setFixedWidth(du.x(kButtonWidthDlu));

    // Console, File and the path hang off "Trace enabled": indented below it.
    auto* outputs = new QVBoxLayout;
    outputs->setContentsMargins(du.x(kIndentDlu), 0, 0, 0);
    outputs->addWidget(m_console);
    outputs->addWidget(m_file);
    outputs->addWidget(m_traceFile);
    auto* updateRow = new QHBoxLayout;
    updateRow->addStretch(1);
    updateRow->addWidget(m_update);

    auto* settings = new QVBoxLayout;
    settings->addWidget(m_traceEnabled);
    settings->addLayout(outputs);
    settings->addLayout(updateRow);
    settings->addStretch(1);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(du.x(kMarginDlu), du.y(kMarginDlu), du.x(kMarginDlu), du.y(kMarginDlu));
    grid->setHorizontalSpacing(du.x(kMarginDlu));
    grid->addWidget(m_contextLabel, 0, 0);
    grid->addWidget(m_contextList, 1, 0);
    grid->addLayout(settings, 1, 1);
    grid->addWidget(m_ok, 0, 2, 2, 1, Qt::AlignTop);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(1, 1);

    // A modal frame: the template's size, or what the texts need if more.
    setFixedSize(sizeHint().expandedTo(QSize(du.x(kDialogWidthDlu), du.y(kDialogHeightDlu))));
}

void CPivraDlg::OnInitDialog() {
    const QIcon icon(QStringLiteral(":/pivra/pivra.png"));
    setWindowIcon(icon);
    for (const char* name : kContexts) addContext(QString::fromLatin1(name));
    m_ok->setFocus();
}

// The list keeps itself sorted as a sorted list box does: without regard
// to case, so "SelkanBoot" comes before "SST".
void CPivraDlg::addContext(const QString& name) {
    int row = 0;
    while (row < m_contextList->count() &&
           QString::compare(m_contextList->item(row)->text(), name, Qt::CaseInsensitive) <= 0)
        ++row;
    m_contextList->insertItem(row, name);
}

QString CPivraDlg::selectedContext() const {
    const auto selected = m_contextList->selectedItems();
    return selected.isEmpty() ? QString() : selected.front()->text();
}

void CPivraDlg::takeValues() {
    m_values.enabled = m_traceEnabled->isChecked() ? 1 : 0;
    m_values.console = m_console->isChecked() ? 1 : 0;
    m_values.file = m_file->isChecked() ? 1 : 0;
    m_values.path = m_traceFile->text().toLocal8Bit().toStdString();
}

void CPivraDlg::showValues() {
    m_traceEnabled->setChecked(m_values.enabled != 0);
    m_console->setChecked(m_values.console != 0);
    m_file->setChecked(m_values.file != 0);
    m_traceFile->setText(QString::fromLocal8Bit(m_values.path.c_str()));
}

// With no entry selected there is no key to write: an empty name would
// write into the Debug key itself.
void CPivraDlg::save() {
    takeValues();
    const QString context = selectedContext();
    if (context.isEmpty()) return;
    saveTraceValues(context.toStdString(), m_values);
}

void CPivraDlg::OnSelChangeContext() {
    takeValues();
    const QString context = selectedContext();
    if (context.isEmpty()) return;
    // A key made just now holds nothing: the controls keep what they show.
    if (loadTraceValues(context.toStdString(), m_values) != LoadOutcome::loaded) return;
    showValues();
    OnTraceEnabled();
    OnFile();
}

void CPivraDlg::OnTraceEnabled() {
    takeValues();
    const bool on = m_values.enabled != 0;
    m_console->setEnabled(on);
    m_file->setEnabled(on);
    m_traceFile->setEnabled(on);
    save();
}

void CPivraDlg::OnConsole() { takeValues(); }

void CPivraDlg::OnFile() {
    takeValues();
    m_traceFile->setEnabled(m_values.file != 0 && m_values.enabled != 0);
}

void CPivraDlg::OnUpdate() { save(); }

}  // namespace ombra::pivra
