// The caller's 18-byte settings record as the desktop application lays it out,
// and the driver's exports looked up by their decorated names.
#pragma once
#include "kivtest.h"
#include <gtest/gtest.h>
#include <cstdint>
#include <cstring>

struct SetupBytes {
    unsigned char b[18] = {};
    uint16_t u16(int off) const { return (uint16_t)(b[off] | b[off + 1] << 8); }
    void set16(int off, uint16_t v)
    {
        b[off] = v & 0xFF;
        b[off + 1] = v >> 8;
    }
    int32_t speed() const { return (int32_t)(b[4] | b[5] << 8 | b[6] << 16 | (uint32_t)b[7] << 24); }
    void setSpeed(int32_t v)
    {
        for (int i = 0; i < 4; i++)
            b[4 + i] = (unsigned char)((uint32_t)v >> (8 * i));
    }
    uint16_t portNo() const { return u16(0); }
    uint16_t irMode() const { return u16(2); }
    uint16_t parity() const { return u16(8); }
    uint16_t length() const { return u16(10); }
    uint16_t stop() const { return u16(12); }
    uint16_t csMon() const { return u16(14); }
    uint16_t xFlow() const { return u16(16); }
    static SetupBytes Make(uint16_t port, uint16_t mode, int32_t speed, uint16_t parity, uint16_t length,
                           uint16_t stop, uint16_t csmon, uint16_t xflow)
    {
        SetupBytes s;
        s.set16(0, port);
        s.set16(2, mode);
        s.setSpeed(speed);
        s.set16(8, parity);
        s.set16(10, length);
        s.set16(12, stop);
        s.set16(14, csmon);
        s.set16(16, xflow);
        return s;
    }
};

typedef int16_t(WINAPI* LoadPortSetupFn)(void*);
typedef int16_t(WINAPI* SavePortSetupFn)(const void*);
typedef int16_t(WINAPI* PortSetupDialogFn)(void*, HWND);
typedef int16_t(WINAPI* SearchFreePortFn)(int16_t);
typedef int16_t(WINAPI* SendDataFn)(const void*, HGLOBAL);
typedef HGLOBAL(WINAPI* ReceiveDataFn)(const void*, int16_t*);

struct KivPort {
    HMODULE dll = LoadKivLibrary("kivport.dll");
    LoadPortSetupFn load = GetExport<LoadPortSetupFn>(dll, "_KivLoadPortSetup@4");
    SavePortSetupFn save = GetExport<SavePortSetupFn>(dll, "_KivSavePortSetup@4");
    PortSetupDialogFn dialog = GetExport<PortSetupDialogFn>(dll, "_KivPortSetupDialog@8");
    SearchFreePortFn search = GetExport<SearchFreePortFn>(dll, "_KivSearchFreePort@4");
    SendDataFn send = GetExport<SendDataFn>(dll, "_KivSendData@8");
    ReceiveDataFn receive = GetExport<ReceiveDataFn>(dll, "_KivReceiveData@8");
};

inline KivPort& Port()
{
    static KivPort port;
    return port;
}

// Device paths for the COM port mappings: one that opens, one that does not.
constexpr const char* kOpenableDevice = "/dev/null";
constexpr const char* kMissingDevice = nullptr;
