#pragma once
// Lists the simulator's ports in the registry store's machine hive under
// HARDWARE\DEVICEMAP\SERIALCOMM while it runs, as virtual serial port
// drivers do. A small edit of the hive's text file under its lock; nothing
// happens when the store's folder does not exist.
#include <string>
#include <utility>
#include <vector>

namespace ombra::sim {

class SerialCommEntries {
public:
    // (value name, port path) pairs.
    explicit SerialCommEntries(std::vector<std::pair<std::string, std::string>> entries);
    ~SerialCommEntries();  // removes the values again
    bool registered() const { return registered_; }
    const std::string& folder() const { return dir_; }

private:
    bool edit(bool add);
    std::vector<std::pair<std::string, std::string>> entries_;
    std::string dir_;
    bool registered_ = false;
};

} // namespace ombra::sim
