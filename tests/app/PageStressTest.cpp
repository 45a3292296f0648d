#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "DialogAnswerer.h"
#include "SimulatedPhoneApp.h"
#include "WebWindowFixture.h"
#include "foundation/ScratchFolder.h"
#include "platform/gtk/Alert.h"
#include "shell/AppMenu.h"

using apptest::WebWindowTest;

namespace {

// One cycle of mixed use of the start page: every "Export into" entry chosen in turn, the
// sections scrolled through, the phone's details and the newest crash report asked for, and
// the quit question of the menu shown and answered "No". Resolves window.cycleDone.
constexpr const char* kCycle = R"JS(
window.cycleDone = false;
(async function () {
  const pause = ms => new Promise(done => setTimeout(done, ms));
  const frame = () => new Promise(done => requestAnimationFrame(() => done()));
  const target = document.querySelector('.media-target');
  if (target) {
    for (let i = 0; i < target.options.length; ++i) {
      target.selectedIndex = i;
      target.dispatchEvent(new Event('change', { bubbles: true }));
      await frame();
    }
  }
  for (const section of document.querySelectorAll('main > section:not([hidden])')) {
    section.scrollIntoView({ behavior: 'smooth' });
    await pause(60);
  }
  const details = Array.from(document.querySelectorAll('#devices button'))
    .find(b => b.textContent === 'Details');
  if (details) details.click();
  const crash = document.querySelector('#about [data-part="show-crash"]');
  if (crash) crash.click();
  for (let y = document.body.scrollHeight; y > 0; y -= 400) {
    window.scrollTo(0, y);
    await frame();
  }
  window.cycleDone = true;
})();
0)JS";

// Not part of the test runs: a stress of the page that counts how often the web process
// crashes. ORVANDEL_STRESS_CYCLES sets the cycles (20 when unset); run it with and without
// WEBKIT_SKIA_ENABLE_CPU_RENDERING=1 to compare the painting settings.
TEST_F(WebWindowTest, DISABLED_StressMixedPageUseCountsWebProcessCrashes) {
    const char* asked = std::getenv("ORVANDEL_STRESS_CYCLES");
    const int cycles = asked ? std::atoi(asked) : 20;
    foundationtest::ScratchFolder scratch;
    apptest::SimulatedPhoneApp app(scratch.path());
    ASSERT_TRUE(app.start());
    app.attachPhone("");
    ASSERT_TRUE(waitForValue(app.view(), "document.querySelectorAll('.media-target').length > 0",
                             "true"));
    int crashes = 0;
    g_signal_connect(app.view().view(), "web-process-terminated",
                     G_CALLBACK(+[](WebKitWebView*, WebKitWebProcessTerminationReason reason,
                                    gpointer count) {
                         if (reason == WEBKIT_WEB_PROCESS_CRASHED) ++*static_cast<int*>(count);
                     }),
                     &crashes);
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        eval(app.view(), kCycle);
        // A crash mid-cycle loads the page again, which starts with no cycle running.
        testsupport::runMainLoopUntil(
            [&] { return eval(app.view(), "window.cycleDone === true") == "true"; },
            std::chrono::seconds(30));
        if (cycle % 5 == 0) {
            apptest::DialogAnswerer no(gtk::Alert::kFirstButton);
            app.appDelegate->performMenuAction(AppMenu::kQuit);
            testsupport::runMainLoopUntil([&] { return no.answered(); }, std::chrono::seconds(10));
        }
        if (cycle % 25 == 0) std::fprintf(stderr, "STRESS progress %d cycles, %d crashes\n", cycle, crashes);
    }
    std::fprintf(stderr, "STRESS cycles=%d crashes=%d cpu-rendering=%s\n", cycles, crashes,
                 std::getenv("WEBKIT_SKIA_ENABLE_CPU_RENDERING") ? std::getenv("WEBKIT_SKIA_ENABLE_CPU_RENDERING")
                                                                   : "unset");
    g_signal_handlers_disconnect_by_data(app.view().view(), &crashes);
}

}  // namespace
