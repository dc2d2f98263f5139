#pragma once

// Small programs that known compiler faults get wrong. Configure compiles and runs them with the
// build's own flags (and works around or refuses a compiler that fails); the test suite runs
// them again inside the real build.

// Copies of std::vector<double> built from initializer lists whose last entry is zero and whose
// other entries are equal come back unchanged. GCC 12.2's SLP vectoriser, when AVX-512 is
// enabled, folds such a list into a broadcast of its first entry: {1, 1, 1, 0} is copied as
// {1, 1, 1, 1}.
bool initializerListCopiesAreExact();
