#include "serialcomm.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace ombra::sim {

namespace {

constexpr const char* kHive = "HKEY_LOCAL_MACHINE";
constexpr const char* kKeyLine = "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]";

// The machine hive's folder, found the way the product finds it.
std::string storeFolder() {
    if (const char* d = std::getenv("OMBRA_REGISTRY_DIR"); d && *d)
        return d;
    // A machine-wide installation keeps the machine hive for every user.
    const char* m = std::getenv("OMBRA_MACHINE_REGISTRY_DIR");
    const std::string machine = m && *m ? m : "/var/lib/ombra/registry";
    struct stat st{};
    if (::stat(machine.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return machine;
    if (const char* x = std::getenv("XDG_DATA_HOME"); x && x[0] == '/')
        return std::string(x) + "/ombra/registry";
    if (const char* h = std::getenv("HOME"); h && *h)
        return std::string(h) + "/.local/share/ombra/registry";
    return {};
}

std::string quoted(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + '"';
}

bool sameLine(std::string a, std::string b) {
    while (!a.empty() && (a.back() == '\r' || a.back() == ' '))
        a.pop_back();
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// A value of a simulator that died without removing it (its process is gone).
bool leftBehind(const std::string& line) {
    static const std::string quotedName = quoted("\\Device\\SelkanSim");
    static const std::string prefix = quotedName.substr(0, quotedName.size() - 1);
    if (!line.starts_with(prefix))
        return false;
    char* end = nullptr;
    const long pid = std::strtol(line.c_str() + prefix.size(), &end, 10);
    return pid > 0 && *end == '_' && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

} // namespace

SerialCommEntries::SerialCommEntries(std::vector<std::pair<std::string, std::string>> entries)
    : entries_(std::move(entries)), dir_(storeFolder()) {
    struct stat st{};
    if (dir_.empty() || ::stat(dir_.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return;
    registered_ = edit(true);
}

SerialCommEntries::~SerialCommEntries() {
    if (registered_)
        edit(false);
}

bool SerialCommEntries::edit(bool add) {
    const std::string file = dir_ + "/" + kHive + ".reg";
    const int lock = ::open((dir_ + "/" + kHive + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock < 0)
        return false;
    bool held = false;
    for (int i = 0; i < 400 && !held; ++i) {
        held = ::flock(lock, LOCK_EX | LOCK_NB) == 0;
        if (!held)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!held) {
        ::close(lock);
        return false;
    }

    std::vector<std::string> lines;
    {
        std::ifstream in(file, std::ios::binary);
        std::string line;
        while (std::getline(in, line))
            lines.push_back(line);
    }
    if (lines.empty())
        lines = {"Windows Registry Editor Version 5.00\r", "\r"};

    // Our own values go in every case; adding puts them back fresh.
    std::vector<std::string> mine;
    for (const auto& [name, path] : entries_)
        mine.push_back(quoted(name) + "=");
    std::erase_if(lines, [&](const std::string& l) {
        for (const auto& prefix : mine)
            if (l.starts_with(prefix))
                return true;
        return leftBehind(l);
    });
    if (add) {
        std::vector<std::string> values;
        for (const auto& [name, path] : entries_)
            values.push_back(quoted(name) + "=" + quoted(path) + "\r");
        auto key = std::find_if(lines.begin(), lines.end(), [](const std::string& l) { return sameLine(l, kKeyLine); });
        if (key != lines.end()) {
            lines.insert(key + 1, values.begin(), values.end());
        } else {
            if (!lines.back().empty() && lines.back() != "\r")
                lines.push_back("\r");
            lines.push_back(std::string(kKeyLine) + "\r");
            lines.insert(lines.end(), values.begin(), values.end());
            lines.push_back("\r");
        }
    }

    std::ostringstream text;
    for (const auto& l : lines)
        text << l << '\n';
    const std::string tmp = dir_ + "/." + kHive + ".tmp." + std::to_string(::getpid()) + ".sim";
    bool ok = false;
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << text.str();
        ok = static_cast<bool>(out.flush());
    }
    ok = ok && std::rename(tmp.c_str(), file.c_str()) == 0;
    if (!ok)
        std::remove(tmp.c_str());
    ::close(lock);
    return ok;
}

} // namespace ombra::sim
