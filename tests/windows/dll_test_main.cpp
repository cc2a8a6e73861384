// The DLLs under test are named on the command line, as ctest passes them: the program does not
// assume they sit beside it.
#include <gtest/gtest.h>

#include <cstdio>

#include "windows/dll_image.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s [GoogleTest options] PATH-OF-QDIEKeystore.dll PATH-OF-QDIEProvider.dll\n",
                     argv[0]);
        return 2;
    }
    setDllPaths(argv[1], argv[2]);
    return RUN_ALL_TESTS();
}
