// The wide digit class as the Windows runtime has it. Its Latin-1 table marks
// the superscripts one, two and three as digits; above U+00FF it asks the
// system's character-type data.
#include "runtime/runtime.h"

#include <windows.h>

int rt_iswdigit(rt_wint unit) {
    if (unit <= 0xFF) return (unit >= L'0' && unit <= L'9') || unit == 0xB2 || unit == 0xB3 || unit == 0xB9;
    WCHAR text = static_cast<WCHAR>(unit);
    WORD type = 0;
    if (!GetStringTypeW(CT_CTYPE1, &text, 1, &type)) return 0;
    return (type & C1_DIGIT) != 0;
}
