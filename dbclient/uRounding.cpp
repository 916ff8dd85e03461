#include "dbclient/uRounding.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/exceptions.h"

namespace pelvar {

namespace {

// The shortest scientific text ("d.ddde±x", perhaps with trailing zeros) that reads
// back as the same value. A value that is exactly a double is judged at double
// precision: that is the value the user typed or stored, not its binary neighbour.
// Every decimal of up to 15 (double) or 18 (long double) significant digits survives
// the trip through the binary value, so the search starts there.
std::string ShortestText(long double value) {
  const bool is_double = static_cast<long double>(static_cast<double>(value)) == value;
  char buf[64];
  for (int digits = is_double ? 15 : 18; digits <= 21; ++digits) {
    if (is_double) {
      std::snprintf(buf, sizeof buf, "%.*e", digits - 1, static_cast<double>(value));
      if (std::strtod(buf, nullptr) == static_cast<double>(value)) {
        return buf;
      }
    } else {
      std::snprintf(buf, sizeof buf, "%.*Le", digits - 1, value);
      if (std::strtold(buf, nullptr) == value) {
        return buf;
      }
    }
  }
  std::snprintf(buf, sizeof buf, "%.20Le", value);
  return buf;
}

}  // namespace

long double RoundDecimal(int Decimals, long double Value) {
  if (Decimals > 12) {
    throw Exception("Rounding precision too large");
  }
  if (Value == 0 || std::isnan(Value) || std::isinf(Value)) {
    return Value;
  }
  const bool negative = Value < 0;
  const std::string text = ShortestText(std::fabs(Value));
  // Split "d.ddde±x" into its digits and the power of ten of the first digit.
  const size_t e = text.find('e');
  std::string digits;
  for (size_t i = 0; i < e; ++i) {
    if (text[i] != '.') {
      digits += text[i];
    }
  }
  const int exponent = std::atoi(text.c_str() + e + 1);
  // How many leading digits stay.
  const long keep = static_cast<long>(exponent) + 1 + Decimals;
  if (keep >= static_cast<long>(digits.size())) {
    return Value;  // no digit beyond the wanted decimals
  }
  std::string kept = keep > 0 ? digits.substr(0, keep) : std::string();
  int power = exponent + 1 - static_cast<int>(kept.size());  // of the last kept digit
  const bool up = keep >= 0 && digits[keep] >= '5';
  if (kept.empty()) {
    kept = "0";
    power = -Decimals;
  }
  if (up) {
    // Add one to the last kept digit, carrying to the left.
    int i = static_cast<int>(kept.size()) - 1;
    while (i >= 0 && kept[i] == '9') {
      kept[i] = '0';
      --i;
    }
    if (i >= 0) {
      ++kept[i];
    } else {
      kept.insert(kept.begin(), '1');
    }
  }
  const std::string result = kept + "e" + std::to_string(power);
  // A double comes back as the double nearest to the rounded decimal.
  const bool is_double = static_cast<long double>(static_cast<double>(Value)) == Value;
  const long double rounded = is_double ? std::strtod(result.c_str(), nullptr)
                                        : std::strtold(result.c_str(), nullptr);
  return negative ? -rounded : rounded;
}

}  // namespace pelvar
