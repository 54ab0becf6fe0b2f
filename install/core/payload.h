// The installer's embedded files: each a complete gzip file under a
// numeric resource id.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <vector>

namespace ombra::install {

class Payload {
public:
    virtual ~Payload() = default;
    // Whether the installer was built with this resource. A build without
    // some deliverable leaves its row out of the installation.
    virtual bool carries(int resourceId) const = 0;
    // The resource's bytes; empty when it is missing.
    virtual std::span<const std::uint8_t> resource(int resourceId) const = 0;
};

// The files linked into this program (generated at build time).
const Payload& embeddedPayload();

// A payload held in memory, for tests and tools.
class MemoryPayload final : public Payload {
public:
    void add(int resourceId, std::vector<std::uint8_t> bytes) { resources_[resourceId] = std::move(bytes); }
    bool carries(int resourceId) const override { return resources_.count(resourceId) != 0; }
    std::span<const std::uint8_t> resource(int resourceId) const override
    {
        auto it = resources_.find(resourceId);
        if (it == resources_.end()) return {};
        return it->second;
    }

private:
    std::map<int, std::vector<std::uint8_t>> resources_;
};

}  // namespace ombra::install
