// SelkanBoot through the component runtime against a scripted ROM.
#include <gtest/gtest.h>

#include "boot_client.h"
#include "fake_rom.h"
#include "ombra/platform/clock.h"
#include "ombra/platform/com.h"
#include "ombra/platform/module.h"

namespace ombra::selkanboot::test {
namespace {

const std::string kError7 = "SelkanBoot: ERROR 7 : Timeout expired";
const std::string kCancelling = "SelkanBoot: cancelling operation...";

TEST(SelkanBootObject, ServesItsInterfacesOnly)
{
    BootClient c;
    EXPECT_EQ(c.boot->GetVersion(), 0x38u);
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(c.boot->QueryInterface(IID_IClassFactory, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    IUnknown* unknown = nullptr;
    ASSERT_EQ(c.boot->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_EQ(unknown->Release(), 1u);
}

TEST(SelkanBootObject, LockKeepsModuleLoaded)
{
    setUpRuntime();
    std::string error;
    platform::Module* module = platform::loadModule(componentPath().c_str(), error);
    ASSERT_NE(module, nullptr) << error;
    auto canUnload = reinterpret_cast<DllCanUnloadNowFn>(platform::findSymbol(module, "DllCanUnloadNow"));
    ASSERT_NE(canUnload, nullptr);

    IClassFactory* factory = nullptr;
    ASSERT_EQ(CoGetClassObject(CLSID_SelkanBoot, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void**>(&factory)),
              S_OK);
    EXPECT_EQ(canUnload(), S_OK);
    factory->LockServer(TRUE);
    factory->Release();
    EXPECT_EQ(canUnload(), S_FALSE);
    {
        BootClient c;
        EXPECT_EQ(canUnload(), S_FALSE);
    }
    factory = nullptr;
    ASSERT_EQ(CoGetClassObject(CLSID_SelkanBoot, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void**>(&factory)),
              S_OK);
    factory->LockServer(FALSE);
    IUnknown* outer = reinterpret_cast<IUnknown*>(factory);
    void* object = nullptr;
    EXPECT_EQ(factory->CreateInstance(outer, IID_ISelkanBoot, &object), CLASS_E_NOAGGREGATION);
    factory->Release();
    EXPECT_EQ(canUnload(), S_OK);
}

TEST(SelkanBootUpload, LoadsAndStartsAProgram)
{
    FakeRom rom({});
    BootClient c;
    std::vector<std::uint8_t> image = testImage(4096);
    c.prepare(rom.path(), 115200, image);
    ASSERT_EQ(c.upload(), 1u);

    std::vector<std::string> texts;
    for (const Message& m : c.messages())
        texts.push_back(std::to_string(m.code) + " " + m.text);
    std::vector<std::string> expected = {
        "1 SelkanBoot: Waiting for ping",     "1 SelkanBoot: ping received",
        "1 SelkanBoot: querying ROM version", "1 SelkanBoot: ROM version is 64.2",
        "1 SelkanBoot: sending cbus table",   "1 SelkanBoot: uploading",
        "1 SelkanBoot: upload complete",      "5 ",
    };
    EXPECT_EQ(texts, expected);
    FakeRom::Seen seen = rom.seen();
    EXPECT_EQ(seen.cbusTable, defaultCBusTable());
    EXPECT_EQ(seen.divisor, 36);
    EXPECT_EQ(seen.loadAddress, 0x00300000u);
    EXPECT_EQ(seen.image, image);

    ASSERT_EQ(c.execute(), 1u);
    EXPECT_EQ(rom.seen().executed, 0x00300000u);
    EXPECT_TRUE(c.errors().empty());
}

TEST(SelkanBootUpload, MessageLevelFiltersInformationOnly)
{
    FakeRom rom({});
    BootClient c;
    c.prepare(rom.path(), 57600, testImage(16));
    c.boot->SetDebugLevel(1);
    // Without a cancel event nothing is ever cancelled.
    c.boot->SetTerminationFlag(INVALID_HANDLE_VALUE);
    ASSERT_EQ(c.upload(), 1u);
    std::vector<Message> m = c.messages();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].text, "SelkanBoot: Waiting for ping");
    EXPECT_EQ(m[1].code, BOOT_MSG_DONE);
    EXPECT_EQ(rom.seen().divisor, 73);
}

TEST(SelkanBootUpload, NullCallbackRunsSilently)
{
    FakeRom rom({});
    BootClient c;
    c.prepare(rom.path(), 115200, testImage(64));
    c.boot->SetCallbackFn(nullptr, nullptr);
    EXPECT_EQ(c.upload(), 1u);
    c.boot->SetCommDeviceName("/dev/ombra-no-such-port");
    EXPECT_EQ(c.upload(), 0u);
    EXPECT_TRUE(c.messages().empty());
}

TEST(SelkanBootUpload, VersionAnsweredAtSecondAttempt)
{
    FakeRomScript script;
    script.versionDeafMs = 5150;
    FakeRom rom(script);
    BootClient c;
    c.prepare(rom.path(), 115200, testImage(32));
    EXPECT_EQ(c.upload(), 1u);
    EXPECT_EQ(c.errors(), std::vector<std::string>{kError7});
    EXPECT_TRUE(c.done());
}

TEST(SelkanBootUpload, VersionReplyOfAnotherTypeIsAskedAgain)
{
    FakeRomScript script;
    script.versionOfOtherTypeFirst = true;
    FakeRom rom(script);
    BootClient c;
    c.prepare(rom.path(), 115200, testImage(32));
    EXPECT_EQ(c.upload(), 1u);
    EXPECT_TRUE(c.errors().empty());
    EXPECT_GE(rom.seen().versionQueries, 2);
}

TEST(SelkanBootUpload, ZeroBaudRateFailsAfterTheTable)
{
    FakeRom rom({});
    BootClient c;
    c.prepare(rom.path(), 0, testImage(32));
    EXPECT_EQ(c.upload(), 0u);
    EXPECT_EQ(c.errors(), std::vector<std::string>{"SelkanBoot: ERROR 1 (l1036): Cannot open port"});
    EXPECT_EQ(rom.seen().cbusTable, defaultCBusTable());
    EXPECT_FALSE(c.done());
}

TEST(SelkanBootUpload, MissingDeviceFailsAtOpen)
{
    BootClient c;
    c.prepare("/dev/ombra-no-such-port", 115200, testImage(32));
    EXPECT_EQ(c.upload(), 0u);
    EXPECT_EQ(c.errors(), std::vector<std::string>{"SelkanBoot: ERROR 1 (l924): Cannot open port"});
    EXPECT_NE(readTrace().find("System error 2,line 1579"), std::string::npos);
    EXPECT_EQ(c.execute(), 0u);
    EXPECT_EQ(c.errors().back(), "SelkanBoot: ERROR 1 (l291): Cannot open port");
}

TEST(SelkanBootUpload, OversizedImageIsRefused)
{
    // 65,532 bytes and up do not fit the load frame's 16-bit length.
    FakeRom rom({});
    BootClient c;
    c.prepare(rom.path(), 115200, testImage(65532));
    EXPECT_EQ(c.upload(), 0u);
    EXPECT_EQ(c.errors(), std::vector<std::string>{"SelkanBoot: ERROR 1 (l1067): Cannot open port"});
    EXPECT_EQ(rom.seen().loads, 0);
}

TEST(SelkanBootCancel, DuringPingPhase)
{
    FakeRomScript script;
    script.silent = true;
    FakeRom rom(script);
    BootClient c;
    c.prepare(rom.path(), 115200, testImage(32));
    c.cancelOn("SelkanBoot: Waiting for ping");
    EXPECT_EQ(c.upload(10000), 0u);
    EXPECT_TRUE(c.errors().empty());
    EXPECT_TRUE(c.sawText(kCancelling));
}

TEST(SelkanBootCancel, UploadWithoutThreadHandleOutlivesRelease)
{
    FakeRom rom({});
    auto c = std::make_unique<BootClient>();
    c->prepare(rom.path(), 115200, testImage(32));
    c->boot->SetCallbackFn(nullptr, nullptr);
    ASSERT_EQ(c->boot->Upload(nullptr), S_OK);
    // The client lets go at once; the thread keeps the object alive.
    c.reset();
    // The limit is generous for a loaded machine; the upload takes well
    // under a second.
    const DWORD start = GetTickCount();
    while (rom.seen().loads == 0 && GetTickCount() - start < 20000)
        Sleep(10);
    EXPECT_EQ(rom.seen().loads, 1);
    // The thread lets go of the object last, once its port is closed: only
    // then may the ROM go.
    std::string error;
    platform::Module* module = platform::loadModule(componentPath().c_str(), error);
    ASSERT_NE(module, nullptr) << error;
    auto canUnload = reinterpret_cast<DllCanUnloadNowFn>(platform::findSymbol(module, "DllCanUnloadNow"));
    ASSERT_NE(canUnload, nullptr);
    while (canUnload() != S_OK && GetTickCount() - start < 20000)
        Sleep(10);
    EXPECT_EQ(canUnload(), S_OK);
}

}  // namespace
}  // namespace ombra::selkanboot::test
