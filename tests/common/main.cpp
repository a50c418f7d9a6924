#include "Startup.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    TFoundation foundation;
    return RUN_ALL_TESTS();
}
