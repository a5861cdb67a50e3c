// The test programs' main() in the Windows build: standard output in binary
// mode, so that CTest reads gtest's test list without "\r" at the line ends.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <io.h>

int main(int argc, char** argv)
{
    ::_setmode(::_fileno(stdout), _O_BINARY);
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
