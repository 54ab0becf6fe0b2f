// Time of a whole boot (ping phase to execute) of a 4 KiB program on the
// paced simulator, through the component runtime, next to the least time
// the bytes of the exchange need on the wire.
//
//   selkanboot-bench [runs]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ombra/platform/clock.h"
#include "ombra/platform/com.h"
#include "ombra/platform/event.h"
#include "ombra/platform/module.h"
#include "ombra/platform/thread.h"
#include "ombra/selkanboot/iselkanboot.h"
#include "ombra/sim/board.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kImage = 4096;
constexpr std::size_t kCBusTable = 18;
constexpr int kPings = 15;
constexpr std::size_t kFrame = 6;  // framing bytes around a payload

double bitsTime(double bytes, double baud) { return bytes * 10.0 / baud; }

// Bytes of the exchange at the ROM's 19,200 baud and at the working rate.
double wireMinimum(double baud)
{
    double slow = kPings * kFrame          // pings (empty payload)
                  + kFrame                 // hello
                  + kFrame + kFrame + 2    // version query and answer
                  + kFrame + kCBusTable + kFrame  // table and its acknowledgement
                  + kFrame + 12 + kFrame + 4;     // baud-rate stub and its start
    double fast = kFrame + 4 + kImage + kFrame  // load and acknowledgement
                  + kFrame + 4;                 // execute
    return bitsTime(slow, 19200) + bitsTime(fast, baud);
}

LONG quiet(BootMessage* m, void*)
{
    if (m->code == BOOT_MSG_ERROR)
        std::fprintf(stderr, "  %s\n", m->text);
    return 0;
}

DWORD runThread(ISelkanBoot* boot, bool execute)
{
    HANDLE thread = nullptr;
    if ((execute ? boot->Execute(&thread) : boot->Upload(&thread)) != S_OK || !thread)
        return 0;
    WaitForSingleObject(thread, INFINITE);
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    return code;
}

}  // namespace

int main(int argc, char** argv)
{
    int runs = argc > 1 ? std::atoi(argv[1]) : 3;
    if (runs < 1)
        runs = 1;
    std::string exe = ombra::platform::modulePathOf(reinterpret_cast<const void*>(&wireMinimum));
    std::string dir = exe.substr(0, exe.rfind('/'));
    char pattern[] = "/tmp/selkanboot-bench-XXXXXX";
    if (!mkdtemp(pattern))
        return 1;
    setenv("OMBRA_REGISTRY_DIR", pattern, 1);
    std::string reg = "\"" + dir + "/regsvr\" /s \"" + dir + "/SelkanBoot.so\"";
    if (std::system(reg.c_str()) != 0) {
        std::fprintf(stderr, "cannot register SelkanBoot.so\n");
        return 1;
    }
    CoInitialize(nullptr);
    CLSID clsid {};
    if (FAILED(ombra::platform::clsidFromProgId("Tarvik.SelkanBootKL", &clsid)))
        return 1;

    std::vector<BYTE> image(kImage, 0x90);
    const BYTE loop[] = {0xEB, 0xFE};  // jmp $
    image[0] = loop[0];
    image[1] = loop[1];
    const BYTE table[kCBusTable] = {0xFF, 0xA2, 0x3F, 0xFE, 0xFF, 0xA8, 0xA0, 0xBC, 0xFF,
                                    0xA4, 0x00, 0x07, 0x0A, 0x08, 0x00, 0x04, 0xFF, 0xFF};

    std::printf("whole boot of a %zu-byte program, paced simulator, %d run(s) each\n", kImage, runs);
    std::printf("%8s %10s %10s %10s %12s %8s\n", "baud", "upload s", "execute s", "total s", "wire min s",
                "ratio");
    for (DWORD baud : {115200u, 460800u}) {
        double best = 1e9, bestUpload = 0, bestExec = 0;
        for (int run = 0; run < runs; ++run) {
            ombra::sim::BoardOptions options;
            options.paced = true;
            ombra::sim::Board board(options);
            ISelkanBoot* boot = nullptr;
            if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ISelkanBoot,
                                        reinterpret_cast<void**>(&boot))))
                return 1;
            DCB dcb;
            dcb.BaudRate = baud;
            dcb.setFlag(DCB::kBinary, true);
            dcb.setDtrControl(DTR_CONTROL_ENABLE);
            dcb.setRtsControl(RTS_CONTROL_ENABLE);
            COMMTIMEOUTS timeouts {};
            HANDLE cancel = CreateEvent(TRUE, FALSE);
            boot->SetCommDeviceName(board.portPath().c_str());
            boot->SetDCB(&dcb);
            boot->SetCommTimeouts(&timeouts);
            boot->SetCBusTable(table, WORD(sizeof table));
            boot->SetUploadAddress(0x0030, 0);
            boot->SetCallbackFn(&quiet, nullptr);
            boot->SetTerminationFlag(cancel);
            boot->SetUploadImage(image.data(), WORD(image.size()));
            boot->SetExecuteAddress(0x0030, 0);

            auto t0 = Clock::now();
            DWORD up = runThread(boot, false);
            auto t1 = Clock::now();
            DWORD ex = up ? runThread(boot, true) : 0;
            auto t2 = Clock::now();
            boot->Release();
            CloseHandle(cancel);
            if (!up || !ex) {
                std::fprintf(stderr, "boot failed at %u baud\n", unsigned(baud));
                return 1;
            }
            double total = std::chrono::duration<double>(t2 - t0).count();
            if (total < best) {
                best = total;
                bestUpload = std::chrono::duration<double>(t1 - t0).count();
                bestExec = std::chrono::duration<double>(t2 - t1).count();
            }
        }
        double minimum = wireMinimum(baud);
        std::printf("%8u %10.3f %10.3f %10.3f %12.3f %8.2f\n", unsigned(baud), bestUpload, bestExec, best, minimum,
                    best / minimum);
    }
    return 0;
}
