// Pictures of every page, written into the build folder (a real window
// under Xvfb when the test runs there, else offscreen): looked at by eye.
#include <gtest/gtest.h>

#include <QImage>
#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QTextEdit>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include "pages.h"
#include "wizard_rig.h"

namespace ombra::installtest {
namespace {

TEST(Screenshots, EveryPage)
{
    const char* folder = std::getenv("OMBRA_SCREENSHOT_DIR");
    ASSERT_NE(folder, nullptr);
    fs::create_directories(folder);
    Scratch scratch;
    install::MemoryPayload payload = standInPayload();
    std::mutex lock;
    std::condition_variable wake;
    bool release = false;
    std::atomic<int> pauses{0};
    install::InstallEnvironment env = testEnvironment(scratch, payload);
    // Held halfway through the files, for a picture of the work under way.
    env.pause = [&](DWORD) {
        if (++pauses != 12) return;
        std::unique_lock<std::mutex> guard(lock);
        wake.wait(guard, [&] { return release; });
    };
    WizardRig rig(env);
    auto shoot = [&](const char* name) {
        QCoreApplication::processEvents();
        QPixmap picture = rig.sheet().grab();
        const std::string path = std::string(folder) + "/install-" + name + ".png";
        ASSERT_TRUE(picture.save(QString::fromStdString(path))) << path;
        QImage image = picture.toImage();
        EXPECT_GT(image.width(), 400) << name;
        EXPECT_GT(image.height(), 300) << name;
    };
    shoot("1-welcome");
    rig.click(QWizard::NextButton);
    shoot("2-destination");
    rig.click(QWizard::NextButton);
    shoot("3-components");
    rig.click(QWizard::NextButton);
    shoot("4-summary");
    rig.click(QWizard::NextButton);
    ASSERT_TRUE(waitFor([&] { return pauses.load() >= 12; }, 10000));
    waitFor([] { return false; }, 200);
    shoot("5-installing");
    {
        std::lock_guard<std::mutex> guard(lock);
        release = true;
    }
    wake.notify_all();
    ASSERT_TRUE(waitFor([&] { return rig.sheet().finished(); }, 20000));
    shoot("6-finished");
}

}  // namespace
}  // namespace ombra::installtest
