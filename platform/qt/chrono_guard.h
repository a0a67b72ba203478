// Included first in every translation unit that sees Qt.
//
// Qt's headers include <chrono>, whose C++20 part spells the micro sign of
// "µs" as a narrow literal. Our targets compile narrow literals to CP932,
// which has no micro sign, so that header cannot be compiled here. The
// durations, clocks and time points Qt uses live in <bits/chrono.h>; we take
// that and mark <chrono> as already included, leaving out only its calendar
// and formatting part, which neither Qt (it tests __cpp_lib_chrono) nor we use.
#pragma once

#include <bits/chrono.h>
#ifndef _GLIBCXX_CHRONO
#define _GLIBCXX_CHRONO 1
#endif
