#include <gtest/gtest.h>

#include "tests/support/ui_driver.h"

TEST(GuiSmoke, DriverFindsWindowAndAnswersMessageBox)
{
    ui::Process app;
    ASSERT_TRUE(ui::startProcess(WB_BINARY_DIR "\\tests\\support\\" SMOKE_APP, "", app));

    HWND window = ui::waitForWindow(app.pid, "SmokeWin", "Smoke");
    ASSERT_NE(window, nullptr);
    HWND box = ui::waitForMessageBox(app.pid);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(ui::windowText(box), "Smoke box");
    EXPECT_EQ(ui::messageBoxText(box), "Smoke test: press OK");
    EXPECT_EQ(ui::messageBoxIcon(box), static_cast<UINT>(MB_ICONINFORMATION));
    EXPECT_EQ(ui::messageBoxButtons(box), (std::vector<int>{IDOK, IDCANCEL}));
    EXPECT_EQ(ui::owner(box), window);
    EXPECT_TRUE(ui::saveScreenshot("smoke-message-box"));

    ui::answerMessageBox(box, IDOK);
    EXPECT_EQ(ui::waitExit(app), 7u);
    ui::closeProcess(app);
}
