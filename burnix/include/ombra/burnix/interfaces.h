// The programmer interfaces as clients see them: pure abstract classes in
// slot order (the vtable is the COM vtable), their IIDs, and the records
// handed out with the task allocator.
#pragma once

#include "ombra/common/comm_records.h"
#include "ombra/platform/types.h"
#include "ombra/platform/unknown.h"

// {04EED67D-51BF-4F59-B3B4-AEB573ED679E}
inline constexpr CLSID CLSID_Burnix = {0x04EED67D, 0x51BF, 0x4F59, {0xB3, 0xB4, 0xAE, 0xB5, 0x73, 0xED, 0x67, 0x9E}};
// {25BF8516-A819-4A46-937E-55CC9EBF578E}
inline constexpr IID IID_IBurnix = {0x25BF8516, 0xA819, 0x4A46, {0x93, 0x7E, 0x55, 0xCC, 0x9E, 0xBF, 0x57, 0x8E}};
// {7957491E-68E8-4059-A228-A4B56692277C}
inline constexpr IID IID_IBurnixInformation = {0x7957491E, 0x68E8, 0x4059, {0xA2, 0x28, 0xA4, 0xB5, 0x66, 0x92, 0x27, 0x7C}};
// {7329C794-A1DF-421A-87CB-801FD6E54CD3}
inline constexpr IID IID_IBurnixBurn = {0x7329C794, 0xA1DF, 0x421A, {0x87, 0xCB, 0x80, 0x1F, 0xD6, 0xE5, 0x4C, 0xD3}};
// {E77EB8DE-FF00-4FA1-96B6-DC2697D910DF}
inline constexpr IID IID_IBurnixDump = {0xE77EB8DE, 0xFF00, 0x4FA1, {0x96, 0xB6, 0xDC, 0x26, 0x97, 0xD9, 0x10, 0xDF}};
// {136E619A-9077-4A88-83DC-D76A0859B3FA}
inline constexpr IID IID_IBurnixVerify = {0x136E619A, 0x9077, 0x4A88, {0x83, 0xDC, 0xD7, 0x6A, 0x08, 0x59, 0xB3, 0xFA}};
// {3CCE13E3-3354-4949-92CC-31BAE269A76C}
inline constexpr IID IID_IBurnixInitialization = {0x3CCE13E3, 0x3354, 0x4949, {0x92, 0xCC, 0x31, 0xBA, 0xE2, 0x69, 0xA7, 0x6C}};

// Ends an enumeration (a success code).
inline constexpr HRESULT S_NO_MORE_ITEMS = 0x103;

// Task-allocated; the caller frees both texts and the record.
struct DeviceInfo {
    DWORD reserved;
    char* manufacturerName;
    char* modelName;
    WORD manufacturerCode;
    WORD modelCode;
    DWORD capacity;
};

// Task-allocated, every text too.
struct VersionInfo {
    char* programmerName;
    char* description;
    char* notice;
    DWORD version;
};

struct IBurnix : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetTerminationFlag(HANDLE event) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetCallbackPipe(HANDLE pipe) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetCommSettings(const char* port, const DCB* dcb, const COMMTIMEOUTS* timeouts) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSelectedDevice(DWORD index) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIdentificationBootCode(BYTE** code, DWORD* loadAddress, WORD* length) = 0;
    virtual HRESULT STDMETHODCALLTYPE IdentifyFlash(LONG* deviceIndex, DeviceInfo** info) = 0;

protected:
    ~IBurnix() = default;
};

struct IBurnixBurn : IBurnix {
    virtual HRESULT STDMETHODCALLTYPE SetBurnSource(const char* file) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetBurnSpan(DWORD address, DWORD size) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBurningBootCode(BYTE** code, DWORD* loadAddress, WORD* length) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetVerifyFlag(BOOL verify) = 0;
    virtual HRESULT STDMETHODCALLTYPE Burn() = 0;

protected:
    ~IBurnixBurn() = default;
};

struct IBurnixDump : IBurnix {
    virtual HRESULT STDMETHODCALLTYPE SetDumpSpan(DWORD address, DWORD size) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDumpTarget(const char* file) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDumpBootCode(BYTE** code, DWORD* loadAddress, WORD* length) = 0;
    virtual HRESULT STDMETHODCALLTYPE Dump() = 0;

protected:
    ~IBurnixDump() = default;
};

struct IBurnixVerify : IBurnix {
    virtual HRESULT STDMETHODCALLTYPE SetVerifySpan(DWORD address, DWORD size) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetVerifySource(const char* file) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetVerifyBootCode(BYTE** code, DWORD* loadAddress, WORD* length) = 0;
    virtual HRESULT STDMETHODCALLTYPE Verify() = 0;

protected:
    ~IBurnixVerify() = default;
};

// The configurable programmer's information face (12 slots).
struct IBurnixInformation : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetProgrammerName(char** name) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetVersionInformation(VersionInfo** info) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumSupportedDevices(DWORD index, DeviceInfo** info) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumSupportedProgrammer(DWORD index, char** name) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved7() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved8() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved9() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved10(DWORD) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved11(DWORD) = 0;

protected:
    ~IBurnixInformation() = default;
};

struct IBurnixInitialization : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE InitializeProgrammers() = 0;
    virtual HRESULT STDMETHODCALLTYPE InitializeDevices(const char* driver) = 0;
    virtual HRESULT STDMETHODCALLTYPE InitializeRemoteCodes(const char* driver, const char* worker) = 0;

protected:
    ~IBurnixInitialization() = default;
};
