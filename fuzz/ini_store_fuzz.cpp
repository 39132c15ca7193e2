// The INI store over any text: parse, read every value back, write it out.
#include <string_view>

#include "settings/ini_store.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    pimo::settings::IniStore store;
    store.SetText(std::string_view(reinterpret_cast<const char*>(data), size));
    for (const std::string& section : store.ReadSections()) {
        (void)store.ReadString(section, "JPEGQuality", "");
        (void)store.ReadInteger(section, "JPEGQuality", 0);
        (void)store.ReadBool(section, "SaveInOriginalFolder", false);
    }
    (void)store.Text();
    return 0;
}
