#include "ombra_app.h"

#include <QApplication>

#include "message_service.h"
#include "ombra/common/trace.h"
#include "ombra/frontend/command_line.h"
#include "ombra/frontend/profile.h"
#include "ombra/frontend/uninstall.h"
#include "ombra/platform/com.h"
#include "ombra_dlg.h"
#include "ombra_strings.h"

namespace ombra::frontend {

int COmbraApp::run(int argc, char** argv) {
    TraceOpen("Ombra");
    TraceText("COmbraApp::InitInstance\n");
    CoInitialize(nullptr);
    const std::string commandLine = commandLineFromArguments(argc, argv);
    AppProfile profile(strings::kRegistryKey, applicationNameFromPath(argc > 0 ? argv[0] : "Ombra"));
    if (isUninstallCommand(commandLine)) {
        runUninstall([](const std::string& text, const std::string& caption, DWORD type) {
            return showMessageBox(nullptr, text, caption, type);
        });
        CoUninitialize();
        return 0;
    }

    DialogSettings s;
    s.imagePath = profile.getString("Settings", "IMAGE_FILE", "");
    s.portName = profile.getString("Settings", "SERIAL_PORT", "");
    s.savedProgrammer = profile.getInt("Settings", "PROGRAMMER", 0);
    s.cbusPath = profile.getString("Settings", "CBUS_PATH", "c_bus.txt");
    s.savedDevice = profile.getInt("Settings", "DEVICE", 0);
    const std::string cbusPath = s.cbusPath;

    const CommandLine parsed = parseCommandLine(commandLine);
    if (parsed.imageGiven) s.imagePath = parsed.imagePath;
    if (parsed.portGiven) s.portName = parsed.portName;
    if (parsed.logGiven) s.logFilePath = parsed.logPath;
    s.commandLineBaud = parsed.baud;
    s.unattended = parsed.unattended;
    s.verify = parsed.verify;
    if (parsed.message) showMessageBox(nullptr, *parsed.message, strings::kCaption, MB_OK | MB_ICONEXCLAMATION);

    int exitCode = 0;
    {
        COmbraDlg dlg(profile, std::move(s));
        dlg.show();
        dlg.exec();
        profile.writeString("Settings", "SERIAL_PORT", dlg.portName());
        profile.writeInt("Settings", "PROGRAMMER", dlg.savedProgrammer());
        profile.writeInt("Settings", "DEVICE", dlg.savedDevice());
        profile.writeString("Settings", "CBUS_PATH", cbusPath);
        if (dlg.runFailed()) exitCode = 1;
    }
    CoUninitialize();
    TraceText("COmbraApp::ExitInstance\n");
    return exitCode;
}

}  // namespace ombra::frontend
