// Shared by the installer's end-to-end test files: one message box of the installer as
// the user sees it, compared whole.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/installer_fixtures.h"

inline void expectBox(const inst::Box& box, const std::string& caption, const std::string& text, UINT icon,
               const std::vector<int>& buttons, HWND owner)
{
    ASSERT_NE(box.window, nullptr) << "no message box came";
    EXPECT_EQ(box.caption, caption);
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.icon, icon);
    EXPECT_EQ(box.buttons, buttons);
    EXPECT_EQ(box.owner, owner);
}
