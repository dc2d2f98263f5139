#pragma once

#include "copies.hpp"

// The whole of lubench-report, for main and for the test executable that hands its copies a
// hook (copies.hpp). Returns the exit status.
int reportMain(int argc, char** argv, const CopyResultHook& copyHook);
