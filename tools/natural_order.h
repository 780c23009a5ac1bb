#pragma once

#include <string>

// "frame2.png" before "frame10.png": digit runs compare as numbers.
bool natural_less(const std::string& a, const std::string& b);
