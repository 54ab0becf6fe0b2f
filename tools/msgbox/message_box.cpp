#include "message_box.h"

#include <QAbstractButton>

namespace ombra::msgbox {
namespace {

bool knownButtons(const QString& b) {
    return b == "ok" || b == "okcancel" || b == "yesno" || b == "yesnocancel";
}

std::optional<QMessageBox::Icon> iconOf(const QString& icon) {
    if (icon == "none") return QMessageBox::NoIcon;
    if (icon == "error") return QMessageBox::Critical;
    if (icon == "question") return QMessageBox::Question;
    if (icon == "warning") return QMessageBox::Warning;
    if (icon == "information") return QMessageBox::Information;
    return std::nullopt;
}

// The same safe answers the service gives without a display.
int safeAnswer(const QString& buttons) {
    if (buttons.endsWith("cancel")) return kIdCancel;
    if (buttons == "yesno") return kIdNo;
    return kIdOk;
}

}  // namespace

std::optional<Request> parseArguments(const QStringList& arguments) {
    Request r;
    for (qsizetype i = 0; i < arguments.size(); i += 2) {
        if (i + 1 >= arguments.size()) return std::nullopt;
        const QString& option = arguments[i];
        const QString& value = arguments[i + 1];
        if (option == "--caption") r.caption = value;
        else if (option == "--text") r.text = value;
        else if (option == "--buttons") r.buttons = value;
        else if (option == "--icon") r.icon = value;
        else return std::nullopt;
    }
    if (!knownButtons(r.buttons) || !iconOf(r.icon)) return std::nullopt;
    return r;
}

std::unique_ptr<QMessageBox> makeBox(const Request& request) {
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    QMessageBox::StandardButton preferred = QMessageBox::Ok;
    if (request.buttons == "okcancel") {
        buttons = QMessageBox::Ok | QMessageBox::Cancel;
    } else if (request.buttons == "yesno") {
        buttons = QMessageBox::Yes | QMessageBox::No;
        preferred = QMessageBox::Yes;
    } else if (request.buttons == "yesnocancel") {
        buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        preferred = QMessageBox::Yes;
    }
    auto box = std::make_unique<QMessageBox>(*iconOf(request.icon), request.caption, request.text, buttons);
    box->setDefaultButton(preferred);
    return box;
}

int answerOf(const QMessageBox& box, const Request& request) {
    switch (box.standardButton(box.clickedButton())) {
    case QMessageBox::Ok: return kIdOk;
    case QMessageBox::Cancel: return kIdCancel;
    case QMessageBox::Yes: return kIdYes;
    case QMessageBox::No: return kIdNo;
    default: return safeAnswer(request.buttons);
    }
}

}  // namespace ombra::msgbox
