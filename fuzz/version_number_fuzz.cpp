// The version text of the update check's answer.
#include <string_view>

#include "update/version_number.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pimo::update;
    const auto version =
        ParseVersionNumber(std::string_view(reinterpret_cast<const char*>(data), size));
    if (version) (void)IsNewerVersion(*version, VersionNumber{0, 5, 0, 0});
    return 0;
}
