#pragma once
// A scratch directory of the running test case's own, under the test executable's
// ORVANE_TEST_TMP: ctest runs every test case as a process of its own, side by side, so a
// folder per executable (or per process of it) would still be shared by its cases.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

// The folder of the running test case (made on first use): ORVANE_TEST_TMP/Suite.Test, with
// the '/' of parameterised names replaced. Outside a test (a suite's set-up) it is the
// executable's folder, which only one process uses at a time when the suite has one test.
inline std::string TestScratchDir()
{
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string dir = ORVANE_TEST_TMP;
    if (test != nullptr)
    {
        std::string leaf = std::string(test->test_suite_name()) + "." + test->name();
        for (char& c : leaf)
            if (c == '/')
                c = '_';
        dir += "/" + leaf;
    }
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);
    return dir;
}

// A file or folder name inside the running test case's scratch directory.
inline std::string TestScratchPath(const std::string& name)
{
    return TestScratchDir() + "/" + name;
}
