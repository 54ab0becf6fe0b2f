// ombra-msgbox --caption TEXT --text TEXT --buttons ok|okcancel|yesno|yesnocancel
//              --icon none|error|question|warning|information
// Shows one message box; the exit status is the answer.
#include <QApplication>
#include <cstdio>

#include "message_box.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const auto request = ombra::msgbox::parseArguments(app.arguments().mid(1));
    if (!request) {
        std::fputs("usage: ombra-msgbox --caption TEXT --text TEXT --buttons ok|okcancel|yesno|yesnocancel"
                   " --icon none|error|question|warning|information\n",
                   stderr);
        return ombra::msgbox::kBadUsage;
    }
    auto box = ombra::msgbox::makeBox(*request);
    box->exec();
    return ombra::msgbox::answerOf(*box, *request);
}
