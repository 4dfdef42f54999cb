#include <gtest/gtest.h>

#include <string>

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

// The shipped programs' icons are stored as PNG images to keep the files small; the
// system must still make both sizes of 32-bit icon of them.
TEST(ShippedIcons, BothSizesLoadAsThirtyTwoBitImages)
{
    for (const char* program : {"Wickerbay.exe", "__uninst.exe", "vmkick.exe"}) {
        std::string path = std::string(WB_DIST_DIR) + "\\" + program;
        HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module, nullptr) << path;
        HRSRC image = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(3));  // RT_ICON
        ASSERT_NE(image, nullptr) << program;
        const unsigned char* bytes = static_cast<const unsigned char*>(LockResource(LoadResource(module, image)));
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), 4), "\x89PNG") << program;
        for (int size : {32, 48}) {
            HICON icon = static_cast<HICON>(LoadImageA(module, "A", IMAGE_ICON, size, size, 0));
            ASSERT_NE(icon, nullptr) << program << " " << size;
            ICONINFO info{};
            ASSERT_TRUE(GetIconInfo(icon, &info));
            BITMAP colour{};
            ASSERT_NE(GetObjectA(info.hbmColor, sizeof colour, &colour), 0);
            EXPECT_EQ(colour.bmWidth, size) << program;
            EXPECT_EQ(colour.bmHeight, size) << program;
            EXPECT_EQ(colour.bmBitsPixel, 32) << program;
            DeleteObject(info.hbmColor);
            DeleteObject(info.hbmMask);
            DestroyIcon(icon);
        }
        FreeLibrary(module);
    }
}
