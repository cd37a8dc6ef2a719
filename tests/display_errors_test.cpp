#include "platform/win32/display_errors.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace {

TEST(DisplayErrors, KnownCodesShowTheirNames) {
    EXPECT_STREQ(displayErrorText(0x887601C2), "DDERR_SURFACELOST ");
    EXPECT_STREQ(displayErrorText(0x887601AE), "DDERR_SURFACEBUSY ");
    EXPECT_STREQ(displayErrorText(0x8876021C), "DDERR_WASSTILLDRAWING ");
    EXPECT_STREQ(displayErrorText(0x88760005), "DDERR_ALREADYINITIALIZED ");
    EXPECT_STREQ(displayErrorText(0x887602BB), "DDERR_DEVICEDOESNTOWNSURFACE");
    EXPECT_STREQ(displayErrorText(0x887602B2), "DDERR_MOREDATA");
}

TEST(DisplayErrors, GenericComCodes) {
    EXPECT_STREQ(displayErrorText(0x8007000E), "E_OUTOFMEMORY ");
    EXPECT_STREQ(displayErrorText(0x80004005), "DDERR_GENERIC ");
    EXPECT_STREQ(displayErrorText(0x80070057), "DDERR_INVALIDPARAMS ");
    EXPECT_STREQ(displayErrorText(0x80004001), "DDERR_UNSUPPORTED ");
    EXPECT_STREQ(displayErrorText(0x800401F0), "DDERR_NOTINITIALIZED ");
}

TEST(DisplayErrors, CodesOutsideTheTableAreUnknown) {
    // 0, stray values, and published codes the table leaves out.
    for (uint32_t code :
         {0x00000000u, 0x88760001u, 0x80000000u, 0x88760000u, 0xFFFFFFFFu, 0x8876021Eu, 0x88760242u,
          0x8876025Bu, 0x887602B4u, 0x887602B5u, 0x887602B6u, 0x887602B8u, 0x887602B9u}) {
        EXPECT_STREQ(displayErrorText(code), "Unknown error") << std::hex << code;
    }
}

TEST(DisplayErrors, TableShape) {
    std::set<uint32_t> codes;
    int withoutBlank = 0;
    int facility = 0;
    for (const DisplayErrorName& row : kDisplayErrorNames) {
        codes.insert(row.code);
        const std::string text = row.text;
        EXPECT_LE(text.size(), 35u) << text;
        EXPECT_TRUE(text.starts_with("DDERR_") || text == "E_OUTOFMEMORY ") << text;
        withoutBlank += text.back() != ' ';
        facility += (row.code & 0xFFFF0000u) == 0x88760000u;
        EXPECT_STREQ(displayErrorText(row.code), row.text);
    }
    EXPECT_EQ(codes.size(), kDisplayErrorNameCount);  // no code twice
    EXPECT_EQ(withoutBlank, 11);
    EXPECT_EQ(facility, 106);
}

}  // namespace
