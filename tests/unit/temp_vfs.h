// Shared fixture for unit tests that touch files: a fresh temporary
// directory that is both the PhysFS write directory and its search path
// (with an empty "logs" folder), made once per test program.
#pragma once

#include <gtest/gtest.h>
#include <physfs.h>
#include <stdlib.h>

#include <SDL.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

inline std::string temp_root;

class TempVfsEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        char tmpl[] = "/tmp/mf_test_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        temp_root = tmpl;
        std::filesystem::create_directories(temp_root + "/logs");
        ASSERT_EQ(SDL_Init(0), 0) << SDL_GetError();
        ASSERT_TRUE(PHYSFS_init(nullptr));
        ASSERT_TRUE(PHYSFS_setWriteDir(temp_root.c_str()));
        ASSERT_TRUE(PHYSFS_mount(temp_root.c_str(), nullptr, 1));
    }
    void TearDown() override
    {
        PHYSFS_deinit();
        SDL_Quit();
        std::filesystem::remove_all(temp_root);
    }
};

inline const auto *temp_vfs_env = ::testing::AddGlobalTestEnvironment(new TempVfsEnvironment);

// Whole contents of a real file ("" when missing).
inline std::string read_real(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}
