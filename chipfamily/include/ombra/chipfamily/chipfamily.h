// The chip-family programmers as clients see them: their class IDs and their
// information face. Burn, dump and verify use the faces of burnix/interfaces.h;
// the information face has the IID of the configurable programmer's but a
// slot layout of its own (eleven slots, no programmer enumeration).
#pragma once

#include "ombra/burnix/interfaces.h"

// {D9A7D76B-49B7-4EAD-AB9E-34D9862264C4}
inline constexpr CLSID CLSID_Cobalt = {0xD9A7D76B, 0x49B7, 0x4EAD, {0xAB, 0x9E, 0x34, 0xD9, 0x86, 0x22, 0x64, 0xC4}};
// {79B937E4-1F15-415E-9117-5F4332F1A327}
inline constexpr CLSID CLSID_Nickel = {0x79B937E4, 0x1F15, 0x415E, {0x91, 0x17, 0x5F, 0x43, 0x32, 0xF1, 0xA3, 0x27}};
// {C23AA42F-1789-4D22-9BD1-2B5F4D8985AE}
inline constexpr CLSID CLSID_Copper = {0xC23AA42F, 0x1789, 0x4D22, {0x9B, 0xD1, 0x2B, 0x5F, 0x4D, 0x89, 0x85, 0xAE}};

namespace ombra::chipfamily {

// Answered for IID_IBurnixInformation by the chip-family programmers.
struct IBurnixInformation : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetProgrammerName(char** name) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetVersionInformation(VersionInfo** info) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumSupportedDevices(DWORD index, DeviceInfo** info) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved6() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved7() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved8() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved9(DWORD) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved10(DWORD) = 0;

protected:
    ~IBurnixInformation() = default;
};

}  // namespace ombra::chipfamily
