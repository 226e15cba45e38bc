// The host services that stand in for the host application object.
#include "cfdll_fixture.h"
#include "plat_debugout.h"

namespace {

std::vector<std::string> g_boxes;
std::vector<std::string> g_debug;

int HostBox(void *, const char *text, const char *title, unsigned style) {
    g_boxes.push_back(std::string(text) + "|" + (title ? title : "(null)") + "|" +
                      std::to_string(style));
    return PLAT_IDNO;
}

uint16_t HostPort(void *) {
    return 9;
}

TEST(HostServicesTest, OneMessageBoxForDialogsAndPromptsAndShortStructsKeepDefaults) {
    dll_WireServices();
    g_boxes.clear();
    KstrnHostServices s{};
    s.size = sizeof s;
    s.messageBox = HostBox;
    dll_SetHostServices(&s);
    // The logger bracket's question reaches the same host function as a Yes/No box.
    EXPECT_EQ(plat_AskYesNo("Do you wish to disable and re-enable loggers", "Reconfigure Loggers"),
              PLAT_PROMPT_NO);
    EXPECT_EQ(plat_MessageBox("Please enter a positive integer.", nullptr,
                              PLAT_MB_OK | PLAT_MB_ICONEXCLAMATION),
              PLAT_IDOK);
    ASSERT_EQ(g_boxes.size(), 2u);
    EXPECT_EQ(g_boxes[0], "Do you wish to disable and re-enable loggers|Reconfigure Loggers|36");
    EXPECT_EQ(g_boxes[1], "Please enter a positive integer.|(null)|48");
    EXPECT_EQ(dll_DefaultPortNumber(), 1);

    // A host that knows only the first three entries: the message box stays the default.
    s.defaultPortNumber = HostPort;
    s.size = offsetof(KstrnHostServices, runModal);
    dll_SetHostServices(&s);
    EXPECT_EQ(dll_DefaultPortNumber(), 9);
    g_boxes.clear();
    g_debug.clear();
    PlatDebugOutputHook old = plat_SetDebugOutputHook([](const char *t) { g_debug.push_back(t); });
    EXPECT_EQ(plat_AskYesNo("q", "t"), PLAT_PROMPT_YES);
    plat_SetDebugOutputHook(old);
    EXPECT_TRUE(g_boxes.empty());
    ASSERT_EQ(g_debug.size(), 1u);
    EXPECT_EQ(g_debug[0], "q");
    dll_SetHostServices(nullptr);
    EXPECT_EQ(dll_DefaultPortNumber(), 1);
}

} // namespace
