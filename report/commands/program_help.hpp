#pragma once

#include <string>

// The texts that tell a user what lubench-report holds beyond its own options: the subcommands,
// listed under the main help, and what --version prints.

// "Subcommands (each with its own --help):" and one line for each of compare, ab, export and
// fleet, for the end of the main help.
std::string subcommandsText();

// The program's version, the commit it was built from (with "modified" for uncommitted changes),
// its compiler, and the vector paths it holds, each with its kernels and whether this CPU runs
// it; one item a line, ending in a newline.
std::string versionText();
