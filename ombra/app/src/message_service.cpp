#include "message_service.h"

#include <QGuiApplication>
#include <QMessageBox>

#include <cstdlib>

namespace ombra::frontend {

namespace {

MessageBoxHandler& handlerSlot() {
    static MessageBoxHandler handler;
    return handler;
}

int askWithQt(QWidget* parent, const std::string& text, const std::string& caption, DWORD type) {
    QMessageBox box(parent);
    box.setWindowTitle(QString::fromStdString(caption));
    box.setText(QString::fromStdString(text));
    switch (type & 0xF0) {
    case MB_ICONERROR: box.setIcon(QMessageBox::Critical); break;
    case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
    case MB_ICONWARNING: box.setIcon(QMessageBox::Warning); break;
    case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
    default: break;
    }
    switch (type & 0x0F) {
    case MB_YESNO:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? IDYES : IDNO;
    case MB_OKCANCEL:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        return box.exec() == QMessageBox::Ok ? IDOK : IDCANCEL;
    default:
        box.setStandardButtons(QMessageBox::Ok);
        box.exec();
        return IDOK;
    }
}

}  // namespace

bool haveDisplay() {
    const QString platform = QGuiApplication::platformName();
    return !platform.isEmpty() && platform != "offscreen" && platform != "minimal";
}

int showMessageBox(QWidget* parent, const std::string& text, const std::string& caption, DWORD type) {
    if (handlerSlot()) return handlerSlot()(text, caption, type);
    const char* scripted = std::getenv("OMBRA_MESSAGEBOX");
    if ((scripted != nullptr && *scripted != '\0') || !haveDisplay())
        return platform::messageBox(text.c_str(), caption.c_str(), type);
    return askWithQt(parent, text, caption, type);
}

MessageBoxHandler setMessageBoxHandler(MessageBoxHandler handler) {
    MessageBoxHandler old = std::move(handlerSlot());
    handlerSlot() = std::move(handler);
    return old;
}

}  // namespace ombra::frontend
