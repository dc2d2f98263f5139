#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

// Pictures drawn by gnuplot. gnuplot is started without a shell and draws to a pipe; the
// caller writes the picture where it was asked to (output_target.hpp), so no file name ever
// reaches gnuplot. A picture is built as data blocks and panels (a column of plots under one
// title); every text in it passes through gnuplotText, so that no document can add a command.

enum class PlotFormat { kSvg, kPng };

// True when gnuplot is on the PATH.
bool gnuplotAvailable();

// The format a name asks for by its extension, .svg or .png in any case; nothing for others.
std::optional<PlotFormat> plotFormatOf(const std::string& path);

// text as a gnuplot string in double quotes: printable (control bytes escaped, bad UTF-8
// replaced), backslashes and quotes escaped, backquotes (gnuplot's command substitution) written
// as escapes; shown as it is (pictures are drawn noenhanced).
std::string gnuplotText(const std::string& text);
// Lines as one gnuplot string, each made printable and escaped, broken where they meet.
std::string gnuplotLines(const std::vector<std::string>& lines);

// text cut to at most bytes (never inside a UTF-8 sequence), "..." after a cut.
std::string shortenedText(const std::string& text, std::size_t bytes);

// Panels beyond this are left out of a picture (and counted in its title), so that a document
// of thousands of combinations still draws a picture one can open.
inline constexpr int kMaxPanels = 24;

class Picture {
 public:
  // Starts a document's part: its heading (what, where, when) and the lines under it (build,
  // seed). Several documents in one picture are numbered and each named by its source (the file
  // it was read from), which one document alone does not need.
  void startDocument(std::string heading, std::vector<std::string> details, std::string source);
  // Adds a data block, whitespace-separated numbers one line per point; returns its name.
  std::string data(const std::string& lines);
  // Adds a panel: its title and the gnuplot commands that draw it (settings and one plot
  // command), given a fresh state. Beyond kMaxPanels, only counted.
  // A subtitle, when given, is a second line under the title.
  void panel(const std::string& title, const std::string& commands,
             const std::string& subtitle = "");

  int panels() const { return static_cast<int>(panels_.size()); }
  int panelsLeftOut() const { return leftOut_; }
  // The whole gnuplot script that draws the picture to standard output.
  std::string script(PlotFormat format) const;

 private:
  struct Part {
    std::string heading;
    std::vector<std::string> details;
    std::string source;
  };
  struct Panel {
    std::size_t part = 0;  // of parts_, from 1; 0 before any
    std::string title;
    std::string commands;
    std::string subtitle;
  };
  // "[2] " when the picture holds several documents, else nothing.
  std::string partNumber(std::size_t part) const;
  std::vector<Part> parts_;
  std::string data_;
  int dataBlocks_ = 0;
  std::vector<Panel> panels_;
  int leftOut_ = 0;
};

// The picture as gnuplot draws it. Nothing, after saying why on notes (name names the picture
// there), when gnuplot cannot be started or fails.
std::optional<std::string> renderPicture(PlotFormat format, const Picture& picture,
                                         const std::string& name, std::FILE* notes);
