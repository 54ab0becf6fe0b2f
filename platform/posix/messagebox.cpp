#include "ombra/platform/messagebox.h"

#include "ombra/platform/module.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace ombra::platform {

namespace {

enum class Buttons { ok, okCancel, yesNo, yesNoCancel };

Buttons buttonsOf(DWORD type)
{
    switch (type & 0xF) {
    case MB_OKCANCEL: return Buttons::okCancel;
    case MB_YESNO: return Buttons::yesNo;
    case MB_YESNOCANCEL: return Buttons::yesNoCancel;
    default: return Buttons::ok;
    }
}

int safeAnswer(Buttons b)
{
    switch (b) {
    case Buttons::ok: return IDOK;
    case Buttons::okCancel: return IDCANCEL;
    case Buttons::yesNo: return IDNO;
    case Buttons::yesNoCancel: return IDCANCEL;
    }
    return IDOK;
}

int yesAnswer(Buttons b) { return (b == Buttons::yesNo || b == Buttons::yesNoCancel) ? IDYES : IDOK; }

int noAnswer(Buttons b)
{
    switch (b) {
    case Buttons::yesNo:
    case Buttons::yesNoCancel: return IDNO;
    case Buttons::okCancel: return IDCANCEL;
    case Buttons::ok: return IDOK;
    }
    return IDOK;
}

const char* answerName(int id)
{
    switch (id) {
    case IDOK: return "OK";
    case IDCANCEL: return "Cancel";
    case IDYES: return "Yes";
    case IDNO: return "No";
    }
    return "?";
}

void toStderr(const char* text, const char* caption, int answer)
{
    std::fprintf(stderr, "[%s] %s [%s]\n", caption, text, answerName(answer));
    std::fflush(stderr);
}

const char* buttonsArg(Buttons b)
{
    switch (b) {
    case Buttons::ok: return "ok";
    case Buttons::okCancel: return "okcancel";
    case Buttons::yesNo: return "yesno";
    case Buttons::yesNoCancel: return "yesnocancel";
    }
    return "ok";
}

const char* iconArg(DWORD type)
{
    switch (type & 0xF0) {
    case MB_ICONERROR: return "error";
    case MB_ICONQUESTION: return "question";
    case MB_ICONWARNING: return "warning";
    case MB_ICONINFORMATION: return "information";
    }
    return "none";
}

bool hasDisplay()
{
    const char* x = std::getenv("DISPLAY");
    const char* w = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (w && *w);
}

// Runs the dialog helper; 0 when it is missing or gives no valid answer.
int askHelper(const char* text, const char* caption, DWORD type, Buttons b)
{
    std::string helper = modulePathOf(reinterpret_cast<const void*>(&messageBox));
    std::size_t slash = helper.rfind('/');
    helper = slash == std::string::npos ? std::string("ombra-msgbox") : helper.substr(0, slash + 1) + "ombra-msgbox";
    bool beside = helper.find('/') != std::string::npos && ::access(helper.c_str(), X_OK) == 0;
    std::string program = beside ? helper : std::string("ombra-msgbox");

    std::string captionArg(caption), textArg(text);
    const char* argv[] = {"ombra-msgbox", "--caption", captionArg.c_str(), "--text", textArg.c_str(),
                          "--buttons", buttonsArg(b), "--icon", iconArg(type), nullptr};
    pid_t pid = 0;
    int rc = beside ? ::posix_spawn(&pid, program.c_str(), nullptr, nullptr, const_cast<char**>(argv), environ)
                    : ::posix_spawnp(&pid, program.c_str(), nullptr, nullptr, const_cast<char**>(argv), environ);
    if (rc != 0) return 0;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return 0;
    }
    if (!WIFEXITED(status)) return 0;
    int id = WEXITSTATUS(status);
    bool valid = (b == Buttons::ok && id == IDOK) || (b == Buttons::okCancel && (id == IDOK || id == IDCANCEL)) ||
                 (b == Buttons::yesNo && (id == IDYES || id == IDNO)) ||
                 (b == Buttons::yesNoCancel && (id == IDYES || id == IDNO || id == IDCANCEL));
    return valid ? id : 0;
}

}  // namespace

int messageBox(const char* text, const char* caption, DWORD type)
{
    if (!text) text = "";
    if (!caption) caption = "";
    Buttons b = buttonsOf(type);
    const char* scripted = std::getenv("OMBRA_MESSAGEBOX");
    if (scripted && std::strcmp(scripted, "yes") == 0) {
        toStderr(text, caption, yesAnswer(b));
        return yesAnswer(b);
    }
    if (scripted && std::strcmp(scripted, "no") == 0) {
        toStderr(text, caption, noAnswer(b));
        return noAnswer(b);
    }
    if (hasDisplay()) {
        if (int id = askHelper(text, caption, type, b); id != 0) return id;
    }
    toStderr(text, caption, safeAnswer(b));
    return safeAnswer(b);
}

}  // namespace ombra::platform
