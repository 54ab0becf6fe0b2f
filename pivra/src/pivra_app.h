// The application object: shows the dialog modally and ends with it.
#pragma once

#include <QApplication>

namespace ombra::pivra {

class CPivraApp : public QApplication {
public:
    CPivraApp(int& argc, char** argv);

    // Shows the dialog until it closes. Always false: no message loop
    // follows, the program ends.
    bool InitInstance();
};

}  // namespace ombra::pivra
