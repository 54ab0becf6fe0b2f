// CAboutDlg: the program's version and the versions of the installed
// components.
#pragma once

#include <QDialog>

#include <string>

namespace ombra::frontend {

// One line per component that can be created and answers, each ending in
// "\n": the boot loader first, then the programmer.
std::string installedComponentsText();

class CAboutDlg final : public QDialog {
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace ombra::frontend
