// Identity and interface of the test component, shared with its tests.
#pragma once

#include "ombra/platform/unknown.h"

// {6A3E1F52-8C0D-4B7A-9E21-3D5F7A9B0C14}
inline constexpr CLSID CLSID_TestAdder = {0x6A3E1F52, 0x8C0D, 0x4B7A, {0x9E, 0x21, 0x3D, 0x5F, 0x7A, 0x9B, 0x0C, 0x14}};
// {B2D4C6E8-1A3F-4E5D-8C7B-9A0F1E2D3C4B}
inline constexpr IID IID_ITestAdder = {0xB2D4C6E8, 0x1A3F, 0x4E5D, {0x8C, 0x7B, 0x9A, 0x0F, 0x1E, 0x2D, 0x3C, 0x4B}};

inline constexpr const char* kTestAdderProgId = "Ombra.TestAdder.1";
inline constexpr const char* kTestAdderIndependentProgId = "Ombra.TestAdder";
inline constexpr const char* kTestAdderDescription = "Ombra test adder";
inline constexpr const char* kTestComponentFile = "ombra_test_component.so";

struct ITestAdder : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Add(LONG a, LONG b, LONG* sum) = 0;
    // Server locks taken through IClassFactory::LockServer, for slot tests.
    virtual LONG STDMETHODCALLTYPE ServerLocks() = 0;

protected:
    ~ITestAdder() = default;
};
