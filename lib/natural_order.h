#pragma once

#include <string>

// The order a person expects for file names: by Unicode code point after case
// folding, with digit runs compared as numbers ("frame2" before "frame10",
// "b" after "A", "é" after "e" and after "9"); names that differ only in case
// are then ordered by their bytes.
bool natural_less(const std::string& a, const std::string& b);
