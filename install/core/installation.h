// The work of the last wizard page: `runInstallation` and its steps. It
// runs on a thread of its own and reports only through an
// `InstallObserver`, so the wizard and the scripted mode share it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ombra/platform/types.h"
#include "ombra/platform/version.h"
#include "payload.h"

namespace ombra::install {

// What the wizard collected.
struct InstallChoices {
    std::string destination;     // D, an absolute folder
    std::vector<int> components; // selected numbers, in list order
    bool desktopShortcut = true;
    bool startMenuShortcut = true;

    bool selected(int component) const;
};

// Called on the installation thread.
class InstallObserver {
public:
    // A line break and then `text` (the wizard's `logLine`).
    virtual void logLine(const std::string& text) = 0;
    // `text` at the end of the current line ("*", "OK").
    virtual void logAppend(const std::string& text) = 0;
    virtual void setProgress(int percent) = 0;
    // The last call: `complete` after "Installation complete.", false after
    // a step stopped the installation.
    virtual void finished(bool complete) = 0;

protected:
    ~InstallObserver() = default;
};

// Where things go on this machine, and the installation's clock.
struct InstallEnvironment {
    const Payload* payload = nullptr;
    std::string tempFolder;          // for the "OmbraTMP" files
    std::string desktopFolder;       // XDG desktop folder
    std::string applicationsFolder;  // XDG applications folder
    std::function<void(DWORD)> pause;  // the 10 ms pauses
    std::function<BOOL(OSVERSIONINFOA*)> getVersion;
    DWORD processWaitMs = 60000;     // per REGISTER or regsvr run
};

// This machine's folders and real pauses, with `payload`.
InstallEnvironment defaultEnvironment(const Payload& payload);

// The summary page's text for `choices`.
std::string summaryText(const InstallChoices& choices);

// Index into windowsVersionNames() for a version record (the platform's
// answer), as the original installer classified them.
int windowsVersionIndex(const OSVERSIONINFOEXA& info);
const char* windowsVersionName(int index);

class Installation {
public:
    Installation(InstallChoices choices, InstallEnvironment env, InstallObserver& observer);

    // Every step in order, then finished(). Gives whether it completed.
    bool runInstallation();

    // The steps, in the order runInstallation calls them.
    bool detectWindowsVersion(int& index);
    bool removeOldSettings();
    bool extractFiles();
    bool registerComponents();
    void createShortcuts();
    void writeSettings();
    void writeUninstallInfo();

    // S, the folder of the registration program (known after
    // registerComponents).
    const std::string& systemFolder() const { return systemFolder_; }

private:
    bool extractFile(int resourceId, const std::string& name, bool program);
    bool runAndWait(const std::string& program, const std::vector<std::string>& arguments, bool checkStatus);
    void logError(const std::string& systemText);
    void progress(int percent);

    InstallChoices choices_;
    InstallEnvironment env_;
    InstallObserver& observer_;
    std::string systemFolder_;
};

// The first lines of the log page.
inline constexpr const char* kLogHeader = "Ombra Installation Log \r\n ---------------------------";

}  // namespace ombra::install
