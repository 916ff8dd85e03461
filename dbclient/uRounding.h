// Decimal rounding of floating-point values.
#pragma once

namespace pelvar {

// Value rounded to Decimals decimal places, halves away from zero, judged on the
// shortest decimal text of the value (so 1.005 gives 1.01 and 2.4995 gives 2 with no
// decimals). A negative Decimals rounds to tens, hundreds and so on. Zero, NaN and
// infinite values come back unchanged. Decimals above 12 raise a plain Exception
// "Rounding precision too large".
long double RoundDecimal(int Decimals, long double Value);

}  // namespace pelvar
