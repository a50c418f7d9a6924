#include <gtest/gtest.h>
#include <objbase.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    // The programs' main thread is a single-threaded apartment; the tests run on it the same way.
    OleInitialize(nullptr);
    int result = RUN_ALL_TESTS();
    OleUninitialize();
    return result;
}
