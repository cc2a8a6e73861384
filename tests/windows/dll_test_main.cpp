// The DLL under test is named on the command line, as ctest passes it: the program does not
// assume it sits beside it.
#include <gtest/gtest.h>

#include <cstdio>

#include "windows/keystore_dll.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s [GoogleTest options] PATH-OF-QDIEKeystore.dll\n", argv[0]);
        return 2;
    }
    setKeystoreDllPath(argv[1]);
    return RUN_ALL_TESTS();
}
