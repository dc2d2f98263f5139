#pragma once

#include <string>
#include <vector>

// --format and --out as compare, ab and fleet take them: --format names what standard output
// shows, and each --out (repeatable) writes a file in the format its name asks for.

namespace CLI {
class App;
class Option;
}  // namespace CLI

// The formats compare, ab and fleet write, by their canonical names.
std::vector<std::string> reportFormats();

// Adds --format to app, kept in format as its canonical name ("table" is taken for "text");
// what says what the formats show ("the comparison").
CLI::Option* addFormatOption(CLI::App& app, std::string& format, const std::string& what);

// Adds the repeatable --out to app, each given name kept in paths; what says what a JSON out
// holds ("the comparison's JSON document"), beside ends the help ("never OLD or NEW").
CLI::Option* addOutOption(CLI::App& app, std::vector<std::string>& paths, const std::string& what,
                          const std::string& beside);
