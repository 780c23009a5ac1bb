#include "natural_order.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

bool natural_less(const std::string& a, const std::string& b)
{
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(uint8_t(a[i])) && std::isdigit(uint8_t(b[j]))) {
            size_t i_end = a.find_first_not_of("0123456789", i), j_end = b.find_first_not_of("0123456789", j);
            std::string x = a.substr(i, i_end - i), y = b.substr(j, j_end - j);
            x.erase(0, std::min(x.find_first_not_of('0'), x.size()));
            y.erase(0, std::min(y.find_first_not_of('0'), y.size()));
            if (x.size() != y.size())
                return x.size() < y.size();
            if (x != y)
                return x < y;
            i = i_end == std::string::npos ? a.size() : i_end;
            j = j_end == std::string::npos ? b.size() : j_end;
        } else {
            if (a[i] != b[j])
                return a[i] < b[j];
            ++i, ++j;
        }
    }
    return a.size() - i < b.size() - j || (a.size() - i == b.size() - j && a < b);
}
