// Option-value parsers and number formatting shared by segmix-prep and
// segmix-simulate. Everything goes through std::from_chars / std::to_chars:
// locale-free, exact, and the same text on every standard library.
#include "cli/command_line.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <cmath>
#include <limits>
#include <ostream>
#include <system_error>

namespace segmix::cli {
namespace {

std::string Quoted(std::string_view text) {
  std::string quoted(1, '"');
  quoted += text;
  quoted += '"';
  return quoted;
}

}  // namespace

void PrepareCommandLine(CLI::App& app) {
  app.set_help_flag();
  app.allow_extras();
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

void ParseCommandLine(CLI::App& app, const std::vector<std::string>& args,
                      std::string_view program, std::string_view unknown) {
  // CLI11 consumes its argument vector from the back.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ExcludesError& error) {
    // CLI11: "A excludes B".
    const std::string text = error.what();
    const std::size_t at = text.find(" excludes ");
    throw UsageError(at == std::string::npos
                         ? text + "."
                         : "give either " + text.substr(0, at) + " or " +
                               text.substr(at + 10) + ", not both.");
  } catch (const CLI::ValidationError& error) {
    // CLI11: "<option>: <what the validator says>"; Needing's text reads on
    // from the option's name.
    std::string text = error.what();
    const std::size_t at = text.find(": ");
    if (at != std::string::npos) text.replace(at, 2, " ");
    throw UsageError(text);
  } catch (const CLI::ParseError& error) {
    // The only errors the programs' option sets can raise: an option at the
    // end of the line without its value, or a value given to a flag.
    std::string text = error.what();
    for (const std::string& arg : args) {
      const std::string name = arg.substr(0, arg.find('='));
      if (name.starts_with("-") && text.find(name) != std::string::npos) {
        text = name + (arg.find('=') == std::string::npos ? " needs a value."
                                                          : " takes no value.");
        break;
      }
    }
    throw UsageError(text);
  }
  const std::vector<std::string> extras = app.remaining();
  if (!extras.empty()) {
    throw UsageError("unknown " + std::string(unknown) + " " + extras.front() +
                     "; see " + std::string(program) + " --help.");
  }
}

CLI::Validator Needing(CLI::Validator check, std::string what) {
  return CLI::Validator(
      [check, what](std::string& text) {
        std::string copy = text;
        return check(copy).empty()
                   ? std::string()
                   : "needs " + what + ", not " + Quoted(text) + ".";
      },
      what);
}

double ParseRealOption(std::string_view option, std::string_view text) {
  double value = 0;
  std::string_view digits = text;
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  const auto [end, error] =
      std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (digits.empty() || error != std::errc() ||
      end != digits.data() + digits.size() || !std::isfinite(value)) {
    throw UsageError(std::string(option) + " needs a finite number, not " +
                     Quoted(text) + ".");
  }
  return value;
}

std::int64_t ParseIntegerOption(std::string_view option, std::string_view text,
                                std::int64_t low, std::int64_t high) {
  std::int64_t value = 0;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() ||
      end != text.data() + text.size() || value < low || value > high) {
    throw UsageError(std::string(option) + " needs a whole number from " +
                     std::to_string(low) + " to " + std::to_string(high) +
                     ", not " + Quoted(text) + ".");
  }
  return value;
}

std::uint64_t ParseSeedOption(std::string_view option, std::string_view text) {
  std::uint64_t value = 0;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() ||
      end != text.data() + text.size()) {
    throw UsageError(std::string(option) + " needs a whole number from 0 to " +
                     std::to_string(std::numeric_limits<std::uint64_t>::max()) +
                     ", not " + Quoted(text) + ".");
  }
  return value;
}

double ParseProbabilityOption(std::string_view option, std::string_view text) {
  const double value = ParseRealOption(option, text);
  if (value < 0 || value > 1) {
    throw UsageError(std::string(option) +
                     " needs a probability from 0 to 1, not " + Quoted(text) +
                     ".");
  }
  return value;
}

std::vector<std::string> SplitList(std::string_view text, char separator) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find(separator, start);
    std::string_view piece = text.substr(start, end == std::string_view::npos
                                                    ? std::string_view::npos
                                                    : end - start);
    const std::size_t first = piece.find_first_not_of(" \t");
    const std::size_t last = piece.find_last_not_of(" \t");
    pieces.emplace_back(first == std::string_view::npos
                            ? std::string_view{}
                            : piece.substr(first, last - first + 1));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return pieces;
}

std::string LowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

int FinishStandardOutput(std::ostream& out, std::ostream& err,
                         std::string_view program, std::string_view lost,
                         int status, std::string_view kept) {
  out.flush();
  if (out) return status;
  err << program << ": standard output could not be written: " << lost
      << " was lost";
  if (!kept.empty()) err << " (" << kept << ")";
  err << ". Send it to a file with room (> FILE).\n";
  err.flush();
  return status == kExitDone ? kExitOutputNotWritten : status;
}

}  // namespace segmix::cli
