// CenterWindow against windows of known size and place (needs a display under Wine).
#include <windows.h>

#include "gtest/gtest.h"
#include "window_utils.h"

namespace {

class CenterWindowTest : public ::testing::Test {
protected:
    HWND reference = NULL;
    HWND window = NULL;

    HWND MakeWindow(int left, int top, int width, int height) {
        HWND made = CreateWindowExA(0, "STATIC", "", WS_POPUP, left, top, width, height, NULL,
                                    NULL, GetModuleHandleA(NULL), NULL);
        EXPECT_NE(nullptr, made);
        return made;
    }
    void TearDown() override {
        if (window) DestroyWindow(window);
        if (reference) DestroyWindow(reference);
    }
    RECT Place() {
        RECT r = {0, 0, 0, 0};
        GetWindowRect(window, &r);
        return r;
    }
};

#define EXPECT_RECT(l, t, r, b, rect)        \
    do {                                     \
        EXPECT_EQ(l, (rect).left);           \
        EXPECT_EQ(t, (rect).top);            \
        EXPECT_EQ(r, (rect).right);          \
        EXPECT_EQ(b, (rect).bottom);         \
    } while (0)

TEST_F(CenterWindowTest, CentresOverTheReferenceDroppingRemainders) {
    reference = MakeWindow(100, 50, 500, 300);
    window = MakeWindow(0, 0, 201, 101);
    ASSERT_NE(0, CenterWindow(window, reference));
    // (500 - 201) / 2 = 149, (300 - 101) / 2 = 99; the size is kept.
    EXPECT_RECT(249, 149, 450, 250, Place());
}

TEST_F(CenterWindowTest, SameSizeLandsOnTheReferenceCorner) {
    reference = MakeWindow(30, 40, 320, 200);
    window = MakeWindow(500, 400, 320, 200);
    ASSERT_NE(0, CenterWindow(window, reference));
    EXPECT_RECT(30, 40, 350, 240, Place());
}

TEST_F(CenterWindowTest, LargerWindowKeepsItsCornerOnTheReference) {
    reference = MakeWindow(200, 150, 100, 100);
    window = MakeWindow(0, 0, 300, 60);  // wider, but lower
    ASSERT_NE(0, CenterWindow(window, reference));
    EXPECT_RECT(200, 170, 500, 230, Place());

    DestroyWindow(window);
    window = MakeWindow(0, 0, 41, 301);  // narrower, but taller
    ASSERT_NE(0, CenterWindow(window, reference));
    EXPECT_RECT(229, 150, 270, 451, Place());
}

TEST_F(CenterWindowTest, NullReferenceMeansTheDesktop) {
    RECT desktop;
    ASSERT_TRUE(GetWindowRect(GetDesktopWindow(), &desktop));
    window = MakeWindow(0, 0, 301, 199);
    ASSERT_NE(0, CenterWindow(window, NULL));
    int left = desktop.left + (desktop.right - desktop.left - 301) / 2;
    int top = desktop.top + (desktop.bottom - desktop.top - 199) / 2;
    EXPECT_RECT(left, top, left + 301, top + 199, Place());
}

TEST_F(CenterWindowTest, FailsForAWindowThatIsGone) {
    reference = MakeWindow(0, 0, 100, 100);
    HWND gone = MakeWindow(0, 0, 10, 10);
    DestroyWindow(gone);
    EXPECT_EQ(0, CenterWindow(gone, reference));
    window = MakeWindow(5, 6, 10, 10);
    EXPECT_EQ(0, CenterWindow(window, gone));
    EXPECT_RECT(5, 6, 15, 16, Place());
}

}  // namespace
