// One libFuzzer program per target; PELLORAN_FUZZ_ENTRY names its entry function.
#include <cstddef>
#include <cstdint>
#include <span>

#include "entries.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    PELLORAN_FUZZ_ENTRY(std::span<const std::uint8_t>(data, size));
    return 0;
}
