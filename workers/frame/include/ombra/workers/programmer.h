// The programmer's faces as the workers use them, and the records it hands
// out with the task allocator.
#pragma once

#include <string>

#include "ombra/burnix/interfaces.h"

namespace ombra::workers {

// The size of an existing file (its low 32 bits); false when it cannot be opened.
bool imageFileSize(const std::string& path, DWORD& size);

// Frees a device record and its texts; takes null.
void freeDeviceInfo(DeviceInfo* info);

// The operation's face as its base, for the calls every face shares.
inline IBurnix* asBurnix(IUnknown* face) { return static_cast<IBurnix*>(static_cast<void*>(face)); }
template <class Face>
Face* as(IUnknown* face) {
    return static_cast<Face*>(static_cast<void*>(face));
}

}  // namespace ombra::workers
