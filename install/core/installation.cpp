#include "installation.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>

#include "desktop_files.h"
#include "install_table.h"
#include "ombra/platform/clock.h"
#include "ombra/platform/file.h"
#include "ombra/platform/pipe.h"
#include "ombra/platform/process.h"
#include "ombra/platform/registry.h"
#include "registry_text.h"
#include "uninstall_script.h"

namespace fs = std::filesystem;
using ombra::platform::RegKey;

namespace ombra::install {
namespace {

constexpr int kWorkerOrder[] = {kTordel, kLunet, kWexom, kQuasp};
constexpr int kProgrammerOrder[] = {kCobalt, kCopper, kNickel};
constexpr std::size_t kChunk = 8192;

const char* const kVersionNames[] = {
    "Win32s",     "Windows 95",   "Windows 95 OSR2", "Windows 98", "Windows 98SE",
    "Windows ME", "Unrecognized Windows version",    "Windows NT", "Windows 2000",
    "Windows XP", "Unrecognized NT version",
};

// Closes a handle from the platform's file and process calls.
struct HandleCloser {
    HANDLE handle;
    ~HandleCloser()
    {
        if (handle && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
};

bool writeAll(HANDLE file, const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        DWORD part = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 20));
        DWORD written = 0;
        if (!WriteFile(file, bytes, part, &written) || written == 0) return false;
        bytes += written;
        size -= written;
    }
    return true;
}

std::string lastErrorText() { return GetErrorText(GetLastError()); }

// A new file "OmbraTMP<random>.tmp" in `folder` (the temporary-file name
// call of the original); created exclusively so it never takes over a file.
HANDLE createTempFile(const std::string& folder, std::string& path)
{
    std::random_device seed;
    std::mt19937 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "OmbraTMP%08X.tmp", static_cast<unsigned>(random()));
        path = ombra::platform::joinPath(folder, name);
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, CREATE_NEW);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_OS_ALREADY_EXISTS) return file;
    }
    return INVALID_HANDLE_VALUE;
}

bool writeTextFile(const std::string& path, const std::string& text, std::string& error, bool program)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, CREATE_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) {
        error = lastErrorText();
        return false;
    }
    HandleCloser closer{file};
    if (!writeAll(file, text.data(), text.size())) {
        error = lastErrorText();
        return false;
    }
    if (program) {
        std::error_code ec;
        fs::permissions(path, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                        fs::perm_options::add, ec);
    }
    return true;
}

LONG setText(HKEY key, const char* name, const std::string& value)
{
    // With the terminating zero, as every value of the installation.
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1));
}

}  // namespace

bool InstallChoices::selected(int component) const
{
    return std::find(components.begin(), components.end(), component) != components.end();
}

InstallEnvironment defaultEnvironment(const Payload& payload)
{
    InstallEnvironment env;
    env.payload = &payload;
    std::error_code ec;
    fs::path temp = fs::temp_directory_path(ec);
    env.tempFolder = ec ? std::string("/tmp") : temp.string();
    env.desktopFolder = xdgDesktopFolder();
    env.applicationsFolder = xdgApplicationsFolder();
    env.pause = [](DWORD ms) { Sleep(ms); };
    env.getVersion = [](OSVERSIONINFOA* info) { return GetVersionExA(info); };
    return env;
}

std::string summaryText(const InstallChoices& choices)
{
    std::string text = "\r\n Destination folder : " + choices.destination + " \r\n";
    text += " Installed components: \r\n";
    for (int component : choices.components)
        if (component >= 0 && component < kComponentCount) text += componentTable()[component].summaryLine;
    if (choices.desktopShortcut) text += "A desktop shortcut will be created.\r\n";
    if (choices.startMenuShortcut) text += "A start-menu shortcut will be created.\r\n";
    return text;
}

int windowsVersionIndex(const OSVERSIONINFOEXA& info)
{
    switch (info.dwPlatformId) {
    case VER_PLATFORM_WIN32s:
        return 0;
    case VER_PLATFORM_WIN32_WINDOWS:
        if (info.dwMajorVersion != 4) return 6;
        switch (info.dwMinorVersion) {
        case 0:
            return info.szCSDVersion[1] == 'C' || info.szCSDVersion[1] == 'B' ? 2 : 1;
        case 10:
            return info.szCSDVersion[1] == 'A' ? 4 : 3;
        case 90:
            return 5;
        default:
            return 6;
        }
    case VER_PLATFORM_WIN32_NT:
        if (info.dwMajorVersion <= 4) return 7;
        if (info.dwMajorVersion == 5 && info.dwMinorVersion == 0) return 8;
        if (info.dwMajorVersion == 5 && info.dwMinorVersion == 1) return 9;
        return 10;
    default:
        return -1;
    }
}

const char* windowsVersionName(int index)
{
    if (index < 0 || index >= static_cast<int>(std::size(kVersionNames))) return "Unknown operating system";
    return kVersionNames[index];
}

Installation::Installation(InstallChoices choices, InstallEnvironment env, InstallObserver& observer)
    : choices_(std::move(choices)), env_(std::move(env)), observer_(observer)
{
    if (!env_.pause) env_.pause = [](DWORD) {};
    if (!env_.getVersion) env_.getVersion = [](OSVERSIONINFOA* info) { return GetVersionExA(info); };
}

void Installation::logError(const std::string& systemText) { observer_.logLine("Error: " + systemText); }

void Installation::progress(int percent)
{
    observer_.setProgress(percent);
    env_.pause(10);
}

bool Installation::runInstallation()
{
    observer_.logLine("Beginning installation:");
    observer_.logLine("Determining Windows version...");
    int version = -1;
    if (!detectWindowsVersion(version)) observer_.logLine("Cannot retrieve Windows version.");
    progress(10);
    observer_.logLine(std::string("Operating system is: ") + windowsVersionName(version));

    if (!removeOldSettings()) {
        observer_.logLine("Error: Failed to access system registry.");
        observer_.finished(false);
        return false;
    }
    progress(20);

    if (!extractFiles()) {
        observer_.logLine("File decompression failed.");
        observer_.finished(false);
        return false;
    }
    progress(60);
    observer_.logLine("Finished decompressing files.");
    observer_.logLine("Registering components...");

    if (!registerComponents()) {
        observer_.logLine("Component registration failed.");
        observer_.finished(false);
        return false;
    }
    progress(70);

    createShortcuts();
    progress(80);

    observer_.logLine("Creating registry entries");
    writeSettings();
    observer_.logLine("Creating uninstall script and system entry");
    writeUninstallInfo();
    progress(100);
    observer_.logLine("Installation complete.");
    observer_.finished(true);
    return true;
}

bool Installation::detectWindowsVersion(int& index)
{
    OSVERSIONINFOEXA info{};
    info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
    if (!env_.getVersion(reinterpret_cast<OSVERSIONINFOA*>(&info))) {
        info = OSVERSIONINFOEXA{};
        info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
        if (!env_.getVersion(reinterpret_cast<OSVERSIONINFOA*>(&info))) return false;
    }
    index = windowsVersionIndex(info);
    return true;
}

bool Installation::removeOldSettings()
{
    RegKey vendor;
    LONG result = vendor.open(HKEY_LOCAL_MACHINE, kVendorKey, KEY_ALL_ACCESS);
    // Only a missing key means there is nothing to do: a store that cannot
    // be read must not pass for an empty one.
    if (result == ERROR_FILE_NOT_FOUND) return true;
    if (result == ERROR_SUCCESS) {
        RegKey product;
        result = product.open(vendor.get(), kProductKeyName, KEY_ALL_ACCESS);
        if (result == ERROR_FILE_NOT_FOUND) return true;
        if (result == ERROR_SUCCESS) {
            product.reset();
            result = RegDeleteTreeA(vendor.get(), kProductKeyName);
        }
    }
    if (result == ERROR_SUCCESS) return true;
    logError(registryErrorText(result));
    return false;
}

bool Installation::extractFiles()
{
    for (const InstallFileEntry& row : installFileTable()) {
        if (row.conditional && !choices_.selected(row.component)) continue;
        // A build without this deliverable installs without it.
        if (!env_.payload || !env_.payload->carries(row.resourceId)) continue;
        if (!extractFile(row.resourceId, row.fileName, row.program)) return false;
    }
    return true;
}

bool Installation::extractFile(int resourceId, const std::string& name, bool program)
{
    observer_.logLine("\tExtracting file " + name + " : ");
    std::span<const std::uint8_t> bytes = env_.payload->resource(resourceId);
    if (bytes.empty()) {
        logError(kResourceNotFoundText);
        return false;
    }

    std::string tempPath;
    HANDLE temp = createTempFile(env_.tempFolder, tempPath);
    if (temp == INVALID_HANDLE_VALUE) {
        logError(lastErrorText());
        return false;
    }
    // The temporary copy goes once the file is out, whatever the outcome.
    struct TempRemover {
        std::string path;
        ~TempRemover() { DeleteFileA(path.c_str()); }
    } remover{tempPath};
    {
        HandleCloser closer{temp};
        if (!writeAll(temp, bytes.data(), bytes.size())) {
            logError(lastErrorText());
            return false;
        }
    }

    const std::string destination = ombra::platform::joinPath(choices_.destination, name);
    std::error_code ec;
    fs::create_directories(fs::path(destination).parent_path(), ec);
    HANDLE out = CreateFileA(destination.c_str(), GENERIC_WRITE, CREATE_ALWAYS);
    if (out == INVALID_HANDLE_VALUE) {
        logError(lastErrorText());
        return false;
    }
    HandleCloser outCloser{out};

    gzFile gz = gzopen(tempPath.c_str(), "rb");
    if (!gz) {
        observer_.logLine("Error opening compressed file " + tempPath);
        return false;
    }
    struct GzCloser {
        gzFile file;
        ~GzCloser() { gzclose(file); }
    } gzCloser{gz};
    const std::string decompressError = "Error decompressing file " + tempPath + " into file " + destination;
    // Every resource is a gzip file; zlib would copy anything else as it is.
    if (gzdirect(gz)) {
        observer_.logLine(decompressError);
        return false;
    }

    std::array<std::uint8_t, kChunk> buffer;
    while (!gzeof(gz)) {
        int count = gzread(gz, buffer.data(), static_cast<unsigned>(buffer.size()));
        if (count == 0) break;
        if (count < 0) {
            observer_.logLine(decompressError);
            return false;
        }
        if (!writeAll(out, buffer.data(), static_cast<std::size_t>(count))) {
            logError(lastErrorText());
            return false;
        }
        observer_.logAppend("*");
        env_.pause(10);
    }
    // A stream cut short ends without a read error; only the stream's state
    // tells it from a whole file.
    int state = Z_OK;
    gzerror(gz, &state);
    if (state != Z_OK) {
        observer_.logLine(decompressError);
        return false;
    }
    observer_.logAppend("OK");
    if (program) {
        fs::permissions(destination, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                        fs::perm_options::add, ec);
    }
    return true;
}

bool Installation::runAndWait(const std::string& program, const std::vector<std::string>& arguments,
                              bool checkStatus)
{
    HANDLE process = CreateProcess(program, arguments, {});
    if (!process) {
        logError(lastErrorText());
        return false;
    }
    HandleCloser closer{process};
    // Waited for, so that the installation is registered when it says it
    // is complete, and a failed registration is not passed over.
    if (WaitForSingleObject(process, env_.processWaitMs) != WAIT_OBJECT_0) {
        TerminateProcess(process, 1);
        logError(program + " did not finish");
        return false;
    }
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    if (checkStatus && code != 0) {
        logError(program + " ended with status " + std::to_string(code));
        return false;
    }
    return true;
}

bool Installation::registerComponents()
{
    const std::string& d = choices_.destination;
    observer_.logLine("Registering service processes...");
    for (int worker : kWorkerOrder) {
        if (!choices_.selected(worker)) continue;
        const std::string name = componentTable()[worker].name;
        observer_.logLine("\t" + name + " REGISTER");
        // REGISTER ends with the failure code whether or not it worked.
        if (!runAndWait(ombra::platform::joinPath(d, name), {"REGISTER"}, false)) return false;
    }
    observer_.logLine("Retrieving system directory...");
    // The registration program is installed beside the components.
    systemFolder_ = d;
    observer_.logLine("System directory is " + systemFolder_);
    const std::string regsvr = ombra::platform::joinPath(systemFolder_, kRegsvrName);
    auto registerLibrary = [&](const std::string& file) {
        observer_.logLine("\t" + file);
        return runAndWait(regsvr, {"/s", ombra::platform::joinPath(d, file)}, true);
    };
    observer_.logLine("Registering libraries");
    if (!registerLibrary("SelkanBoot.so")) return false;
    if (env_.payload && env_.payload->carries(142) && !registerLibrary("Burnix.so")) return false;
    observer_.logLine("Registering flash drivers...");
    for (int programmer : kProgrammerOrder) {
        if (!choices_.selected(programmer)) continue;
        if (!registerLibrary(componentFileName(programmer))) return false;
    }
    return true;
}

void Installation::createShortcuts()
{
    const std::string& d = choices_.destination;
    const std::string entry =
        desktopEntryText(kShortcutName, kShortcutName, ombra::platform::joinPath(d, kFrontEndName), d);
    const std::string linkName = std::string(kShortcutName) + kShortcutSuffix;
    std::string error;
    if (choices_.desktopShortcut) {
        observer_.logLine("Creating desktop shortcut...");
        const std::string link = ombra::platform::joinPath(env_.desktopFolder, linkName);
        observer_.logLine("Creating desktop shortcut " + link);
        // Desktops start only entries that are marked executable.
        if (writeTextFile(link, entry, error, true)) {
            observer_.logLine("Desktop shortcut created.");
        } else {
            observer_.logLine("Error creating shortcut");
            observer_.logLine("Desktop shortcut not created.");
        }
    }
    if (choices_.startMenuShortcut) {
        observer_.logLine("Creating start menu shortcut...");
        const std::string folder = ombra::platform::joinPath(env_.applicationsFolder, kMenuFolderName);
        observer_.logLine("Creating system folder " + folder);
        std::error_code ec;
        fs::create_directories(env_.applicationsFolder, ec);
        bool created = fs::create_directory(folder, ec);
        if (!created) {
            observer_.logLine("Error creating start menu folder");
            logError(ec ? ec.message() : std::make_error_code(std::errc::file_exists).message());
            observer_.logLine("Start menu shortcut not created.");
            return;
        }
        const std::string link = ombra::platform::joinPath(folder, linkName);
        observer_.logLine("Creating shourtcut " + link);
        const std::string directory =
            ombra::platform::joinPath(folder, std::string(kMenuFolderName) + kMenuDirectorySuffix);
        if (writeTextFile(link, entry, error, true) &&
            writeTextFile(directory, directoryEntryText(kMenuFolderName), error, false)) {
            observer_.logLine("Start menu shortcut created.");
        } else {
            observer_.logLine("Start menu shortcut not created.");
        }
    }
}

void Installation::writeSettings()
{
    RegKey settings;
    if (settings.create(HKEY_CURRENT_USER, kSettingsKey, KEY_ALL_ACCESS) != ERROR_SUCCESS) return;
    const std::string cbus = ombra::platform::joinPath(choices_.destination, kCBusFileName);
    setText(settings.get(), "CBUS_PATH", cbus);
    // The dialog takes its C-bus file from its history, never from
    // CBUS_PATH; without an entry it would refuse every operation until the
    // user browses for the file just installed. A history of the user's own
    // stays as it is.
    DWORD size = 0;
    if (RegQueryValueExA(settings.get(), "MRU_C_BUS_FILE0", nullptr, nullptr, nullptr, &size) ==
        ERROR_FILE_NOT_FOUND) {
        setText(settings.get(), "MRU_C_BUS_FILE0", cbus);
        setText(settings.get(), "MRU_C_BUS_FILE", cbus);
    }
}

void Installation::writeUninstallInfo()
{
    const std::string& d = choices_.destination;
    // S is known once the components were registered; the same folder.
    const std::string system = systemFolder_.empty() ? d : systemFolder_;
    const std::string script = uninstallScriptText(choices_, system, env_.desktopFolder, env_.applicationsFolder);
    const std::string scriptPath = ombra::platform::joinPath(d, kUninstallScriptName);
    std::string error;
    if (!writeTextFile(scriptPath, script, error, true)) logError(error);

    // The parent is a key every Windows system has; this store makes it.
    RegKey parent;
    LONG result = parent.create(HKEY_LOCAL_MACHINE, kUninstallParentKey, KEY_ALL_ACCESS);
    if (result != ERROR_SUCCESS) {
        logError(registryErrorText(result));
        observer_.logLine("Can't open uninstall key");
        return;
    }
    RegKey entry;
    result = entry.create(parent.get(), kUninstallKeyName, KEY_ALL_ACCESS);
    if (result != ERROR_SUCCESS) {
        logError(registryErrorText(result));
        observer_.logLine("Can't create program uninstall key");
        return;
    }
    setText(entry.get(), "DisplayName", kDisplayName);
    setText(entry.get(), "DisplayVersion", kDisplayVersion);
    setText(entry.get(), "InstallPath", d);
    setText(entry.get(), "UninstallPath", d);
    setText(entry.get(), "UninstallString", scriptPath);
}

}  // namespace ombra::install
