// The framework's basic types as the system uses them.
#pragma once

#include <cstdint>
#include <string>

namespace pelvar {

// Text in the process's ANSI code page, Windows-1250.
using AnsiString = std::string;
// Wide text, UTF-16.
using WideString = std::u16string;
// Days since 1899-12-30; the fraction is the time of day.
using TDateTime = double;

}  // namespace pelvar
