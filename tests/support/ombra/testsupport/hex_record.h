// One Intel HEX record with its byte count and checksum, for tests that
// write HEX images.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace ombra::testsupport {

inline std::string hexRecord(unsigned type, unsigned address, const std::vector<std::uint8_t>& data) {
    char b[8];
    std::string r = ":";
    unsigned sum = 0;
    auto put = [&](unsigned v) {
        std::snprintf(b, sizeof b, "%02X", v & 0xFF);
        r += b;
        sum += v & 0xFF;
    };
    put(static_cast<unsigned>(data.size()));
    put(address >> 8);
    put(address);
    put(type);
    for (auto d : data) put(d);
    put(0x100 - (sum & 0xFF));
    return r + "\n";
}

}  // namespace ombra::testsupport
