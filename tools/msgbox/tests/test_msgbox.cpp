// The dialog's command line and its answers, on Qt's offscreen platform.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <cstdlib>

#include "message_box.h"

namespace ombra::msgbox {
namespace {

QApplication& app() {
    static int argc = 1;
    static char name[] = "test";
    static char* argv[] = {name, nullptr};
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QApplication instance(argc, argv);
    return instance;
}

TEST(MsgBox, CommandLineIsCheckedWhole) {
    const auto r = parseArguments({"--caption", "Warning", "--text", "File is long", "--buttons", "yesno", "--icon",
                                   "warning"});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->caption, "Warning");
    EXPECT_EQ(r->text, "File is long");
    EXPECT_FALSE(parseArguments({"--buttons", "maybe"}));
    EXPECT_FALSE(parseArguments({"--icon", "smile"}));
    EXPECT_FALSE(parseArguments({"--text"}));
    EXPECT_FALSE(parseArguments({"--colour", "red"}));
}

TEST(MsgBox, EachButtonGivesItsAnswer) {
    app();
    struct Case {
        const char* buttons;
        QMessageBox::StandardButton click;
        int answer;
    } cases[] = {
        {"ok", QMessageBox::Ok, kIdOk},          {"okcancel", QMessageBox::Cancel, kIdCancel},
        {"yesno", QMessageBox::Yes, kIdYes},     {"yesno", QMessageBox::No, kIdNo},
        {"yesnocancel", QMessageBox::Cancel, kIdCancel},
    };
    for (const auto& c : cases) {
        const Request r{"Caption", "Text", c.buttons, "question"};
        auto box = makeBox(r);
        box->open();
        ASSERT_NE(box->button(c.click), nullptr) << c.buttons;
        box->button(c.click)->click();
        EXPECT_EQ(answerOf(*box, r), c.answer) << c.buttons;
    }
}

TEST(MsgBox, ClosedWithoutAButtonGivesTheSafeAnswer) {
    app();
    for (const auto& [buttons, safe] : {std::pair{"ok", kIdOk}, {"yesno", kIdNo}, {"yesnocancel", kIdCancel}}) {
        const Request r{"Caption", "Text", buttons, "none"};
        auto box = makeBox(r);
        EXPECT_EQ(answerOf(*box, r), safe) << buttons;
    }
}

}  // namespace
}  // namespace ombra::msgbox
