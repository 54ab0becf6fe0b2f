// Message boxes of the front end. On a desktop a QMessageBox asks; without
// a display, or when OMBRA_MESSAGEBOX scripts the answer, the platform's
// message-box service answers, so an unattended run never waits on a
// question nobody can see. Tests may put a handler of their own in front.
#pragma once

#include <functional>
#include <string>

#include "ombra/platform/messagebox.h"

class QWidget;

namespace ombra::frontend {

using MessageBoxHandler = std::function<int(const std::string& text, const std::string& caption, DWORD type)>;

int showMessageBox(QWidget* parent, const std::string& text, const std::string& caption, DWORD type);

// Replaces the answerer (an empty handler restores the default); gives the old one.
MessageBoxHandler setMessageBoxHandler(MessageBoxHandler handler);

// True when the program has a display a person can look at.
bool haveDisplay();

}  // namespace ombra::frontend
