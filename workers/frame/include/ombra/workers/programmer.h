// The programmer's faces as the workers use them, and the records it hands
// out with the task allocator.
#pragma once

#include <string>

#include "ombra/burnix/interfaces.h"

namespace ombra::workers {

// The size of an existing file (its low 32 bits); false when it cannot be opened.
bool imageFileSize(const std::string& path, DWORD& size);

// Calls on the information face, which the chip-family programmers lay out
// differently (`earlier`); false when the programmer has no such face.
bool enumSupportedDevice(IUnknown* face, bool earlier, DWORD index, DeviceInfo** info, HRESULT& result);
bool programmerName(IUnknown* face, bool earlier, char** name, HRESULT& result);

// Frees a device record and its texts; takes null.
void freeDeviceInfo(DeviceInfo* info);

// The operation's face as its base, for the calls every face shares.
inline IBurnix* asBurnix(IUnknown* face) { return static_cast<IBurnix*>(static_cast<void*>(face)); }
template <class Face>
Face* as(IUnknown* face) {
    return static_cast<Face*>(static_cast<void*>(face));
}

}  // namespace ombra::workers
