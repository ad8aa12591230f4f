// Placeholder until the reader's fuzz body lands.

#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    (void)data;
    (void)size;
    return 0;
}
