// What the front end sees when a worker run goes wrong: missing boot
// loader, an image the device cannot hold, a device the table lacks, a
// cancel at each stage, a worker that dies.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "e2e_rig.h"
#include "ombra/burnix/link.h"
#include "ombra/common/frame.h"
#include "ombra/platform/event.h"
#include "ombra/platform/handle.h"

using namespace ombra;
using namespace ombra::e2e;
using launcher::JobKind;
using launcher::ServiceKind;
using launcher::ServiceRecord;
using launcher::WorkerLauncher;
namespace fs = std::filesystem;

namespace {

const Programmer& burnixSst = kProgrammers[0];
const Programmer& burnixAmd = kProgrammers[2];
const Programmer& cobalt = kProgrammers[3];

struct Failures : ::testing::Test {
    HANDLE cancel = CreateEvent(TRUE, FALSE);
    ~Failures() override {
        CloseHandle(cancel);
        ::setenv("OMBRA_MESSAGEBOX", "no", 1);
    }

    static Job job(JobKind kind, const Programmer& p, const std::string& port, std::string path = {}) {
        Job j;
        j.kind = kind;
        j.programmer = &p;
        j.port = port;
        j.path = std::move(path);
        return j;
    }
};

const std::vector<DWORD> kFailure{pipe::E_STATUS_FAILURE};
const std::vector<DWORD> kTwoFailures{pipe::E_STATUS_FAILURE, pipe::E_STATUS_FAILURE};
const std::vector<DWORD> kCancelled{pipe::E_STATUS_CANCELLED};

}  // namespace

TEST_F(Failures, BootLoaderNotRegistered) {
    // The step number differs with the programmer's generation.
    const struct {
        const Programmer* programmer;
        const char* text;
    } cases[] = {{&burnixSst, "Tordel: ERROR 5(l333) - component SelkanBoot not found in system registry"},
                 {&cobalt, "Tordel: ERROR 5(l324) - component SelkanBoot not found in system registry"}};
    Registry registry({"Burnix.so", "Cobalt.so"});
    sim::Board board(fastBoard("SST39LF/VF160"));
    const std::string image = registry.file("image.bin");
    writeBytes(image, pattern(256));
    for (const auto& c : cases) {
        const Outcome run = runJob(job(JobKind::burn, *c.programmer, board.portPath(), image), cancel);
        EXPECT_EQ(run.texts(), std::vector<std::string>{c.text});
        EXPECT_EQ(run.completions(), kFailure);
    }
}

TEST_F(Failures, ProgrammerNotRegisteredFailsBeforeTheUpload) {
    Registry registry({"SelkanBoot.so"});
    sim::Board board(fastBoard("SST39LF/VF160"));
    const auto records = rawRun(job(JobKind::identify, burnixSst, board.portPath()), cancel);
    // Only the frame's record: nothing was started on the board.
    EXPECT_EQ(records.size(), 1u);
    EXPECT_EQ(statusCodes(records), kFailure);
    EXPECT_TRUE(board.inRom());
}

TEST_F(Failures, DriverNameClimbingOutOfTheTreeUploadsNothing) {
    Registry registry;
    // A copy of the configurable programmer with the SST driver also planted
    // where "../SST" reaches from its Drivers folder.
    const fs::path install = fs::path(registry.folder()) / "install";
    fs::create_directories(install / "SST");
    fs::copy_file(fs::path(runDir()) / "Burnix.so", install / "Burnix.so");
    fs::copy(fs::path(runDir()) / "Drivers", install / "Drivers", fs::copy_options::recursive);
    fs::copy_file(install / "Drivers/SST/SST.cfg", install / "SST.cfg");
    fs::copy(install / "Drivers/SST/RemoteCode", install / "SST/RemoteCode", fs::copy_options::recursive);
    const std::string command = "\"" + runDir() + "/regsvr\" /s \"" + (install / "Burnix.so").string() + "\"";
    ASSERT_EQ(std::system(command.c_str()), 0);

    const Programmer climbing{"Climbing", burnixSst.clsid, "../SST", burnixSst.part, 0, "../SST:"};
    sim::Board board(fastBoard(burnixSst.part));
    for (JobKind kind : {JobKind::identify, JobKind::dump}) {
        const auto records = rawRun(job(kind, climbing, board.portPath(), registry.file("dump.bin")), cancel);
        EXPECT_EQ(statusCodes(records), kFailure);
    }
    // Not a byte reached the board: nothing was uploaded, nothing started.
    EXPECT_EQ(board.stats().bytesToBoard, 0u);
    EXPECT_TRUE(board.inRom());
}

TEST_F(Failures, ImageLargerThanTheDeviceAnsweredNo) {
    Registry registry;
    sim::Board board(fastBoard("SST39LF/VF160"));
    const std::string image = registry.file("big.bin");
    writeBytes(image, pattern(2 * 1024 * 1024 + 1));
    ::setenv("OMBRA_MESSAGEBOX", "no", 1);
    for (JobKind kind : {JobKind::burn, JobKind::verify}) {
        // The check comes after the upload and leaves the remote program
        // running: the next run needs the ROM again.
        board.powerCycle();
        const auto records = rawRun(job(kind, burnixSst, board.portPath(), image), cancel);
        // The worker's own record, then the frame's.
        EXPECT_EQ(statusCodes(records), kTwoFailures);
        for (const auto& r : records) EXPECT_FALSE(std::holds_alternative<pipe::ProgressMessage>(r));
    }
    EXPECT_EQ(board.readFlash(0, 16), Bytes(16, 0xFF));
}

TEST_F(Failures, ImageAroundTheCapacity) {
    constexpr std::size_t kCapacity = 0x4000;
    Registry registry;
    registerSmallAmdProgrammer(registry, kCapacity);
    sim::Board board(fastBoard("AM29LV800BT"));
    // Exactly the capacity: burned whole without a question (one would be
    // answered No).
    const Bytes exact = pattern(kCapacity, 3);
    const std::string exactPath = registry.file("exact.bin");
    writeBytes(exactPath, exact);
    ::setenv("OMBRA_MESSAGEBOX", "no", 1);
    const Outcome whole = runJob(job(JobKind::burn, burnixAmd, board.portPath(), exactPath), cancel);
    EXPECT_EQ(whole.completions(), std::vector<DWORD>{pipe::E_STATUS_SUCCESS}) << ::testing::PrintToString(whole.texts());
    EXPECT_EQ(board.readFlash(0, kCapacity), exact);

    // One byte more, answered Yes: exactly the capacity is burned.
    Bytes larger = pattern(kCapacity + 1, 4);
    const std::string largerPath = registry.file("larger.bin");
    writeBytes(largerPath, larger);
    ::setenv("OMBRA_MESSAGEBOX", "yes", 1);
    const Outcome cut = runJob(job(JobKind::burn, burnixAmd, board.portPath(), largerPath), cancel);
    EXPECT_EQ(cut.completions(), std::vector<DWORD>{pipe::E_STATUS_SUCCESS}) << ::testing::PrintToString(cut.texts());
    Bytes expected(larger.begin(), larger.end() - 1);
    expected.push_back(0xFF);  // the byte past the capacity stays erased
    EXPECT_EQ(board.readFlash(0, kCapacity + 1), expected);
}

TEST_F(Failures, DeviceOutsideTheTableHasNoCapacity) {
    Registry registry;
    sim::Board board(fastBoard("SST39LF/VF160"));
    const std::string image = registry.file("image.bin");
    writeBytes(image, pattern(256));
    // The SST table has seven entries; the chip-family one fewer than 99.
    for (const Programmer* p : {&burnixSst, &cobalt}) {
        board.powerCycle();
        Job j = job(JobKind::burn, *p, board.portPath(), image);
        j.device = 99;
        const auto records = rawRun(j, cancel);
        EXPECT_EQ(statusCodes(records), kTwoFailures) << p->label;
        bool named = false;
        for (const auto& r : records)
            if (const auto* t = std::get_if<pipe::TextMessage>(&r))
                named |= t->text == "Tordel: device 99 is not in the programmer's device list; its capacity is unknown";
        EXPECT_TRUE(named) << p->label;
    }
}

TEST_F(Failures, CancelDuringTheUploadSendsNoFailure) {
    Registry registry;
    sim::Board board(fastBoard("SST39LF/VF160"));
    board.setMuted(true);  // the ROM never answers: the upload waits for pings
    const std::string image = registry.file("image.bin");
    writeBytes(image, pattern(256));
    for (JobKind kind : {JobKind::identify, JobKind::burn, JobKind::verify, JobKind::dump}) {
        // Set while the boot loader waits for pings, or before the worker
        // starts (its thread then ends before the worker waits for it).
        for (bool early : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "operation " << static_cast<int>(kind) << (early ? ", early" : ""));
            ResetEvent(cancel);
            if (early) SetEvent(cancel);
            Job j = job(kind, burnixSst, board.portPath(), kind == JobKind::dump ? registry.file("dump.bin") : image);
            j.dumpLength = 256;
            const auto records = rawRun(j, cancel, [&](const pipe::Record& r) {
                const auto* t = std::get_if<pipe::TextMessage>(&r);
                if (t != nullptr && t->text == "SelkanBoot: Waiting for ping") SetEvent(cancel);
            });
            EXPECT_EQ(statusCodes(records), kCancelled);
            // The boot loader noticed the event itself and still reached the
            // worker: its thread was not abandoned.
            bool noticed = false;
            for (const auto& r : records)
                if (const auto* t = std::get_if<pipe::TextMessage>(&r))
                    noticed |= t->text == "SelkanBoot: cancelling operation...";
            EXPECT_TRUE(noticed);
        }
    }
}

namespace {

bool isText(const ServiceRecord& r, const char* needle) {
    return r.kind == ServiceKind::SERVICE_TEXT && r.text.find(needle) != std::string::npos;
}

}  // namespace

TEST_F(Failures, CancelDuringEraseStreamingAndVerification) {
    Registry registry;
    // The first verify command (of a 4 KiB chunk at 0), as it goes on the
    // wire, but its last byte: a board muted there never answers it,
    // however late this side learns that the verification began.
    const std::uint8_t range[] = {0, 0, 0, 0, 0x10, 0x00};
    std::vector<std::uint8_t> verifyCommand = frame::encode(burnix::msg::kVerify, range);
    verifyCommand.pop_back();
    const struct Case {
        const char* name;
        const char* part;
        const Programmer* programmer;
        double flashTime;
        std::size_t size;
        bool verify;
        std::function<bool(const ServiceRecord&)> trigger;
        std::vector<std::uint8_t> muteAfter;  // empty: muted at the trigger
        const char* notReached;
    } cases[] = {
        {"erase", "AM29LV800BT", &burnixAmd, 1.0, 0x1000, false,
         [](const ServiceRecord& r) { return isText(r, "Erasing flash"); }, {}, "Finished erasing"},
        {"streaming", "SST39LF/VF160", &burnixSst, 0, 0x10000, false,
         [](const ServiceRecord& r) { return r.kind == ServiceKind::SERVICE_PROGRESS; }, {}, "burning complete"},
        // No longer than the remote program's 8192-byte ring: the unpaced
        // board takes bytes in bursts, which can hold its writing back.
        {"verification", "SST39LF/VF160", &burnixSst, 0, 0x2000, true,
         [](const ServiceRecord& r) { return isText(r, "Verifying addresses"); }, verifyCommand,
         "Verification passed"},
    };
    for (const Case& c : cases) {
        ResetEvent(cancel);
        sim::BoardOptions o = fastBoard(c.part);
        o.flashTimeScale = c.flashTime;
        if (!c.muteAfter.empty()) {
            sim::FaultRule mute;
            mute.direction = sim::FaultRule::Direction::toBoard;
            mute.kind = sim::FaultRule::Kind::mute;
            mute.offsets = {0};
            mute.after = c.muteAfter;
            o.faults.push_back(mute);
        }
        sim::Board board(o);
        const std::string image = registry.file(std::string(c.name) + ".bin");
        writeBytes(image, pattern(c.size));
        Job j = job(JobKind::burn, *c.programmer, board.portPath(), image);
        j.verify = c.verify;
        // The board stops answering by the trigger, so the run cannot get
        // past the stage before the programmer sees the event.
        bool triggered = false;
        const Outcome run = runJob(j, cancel, [&](const ServiceRecord& r, WorkerLauncher&) {
            if (!c.trigger(r)) return;
            board.setMuted(true);
            SetEvent(cancel);
            triggered = true;
        });
        EXPECT_TRUE(triggered) << c.name << ::testing::PrintToString(run.texts());
        EXPECT_EQ(run.completions(), kCancelled) << c.name << ::testing::PrintToString(run.texts());
        EXPECT_FALSE(run.hasText(c.notReached)) << c.name;
    }
}

TEST_F(Failures, CancelDuringTheDump) {
    Registry registry;
    sim::BoardOptions o = fastBoard("SST39LF/VF160");
    o.paced = true;  // the transfer must still run when the event is set
    sim::Board board(o);
    Job j = job(JobKind::dump, burnixSst, board.portPath(), registry.file("dump.bin"));
    j.dumpLength = 0x10000;
    const Outcome run = runJob(j, cancel, [&](const ServiceRecord& r, WorkerLauncher&) {
        if (r.kind == ServiceKind::SERVICE_PROGRESS) SetEvent(cancel);
    });
    // The programmer reports the cancelled transfer with its own record.
    EXPECT_TRUE(run.hasText("Dump cancelled")) << ::testing::PrintToString(run.texts());
    ASSERT_EQ(run.completions().size(), 1u);
    EXPECT_NE(run.completions().front(), pipe::E_STATUS_SUCCESS);
}

TEST_F(Failures, WorkerKilledMidBurn) {
    Registry registry;
    sim::Board board(fastBoard("SST39LF/VF160"));
    const std::string image = registry.file("image.bin");
    writeBytes(image, pattern(0x10000));
    const Outcome run = runJob(job(JobKind::burn, burnixSst, board.portPath(), image), cancel,
                               [](const ServiceRecord& r, WorkerLauncher& l) {
                                   if (r.kind == ServiceKind::SERVICE_PROGRESS) l.killWorker();
                               });
    ASSERT_FALSE(run.texts().empty());
    EXPECT_EQ(run.texts().back(), "Tordel has exited.");
    EXPECT_EQ(run.completions(), kFailure);
}
