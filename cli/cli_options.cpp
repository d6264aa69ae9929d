#include "cli/cli_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <iterator>
#include <map>
#include <string_view>
#include <variant>

#include "core/settings.h"

#ifndef FERROTICK_VERSION
#define FERROTICK_VERSION "1.0.0.1"
#endif

namespace ferrotick::cli {

namespace {

constexpr std::string_view kSeeHelp = " (see 'ferrotick-cli --help')";

// The runs an option applies to, one bit each.
enum Applies : unsigned {
  kToCreate = 1,
  kToWrite = 2,
  kToRead = 4,
  kToMeasure = 8
};
constexpr unsigned kToEveryRun = kToCreate | kToWrite | kToRead | kToMeasure;

struct CommandInfo {
  std::string_view name;
  Command command;
  unsigned bit;
};

constexpr CommandInfo kCommands[] = {
    {"create", Command::kCreate, kToCreate},
    {"write", Command::kWrite, kToWrite},
    {"read", Command::kRead, kToRead},
    {"measure", Command::kMeasure, kToMeasure},
};

// An option with a value takes an integer in [low, high]; a flag has
// neither. `set` stores what was given.
struct OptionInfo {
  const char* name;
  unsigned applies;
  int low;
  int high;
  void (*set)(CliOptions&, int);
  bool IsFlag() const { return low == 0 && high == 0; }
};

const OptionInfo kOptions[] = {
    {"--size", kToCreate | kToWrite | kToMeasure, kMinFileSizeMB,
     kMaxFileSizeMB, [](CliOptions& o, int mb) { o.fileSizeMB = mb; }},
    {"--buffer", kToEveryRun, kMinBufferKB, kMaxBufferKB,
     [](CliOptions& o, int kb) { o.bufferKB = kb; }},
    {"--passes", kToWrite | kToRead | kToMeasure, kMinPasses, kMaxPasses,
     [](CliOptions& o, int passes) { o.passes = passes; }},
    {"--json", kToEveryRun, 0, 0, [](CliOptions& o, int) { o.json = true; }},
    {"--sync", kToCreate | kToWrite, 0, 0,
     [](CliOptions& o, int) { o.run.sync = true; }},
    {"--direct", kToEveryRun, 0, 0,
     [](CliOptions& o, int) { o.run.direct = true; }},
    {"--drop-cache", kToRead, 0, 0,
     [](CliOptions& o, int) { o.run.dropCache = true; }},
    {"--no-progress", kToEveryRun, 0, 0,
     [](CliOptions& o, int) { o.progress = false; }},
    {"--force", kToCreate, 0, 0, [](CliOptions& o, int) { o.force = true; }},
    {"--quiet", kToMeasure, 0, 0, [](CliOptions& o, int) { o.quiet = true; }},
    // Accepted for symmetry with --no-progress; progress is the default.
    {"--progress", kToEveryRun, 0, 0,
     [](CliOptions& o, int) { o.progress = true; }},
};

// "create, write or read".
std::string CommandList() {
  std::string list;
  for (const CommandInfo& info : kCommands) {
    if (!list.empty()) list += &info == std::end(kCommands) - 1 ? " or " : ", ";
    list += info.name;
  }
  return list;
}

bool LooksLikeOption(std::string_view word) {
  return word.size() > 1 && word[0] == '-';
}

// "--size" of "--size=4".
std::string OptionName(std::string_view word) {
  return std::string(word.substr(0, word.find('=')));
}

// CLI11 sorts the words into options, their values and operands; this says
// which runs each option applies to, checks the values and words every
// complaint. Returns the options or the complaint about the first fault.
std::variant<CliOptions, std::string> Parse(
    const std::vector<std::string>& args) {
  const std::string seeHelp(kSeeHelp);
  CLI::App app;
  app.set_help_flag();  // looked for before parsing
  app.allow_extras();   // unknown words are reported below
  app.validate_positionals();
  // A word that looks like an option is never the command or PATH.
  const auto notAnOption = [](const std::string& word) {
    return LooksLikeOption(word) ? std::string("an option") : std::string();
  };
  const CLI::Option* commandWord =
      app.add_option("command")->check(notAnOption);
  const CLI::Option* pathWord = app.add_option("path")->check(notAnOption);
  std::map<const CLI::Option*, const OptionInfo*> infoOf;
  for (const OptionInfo& info : kOptions) {
    infoOf[info.IsFlag() ? app.add_flag(info.name)
                         : app.add_option(info.name)->multi_option_policy(
                               CLI::MultiOptionPolicy::TakeAll)] = &info;
  }

  // CLI11 takes the words up to "--"; every word after it is an operand.
  const auto mark = std::find(args.begin(), args.end(), "--");
  std::vector<std::string> reversed(std::make_reverse_iterator(mark),
                                    args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ArgumentMismatch&) {
    // Only the last word can be an option left without its value.
    return OptionName(*std::prev(mark)) + " needs a value" + seeHelp;
  } catch (const CLI::ParseError& error) {
    return error.what();
  }

  std::vector<std::string> operands = commandWord->results();
  operands.insert(operands.end(), pathWord->results().begin(),
                  pathWord->results().end());
  std::vector<std::string> extras = app.remaining();
  for (auto word = mark; word != args.end(); ++word) {
    if (word == mark) continue;
    (operands.size() < 2 ? operands : extras).push_back(*word);
  }
  const CommandInfo* command = nullptr;
  if (!operands.empty()) {
    for (const CommandInfo& info : kCommands) {
      if (info.name == operands[0]) command = &info;
    }
    if (!command) {
      return "unknown command '" + operands[0] + "': use " + CommandList() +
             seeHelp;
    }
  }
  // Words CLI11 could not place come before those after "--".
  if (!app.remaining().empty() && LooksLikeOption(extras[0])) {
    return "unknown option '" + OptionName(extras[0]) + "'" + seeHelp;
  }
  if (!extras.empty()) {
    return "unexpected argument '" + extras[0] + "'" + seeHelp;
  }

  // Each option given, with its value, in the order of the command line.
  std::vector<std::pair<const OptionInfo*, std::string>> given;
  std::map<const CLI::Option*, std::size_t> seen;
  for (const CLI::Option* option : app.parse_order()) {
    const auto info = infoOf.find(option);
    if (info == infoOf.end()) continue;  // the command or PATH
    given.emplace_back(info->second, option->results().at(seen[option]++));
    // CLI11 gives a bare flag the value "true".
    if (info->second->IsFlag() && given.back().second != "true") {
      return std::string(info->second->name) + " takes no value";
    }
  }
  if (!command) return "missing command: " + CommandList() + seeHelp;
  if (operands.size() < 2) {
    return std::string(command->name) + " needs a PATH" + seeHelp;
  }
  if (operands[1].empty()) return std::string("PATH must not be empty");

  CliOptions options;
  options.command = command->command;
  options.path = operands[1];
  options.bufferKB = kDefaultBufferKB;
  if (options.command == Command::kMeasure) {
    // A measurement of the disk rather than the cache: a file well past
    // what a small cache holds, moved in large transfers, several passes.
    options.fileSizeMB = kMeasureFileSizeMB;
    options.bufferKB = kMeasureBufferKB;
    options.passes = kMeasurePasses;
  }
  for (const auto& [info, text] : given) {
    const std::string name = info->name;
    if (!(info->applies & command->bit)) {
      return name + " does not apply to " + std::string(command->name);
    }
    if (info->IsFlag()) {
      info->set(options, 0);
      continue;
    }
    const std::optional<long long> value = ParseInteger(text);
    if (!value || *value < info->low || *value > info->high) {
      return name + " must be an integer between " + std::to_string(info->low) +
             " and " + std::to_string(info->high) + ", not '" + text + "'";
    }
    info->set(options, static_cast<int>(*value));
  }
  if (options.command == Command::kCreate && !options.fileSizeMB) {
    options.fileSizeMB = kDefaultFileSizeMB;
  }
  return options;
}

}  // namespace

const char* CommandName(Command command) {
  for (const CommandInfo& info : kCommands) {
    if (info.command == command) return info.name.data();
  }
  return "";
}

// Help, version and --json hold however wrong the rest of the line is, so
// they are looked for first.
ParseOutcome ParseCommandLine(const std::vector<std::string>& args) {
  ParseOutcome outcome;
  bool json = false;
  for (const std::string& arg : args) {
    if (arg == "--") break;
    if (arg == "--help" || arg == "-h" || arg == "--version" || arg == "-V") {
      outcome.options = CliOptions{};
      outcome.options->command =
          arg == "--help" || arg == "-h" ? Command::kHelp : Command::kVersion;
      return outcome;
    }
    json = json || arg == "--json";
  }
  std::variant<CliOptions, std::string> parsed = Parse(args);
  if (auto* message = std::get_if<std::string>(&parsed)) {
    outcome.error = UsageError{std::move(*message), json};
  } else {
    outcome.options = std::move(std::get<CliOptions>(parsed));
  }
  return outcome;
}

std::string HelpText() {
  return R"(Usage: ferrotick-cli measure FOLDER [--size MB] [--buffer KB] [--passes N] [OPTIONS]
       ferrotick-cli create PATH [--size MB] [--buffer KB] [OPTIONS]
       ferrotick-cli write PATH [--size MB] [--buffer KB] [--passes N] [OPTIONS]
       ferrotick-cli read PATH [--buffer KB] [--passes N] [OPTIONS]

Measures how fast a disk writes and reads a file.

  measure  the one command to measure a disk: makes a test file in FOLDER
           (or at a new PATH), times a fill, --passes write passes and
           --passes read passes with the data on the device and not in
           the page cache, removes the file, and prints a summary of the
           rates (median, min, max and spread); defaults --size 1024,
           --buffer 1024, --passes 5
  create   make PATH and fill it with --size MB in writes of --buffer KB,
           timed as one sequential fill; an existing PATH is replaced
           only with --force
  write    rewrite the existing PATH from its start, --passes times
  read     read the existing PATH from start to end, --passes times

  --size MB       MB per pass, 1 to 8192 (create: 32; write: PATH's length)
  --buffer KB     size of each read or write, 1 to 1024 (default 128)
  --passes N      passes to make, 1 to 1000000 (default 1)
  --json          one JSON object per finished pass on standard output
                  instead of the log lines (measure: one summary object);
                  errors as JSON on standard error
  --sync          create, write: fdatasync before each pass's clock stops,
                  so the pass includes getting the data to the device
  --direct        bypass the page cache (O_DIRECT); measure: instead of
                  fdatasync and the cache drop
  --drop-cache    read: drop PATH from the page cache before each pass,
                  so the reads come from the device
  --no-progress   no progress display (shown only on a terminal)
  --force         create: replace an existing PATH (through a symbolic
                  link, the file it points to)
  --quiet         measure: print only warnings and the summary
  -h, --help      show this help and exit
  -V, --version   show the version and exit

The log lines are those the Ferrotick dialog shows for the same run; rates
are MB per second. Ctrl-C (and SIGTERM or SIGHUP) stops the run as the
dialog's stop or cancel control does; the run's closing lines still print,
and measure removes its test file however it ends. A block device that is mounted or in use is never written to.

Exit status: 0 when the run made every pass it was asked for, 1 when it
failed, was stopped early or its output could not be written, 2 for a bad
command line.
)";
}

std::string VersionText() { return "ferrotick-cli " FERROTICK_VERSION "\n"; }

}  // namespace ferrotick::cli
