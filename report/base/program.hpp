#pragma once

// lubench-report's name in its messages, and its exit statuses. Where several apply, the first
// of 64, 128 + signal, 1, 3, 2, 4 is the status (4: compare.hpp).
inline constexpr const char* kProgram = "lubench-report";
inline constexpr int kStatusFailedCheck = 2;
inline constexpr int kStatusUsage = 64;
inline constexpr int kStatusSystem = 1;
// The same input gave different bytes: two builds, or two copies on one machine.
inline constexpr int kStatusFingerprintsDisagree = 3;
// A measured rate outside its reference band (--expect); the same status as compare's and
// fleet's slowdown (kStatusSlowdown, compare.hpp).
inline constexpr int kStatusOutsideBand = 4;
