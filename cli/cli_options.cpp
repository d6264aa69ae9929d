#include "cli/cli_options.h"

#include <array>
#include <string_view>

#include "core/settings.h"

#ifndef FERROTICK_VERSION
#define FERROTICK_VERSION "1.0.0.1"
#endif

namespace ferrotick::cli {

namespace {

constexpr std::string_view kSeeHelp = " (see 'ferrotick-cli --help')";

enum Applies : unsigned { kToCreate = 1, kToWrite = 2, kToRead = 4 };

struct OptionInfo {
  std::string_view name;
  bool takesValue;
  unsigned applies;
};

constexpr std::array<OptionInfo, 10> kOptions{{
    {"--size", true, kToCreate | kToWrite},
    {"--buffer", true, kToCreate | kToWrite | kToRead},
    {"--passes", true, kToWrite | kToRead},
    {"--json", false, kToCreate | kToWrite | kToRead},
    {"--sync", false, kToCreate | kToWrite},
    {"--direct", false, kToCreate | kToWrite | kToRead},
    {"--drop-cache", false, kToRead},
    {"--no-progress", false, kToCreate | kToWrite | kToRead},
    {"--force", false, kToCreate},
    // Accepted for symmetry with --no-progress; progress is the default.
    {"--progress", false, kToCreate | kToWrite | kToRead},
}};

const OptionInfo* FindOption(std::string_view name) {
  for (const OptionInfo& known : kOptions) {
    if (known.name == name) return &known;
  }
  return nullptr;
}

unsigned AppliesBit(Command command) {
  switch (command) {
    case Command::kCreate:
      return kToCreate;
    case Command::kWrite:
      return kToWrite;
    case Command::kRead:
      return kToRead;
    default:
      return 0;
  }
}

std::optional<Command> ParseCommand(std::string_view word) {
  if (word == "create") return Command::kCreate;
  if (word == "write") return Command::kWrite;
  if (word == "read") return Command::kRead;
  return std::nullopt;
}

// The value of `name` within [low, high], or the one-line complaint.
std::optional<int> RangedValue(std::string_view name, std::string_view text,
                               int low, int high, std::string& error) {
  const std::optional<long long> value = ParseInteger(text);
  if (value && *value >= low && *value <= high) return static_cast<int>(*value);
  error = std::string(name) + " must be an integer between " +
          std::to_string(low) + " and " + std::to_string(high) + ", not '" +
          std::string(text) + "'";
  return std::nullopt;
}

}  // namespace

const char* CommandName(Command command) {
  switch (command) {
    case Command::kCreate:
      return "create";
    case Command::kWrite:
      return "write";
    case Command::kRead:
      return "read";
    default:
      return "";
  }
}

ParseOutcome ParseCommandLine(const std::vector<std::string>& args) {
  ParseOutcome outcome;
  bool json = false;
  for (const std::string& arg : args) {
    if (arg == "--") break;
    if (arg == "--json") json = true;
  }
  auto fail = [&](std::string message) {
    outcome.error = UsageError{std::move(message), json};
    return outcome;
  };
  for (const std::string& arg : args) {
    if (arg == "--") break;
    if (arg == "--help" || arg == "-h") {
      outcome.options = CliOptions{};
      outcome.options->command = Command::kHelp;
      return outcome;
    }
    if (arg == "--version" || arg == "-V") {
      outcome.options = CliOptions{};
      outcome.options->command = Command::kVersion;
      return outcome;
    }
  }

  CliOptions options;
  options.bufferKB = kDefaultBufferKB;
  options.json = json;
  std::optional<Command> command;
  std::optional<std::string> path;
  // Options and their values are checked once the command is known.
  struct Given {
    const OptionInfo* info;
    std::string value;
  };
  std::vector<Given> given;
  bool onlyOperands = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!onlyOperands && arg == "--") {
      onlyOperands = true;
      continue;
    }
    if (!onlyOperands && arg.size() > 1 && arg[0] == '-') {
      const std::size_t equals = arg.find('=');
      const std::string name = arg.substr(0, equals);
      const OptionInfo* known = FindOption(name);
      if (!known)
        return fail("unknown option '" + name + "'" + std::string(kSeeHelp));
      std::string value;
      if (known->takesValue) {
        if (equals != std::string::npos) {
          value = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
          value = args[++i];
        } else {
          return fail(name + " needs a value" + std::string(kSeeHelp));
        }
      } else if (equals != std::string::npos) {
        return fail(name + " takes no value");
      }
      given.push_back(Given{known, std::move(value)});
      continue;
    }
    if (!command) {
      command = ParseCommand(arg);
      if (!command) {
        return fail("unknown command '" + arg + "': use create, write or read" +
                    std::string(kSeeHelp));
      }
    } else if (!path) {
      path = arg;
    } else {
      return fail("unexpected argument '" + arg + "'" + std::string(kSeeHelp));
    }
  }
  if (!command) {
    return fail("missing command: create, write or read" +
                std::string(kSeeHelp));
  }
  options.command = *command;
  if (!path) {
    return fail(std::string(CommandName(*command)) + " needs a PATH" +
                std::string(kSeeHelp));
  }
  if (path->empty()) return fail("PATH must not be empty");
  options.path = *path;

  std::string error;
  for (const Given& option : given) {
    const std::string_view name = option.info->name;
    if (!(option.info->applies & AppliesBit(*command))) {
      return fail(std::string(name) + " does not apply to " +
                  CommandName(*command));
    }
    if (name == "--size") {
      options.fileSizeMB = RangedValue(name, option.value, kMinFileSizeMB,
                                       kMaxFileSizeMB, error);
      if (!options.fileSizeMB) return fail(error);
    } else if (name == "--buffer") {
      const std::optional<int> kb =
          RangedValue(name, option.value, kMinBufferKB, kMaxBufferKB, error);
      if (!kb) return fail(error);
      options.bufferKB = *kb;
    } else if (name == "--passes") {
      const std::optional<int> passes =
          RangedValue(name, option.value, kMinPasses, kMaxPasses, error);
      if (!passes) return fail(error);
      options.passes = *passes;
    } else if (name == "--sync") {
      options.run.sync = true;
    } else if (name == "--direct") {
      options.run.direct = true;
    } else if (name == "--drop-cache") {
      options.run.dropCache = true;
    } else if (name == "--no-progress") {
      options.progress = false;
    } else if (name == "--progress") {
      options.progress = true;
    } else if (name == "--force") {
      options.force = true;
    }
  }
  if (*command == Command::kCreate && !options.fileSizeMB) {
    options.fileSizeMB = kDefaultFileSizeMB;
  }
  outcome.options = std::move(options);
  return outcome;
}

std::string HelpText() {
  return R"(Usage: ferrotick-cli create PATH [--size MB] [--buffer KB] [OPTIONS]
       ferrotick-cli write PATH [--size MB] [--buffer KB] [--passes N] [OPTIONS]
       ferrotick-cli read PATH [--buffer KB] [--passes N] [OPTIONS]

Measures how fast a disk writes and reads a file.

  create   make PATH and fill it with --size MB in writes of --buffer KB,
           timed as one sequential fill; an existing PATH is replaced
           only with --force
  write    rewrite the existing PATH from its start, --passes times
  read     read the existing PATH from start to end, --passes times

  --size MB       MB per pass, 1 to 8192 (create: 32; write: PATH's length)
  --buffer KB     size of each read or write, 1 to 1024 (default 128)
  --passes N      passes to make, 1 to 1000000 (default 1)
  --json          one JSON object per finished pass on standard output
                  instead of the log lines; errors as JSON on standard error
  --sync          create, write: fdatasync before each pass's clock stops,
                  so the pass includes getting the data to the device
  --direct        bypass the page cache (O_DIRECT)
  --drop-cache    read: drop PATH from the page cache before each pass,
                  so the reads come from the device
  --no-progress   no progress display (shown only on a terminal)
  --force         create: replace an existing PATH (through a symbolic
                  link, the file it points to)
  -h, --help      show this help and exit
  -V, --version   show the version and exit

The log lines are those the Ferrotick dialog shows for the same run; rates
are MB per second. Ctrl-C (and SIGTERM or SIGHUP) stops the run as the
dialog's stop or cancel control does; the run's closing lines still print.
A block device that is mounted or in use is never written to.

Exit status: 0 when the run made every pass it was asked for, 1 when it
failed, was stopped early or its output could not be written, 2 for a bad
command line.
)";
}

std::string VersionText() { return "ferrotick-cli " FERROTICK_VERSION "\n"; }

}  // namespace ferrotick::cli
