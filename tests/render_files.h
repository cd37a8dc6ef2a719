// What the renderer's tests read back from disk, and a fresh folder per test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "core/demo_types.h"

std::string readFile(const std::filesystem::path& path);

// A PNG's pixels as 0x00RRGGBB words and its size; empty when it does not
// decode.
std::vector<Pixel> readPng(const std::filesystem::path& path, uint32_t* width, uint32_t* height);

// Names of unfinished outputs ("NAME.partial-XXXXXX.EXT") anywhere under
// folder.
std::vector<std::string> partialFilesUnder(const std::filesystem::path& folder);

// Each test gets an empty folder of its own, `dir`, removed afterwards.
class TestFolder : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    std::filesystem::path dir;
};
