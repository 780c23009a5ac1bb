#include "lib/natural_order.h"

#include <clocale>
#include <cstdint>
#include <cwctype>
#include <locale.h>
#include <vector>

namespace {

// The name as code points, case-folded; a byte that is not valid UTF-8 stands
// for itself in the private range, so that no name is lost or merged.
std::vector<char32_t> folded(const std::string& text)
{
    static locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    std::vector<char32_t> out;
    for (size_t i = 0; i < text.size();) {
        uint8_t lead = uint8_t(text[i]);
        int length = lead < 0x80 ? 1
            : (lead >> 5) == 6   ? 2
            : (lead >> 4) == 14  ? 3
            : (lead >> 3) == 30  ? 4
                                 : 0;
        char32_t point = length == 1 ? lead
            : length == 2            ? lead & 0x1F
            : length == 3            ? lead & 0x0F
                                     : lead & 0x07;
        bool valid = length > 0 && i + size_t(length) <= text.size();
        for (int k = 1; valid && k < length; ++k) {
            uint8_t next = uint8_t(text[i + size_t(k)]);
            valid = (next >> 6) == 2;
            point = point << 6 | (next & 0x3F);
        }
        if (!valid) {
            out.push_back(0xF700 + lead);
            ++i;
            continue;
        }
        out.push_back(utf8 ? char32_t(towlower_l(wint_t(point), utf8)) : point);
        i += size_t(length);
    }
    return out;
}

bool is_digit(char32_t c)
{
    return c >= '0' && c <= '9';
}

} // namespace

bool natural_less(const std::string& a_text, const std::string& b_text)
{
    std::vector<char32_t> a = folded(a_text), b = folded(b_text);
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (is_digit(a[i]) && is_digit(b[j])) {
            // Digit runs compare as numbers: leading zeros off, then length, then digits.
            size_t i_end = i, j_end = j;
            while (i_end < a.size() && is_digit(a[i_end]))
                ++i_end;
            while (j_end < b.size() && is_digit(b[j_end]))
                ++j_end;
            size_t i0 = i, j0 = j;
            while (i0 + 1 < i_end && a[i0] == '0')
                ++i0;
            while (j0 + 1 < j_end && b[j0] == '0')
                ++j0;
            if (i_end - i0 != j_end - j0)
                return i_end - i0 < j_end - j0;
            for (; i0 < i_end; ++i0, ++j0)
                if (a[i0] != b[j0])
                    return a[i0] < b[j0];
            i = i_end, j = j_end;
        } else {
            if (a[i] != b[j])
                return a[i] < b[j];
            ++i, ++j;
        }
    }
    if (a.size() - i != b.size() - j)
        return a.size() - i < b.size() - j;
    return a_text < b_text; // equal when folded: the bytes decide, so the order is total
}
