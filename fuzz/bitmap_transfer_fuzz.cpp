// What a decoder process hands back, as the parent reads it: a process whose
// memory the library damaged may write anything.
#include "engine/imagelib/bitmap_transfer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pimo::imagelib;
    bool overBudget = false;
    (void)ReadTransfer(std::span<const std::uint8_t>(data, size), DecodeBudget{64u << 20, 1},
                       overBudget);
    return 0;
}
