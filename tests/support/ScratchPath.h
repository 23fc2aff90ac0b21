#pragma once
// A scratch directory of the running test's own under ORVANE_TEST_TMP, so that tests run in
// parallel (ctest -j runs every test case as its own process) never share a file.

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>

inline std::string TestScratchPath(const std::string& name)
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
        mkdir(dir.c_str(), 0755);
    }
    return dir + "/" + name;
}
