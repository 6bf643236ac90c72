#include "platform/CaseFolding.h"

#include <unicode/uchar.h>

char32_t SimpleCaseFold(char32_t c)
{
    return static_cast<char32_t>(u_foldCase(static_cast<UChar32>(c), U_FOLD_CASE_DEFAULT));
}
