#include "pivra_app.h"

#include "pivra_dlg.h"

namespace ombra::pivra {

CPivraApp::CPivraApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName("Pivra");
    setApplicationDisplayName("Ombra trace control");
    setDesktopFileName("Pivra");
}

bool CPivraApp::InitInstance() {
    CPivraDlg dlg;
    dlg.exec();
    return false;
}

}  // namespace ombra::pivra
