// Loads arbitrary bytes as a collection file. Whatever the bytes, the reader must not crash or
// read outside the text, and whatever it kept must save to a text that loads back to itself.
#include "collection/Fendrel.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    TFendrel loaded;
    (void)loaded.LoadFromText(text);
    // Every node read is reachable, also after a failure part-way.
    const std::string saved = loaded.SaveToText();

    TFendrel reloaded;
    if (!reloaded.LoadFromText(saved) || reloaded.LastId != loaded.LastId ||
        reloaded.SaveToText() != saved)
        std::abort();
    return 0;
}
