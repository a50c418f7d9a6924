#include "Startup.h"

#include <gtest/gtest.h>
#include <objbase.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    OleInitialize(nullptr);
    int result;
    {
        TFoundation foundation;
        result = RUN_ALL_TESTS();
    }
    OleUninitialize();
    return result;
}
