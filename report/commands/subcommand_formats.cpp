#include "subcommand_formats.hpp"

#include <CLI/CLI.hpp>

#include "output_format.hpp"

std::vector<std::string> reportFormats() { return {"text", "md", "json"}; }

CLI::Option* addFormatOption(CLI::App& app, std::string& format, const std::string& what) {
  const std::vector<std::string> formats = reportFormats();
  return app
      .add_option("--format", format,
                  "how standard output shows " + what + ": " + formatNames(formats) +
                      " (text: the table a person reads, also spelled table; md: Markdown; "
                      "json: the JSON document)")
      ->transform(CLI::Validator(
          [formats](std::string& text) -> std::string {
            const std::optional<std::string> name = canonicalFormat(text, formats);
            if (!name) return "not " + formatNames(formats) + " (or table, for text)";
            text = *name;
            return "";
          },
          "FORMAT"))
      ->type_name("FORMAT")
      ->capture_default_str();
}

CLI::Option* addOutOption(CLI::App& app, std::vector<std::string>& paths, const std::string& what,
                          const std::string& beside) {
  return app
      .add_option("--out", paths,
                  "also write to FILE, while standard output shows --format; repeatable, one "
                  "run writing several: a name ending .md gets Markdown, any other name " +
                      what +
                      " (.csv is refused). Each under a temporary name beside it until "
                      "complete; a device or FIFO once, at the end; {host} and {rank} as in "
                      "the main command's --out; two --out naming one file are refused; " +
                      beside)
      ->allow_extra_args(false)
      ->type_name("FILE");
}
