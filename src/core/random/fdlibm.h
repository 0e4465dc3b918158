// The natural logarithm and exponential used by the random source's draws, written
// after the fdlibm algorithms so that every platform produces the same bits.
#pragma once

namespace korvane {

// Natural logarithm after fdlibm's e_log.c (error below 1 ulp). log(+-0) is
// -infinity, log of a negative number or NaN is NaN, log(+infinity) is +infinity.
// Subnormal arguments are handled. Never calls the platform math library.
double fdlibm_log(double x);

// Exponential after fdlibm's e_exp.c (error below 1 ulp). exp(NaN) is NaN,
// exp(+infinity) is +infinity, exp(-infinity) is 0; arguments above ~709.78 overflow
// to +infinity and below ~-745.13 underflow to 0; results in between that fall below
// the normal range are subnormal. Never calls the platform math library.
double fdlibm_exp(double x);

}  // namespace korvane
