// The dialog behind the platform's message-box service on a desktop: the
// platform library stays free of any toolkit and runs this program, which
// answers with its exit status (IDOK, IDCANCEL, IDYES or IDNO).
#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

namespace ombra::msgbox {

inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;
inline constexpr int kBadUsage = 64;

struct Request {
    QString caption;
    QString text;
    QString buttons = QStringLiteral("ok");  // ok, okcancel, yesno, yesnocancel
    QString icon = QStringLiteral("none");   // none, error, question, warning, information
};

// The request of a command line (arguments after the program name); nothing
// for an unknown option, a missing value or an unknown button set or icon.
std::optional<Request> parseArguments(const QStringList& arguments);

std::unique_ptr<QMessageBox> makeBox(const Request& request);

// The answer a closed box gives: the clicked button's id, or the safe answer
// of its button set when it was closed without one.
int answerOf(const QMessageBox& box, const Request& request);

}  // namespace ombra::msgbox
