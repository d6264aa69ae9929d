#include "cli/command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <sstream>

#include "cli/json_output.h"
#include "core/settings.h"
#include "core/version.h"

namespace ferrotick::cli {

namespace {

constexpr const char* kFooter = R"(
Rates are in MiB per second (an MB is 1,048,576 bytes); measure shows
decimal MB/s (1,000,000 bytes) beside them. A run's log lines are those the
Ferrotick window shows; there, an "MB" of a fill or write pass is W writes
of --buffer KB with W = 1024 / KB, which is 1 MiB only when KB divides 1024.
Spread: the sample coefficient of variation of the pass rates (sample
standard deviation over the mean), in percent.

Ctrl-C, SIGTERM and SIGHUP stop a run as the window's stop or cancel control
does; a second one abandons it. measure removes its test file however it
ends. A block device that is mounted or in use is never written to.

Exit status: 0 when every asked pass ran to its end and nothing stopped the
run; 1 when it failed, was stopped or refused, or its output could not be
written; 2 for a bad command line.)";

const char* const kCommandNames[] = {"measure", "create", "write", "read",
                                     "profile"};

// The options, as each command takes them, each bound to where it goes.
struct Builder {
  CliOptions& o;

  // Once the command is known, before its options are read: its defaults.
  void Defaults(CLI::App* command, Command which, std::optional<int> fileSizeMB,
                int bufferKB, int passes) {
    command->preparse_callback(
        [this, which, fileSizeMB, bufferKB, passes](std::size_t) {
          o.command = which;
          o.fileSizeMB = fileSizeMB;
          o.bufferKB = bufferKB;
          o.passes = passes;
        });
  }
  void Path(CLI::App* command, const char* name, const char* what) {
    command->add_option(name, o.path, what)
        ->required()
        ->check([](const std::string& path) {
          return path.empty() ? std::string("must not be empty")
                              : std::string();
        });
  }
  void Size(CLI::App* command, const char* what) {
    command->add_option("--size", o.fileSizeMB, what)
        ->type_name("MB")
        ->check(CLI::Range(kMinFileSizeMB, kMaxFileSizeMB));
  }
  void Buffer(CLI::App* command, int defaultKB) {
    command
        ->add_option(
            "--buffer", o.bufferKB,
            "KB per read or write (default " + std::to_string(defaultKB) + ")")
        ->type_name("KB")
        ->check(CLI::Range(kMinBufferKB, kMaxBufferKB));
  }
  void Passes(CLI::App* command, int defaultPasses) {
    command
        ->add_option(
            "--passes", o.passes,
            "passes to make (default " + std::to_string(defaultPasses) + ")")
        ->type_name("N")
        ->check(CLI::Range(1, kMaxPasses));
  }
  void NoProgress(CLI::App* command) {
    command->add_flag_callback(
        "--no-progress", [this] { o.progress = false; },
        "no progress line (shown only on a terminal)");
  }
  void Common(CLI::App* command, bool writes) {
    command->add_flag("--direct", o.run.direct,
                      "bypass the page cache (O_DIRECT)");
    if (writes) {
      command->add_flag("--sync", o.run.sync,
                        "fdatasync before each pass's clock stops");
      command
          ->add_option_function<std::string>(
              "--pattern",
              [this](const std::string& name) {
                o.run.pattern = *PatternFromName(name);
              },
              "what to write: letters (zeros for a fill, one "
              "letter per write pass), or random data that "
              "neither compresses nor repeats")
          ->check(CLI::IsMember({"letters", "random"}));
    }
    command->add_flag("--json", o.json,
                      "one JSON object per pass on standard output; errors "
                      "as JSON on standard error");
    NoProgress(command);
  }
};

std::string Hinted(std::string message) {
  return message + " (see 'ferrotick-cli --help')";
}

bool AsksForJson(const std::vector<std::string>& args) {
  const auto end = std::find(args.begin(), args.end(), "--");
  return std::find(args.begin(), end, "--json") != end;
}

}  // namespace

const char* CommandName(Command command) {
  return kCommandNames[static_cast<int>(command)];
}

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CliOptions o;
  Builder b{o};
  CLI::App app("Measures how fast a disk writes and reads a file.", kProgram);
  app.set_version_flag("-V,--version", std::string(kProgram) + " " + kVersion,
                       "show the version and exit");
  app.set_help_flag("-h,--help", "show this help and exit");
  app.require_subcommand(1);
  app.footer(kFooter);
  // Given twice, the last one counts.
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);

  CLI::App* measure =
      app.add_subcommand("measure", "measure the disk that holds FOLDER");
  measure->footer(
      "\nMakes a test file in FOLDER, times a fill, --passes write passes and\n"
      "--passes read passes with the data on the device, not in the page\n"
      "cache, and with data that neither compresses nor repeats; removes the\n"
      "file however it ends, and prints what was measured, notes on what\n"
      "the figures may mean, and a table: the median, min and max MiB/s of\n"
      "each run (and the median in MB/s) and their spread.");
  b.Defaults(measure, Command::kMeasure, kMeasureFileSizeMB, kMeasureBufferKB,
             kMeasurePasses);
  b.Path(measure, "FOLDER", "a folder on the disk (or a new file's path)");
  b.Size(measure, "size of the test file (default 1024)");
  b.Buffer(measure, kMeasureBufferKB);
  b.Passes(measure, kMeasurePasses);
  measure->add_flag("--direct", o.run.direct,
                    "O_DIRECT instead of fdatasync and the cache drop");
  measure->add_flag("--json", o.json, "one summary object as JSON");
  measure->add_flag("--quiet", o.quiet, "print only warnings and the table");
  measure->add_flag("--verbose", o.verbose, "print every run's log lines too");
  b.NoProgress(measure);

  CLI::App* create = app.add_subcommand(
      "create", "make PATH and time one sequential fill of it");
  b.Defaults(create, Command::kCreate, kDefaultFileSizeMB, kDefaultBufferKB, 1);
  b.Path(create, "PATH", "the file to make");
  b.Size(create, "MB to write (default 32)");
  b.Buffer(create, kDefaultBufferKB);
  create->add_flag("--force", o.force,
                   "replace an existing PATH (through a symbolic link, the "
                   "file it points to)");
  b.Common(create, /*writes=*/true);

  CLI::App* write = app.add_subcommand(
      "write", "rewrite the existing PATH from its start, --passes times");
  b.Defaults(write, Command::kWrite, std::nullopt, kDefaultBufferKB, 1);
  b.Path(write, "PATH", "the file to rewrite");
  b.Size(write, "MB per pass (default: PATH's length)");
  b.Buffer(write, kDefaultBufferKB);
  b.Passes(write, 1);
  b.Common(write, /*writes=*/true);

  CLI::App* read = app.add_subcommand(
      "read", "read the existing PATH from start to end, --passes times");
  b.Defaults(read, Command::kRead, std::nullopt, kDefaultBufferKB, 1);
  b.Path(read, "PATH", "the file to read");
  b.Buffer(read, kDefaultBufferKB);
  b.Passes(read, 1);
  read->add_flag("--drop-cache", o.run.dropCache,
                 "drop PATH from the page cache before each pass, so the "
                 "reads come from the device");
  b.Common(read, /*writes=*/false);

  CLI::App* profile = app.add_subcommand(
      "profile", "measure sequential and random transfers at queue depths");
  profile->footer(
      "\nMakes a test file in FOLDER, writes it whole with random data, and\n"
      "measures eight cells with direct I/O: sequential 1 MiB transfers at\n"
      "queue depth 8 and 1, random 4 KiB transfers at depth 32 and 1, each\n"
      "read and written, each for --seconds after a short untimed warm-up,\n"
      "--runs times. Removes the file however it ends, and prints the median\n"
      "MB/s and MiB/s of each cell, IOPS for the 4 KiB cells, the mean and\n"
      "99th-percentile latency at depth 1, the spread and the best run.");
  b.Defaults(profile, Command::kProfile, kProfileFileSizeMB, kDefaultBufferKB,
             1);
  b.Path(profile, "FOLDER", "a folder on the disk (or a new file's path)");
  b.Size(profile, "size of the test file (default 1024)");
  profile
      ->add_option("--seconds", o.seconds,
                   "timed seconds per run of a cell (default 5)")
      ->type_name("S")
      // CLI::Range lets "nan" through.
      ->check([](const std::string& text) {
        double value = 0;
        const char* end = text.data() + text.size();
        const auto read = std::from_chars(text.data(), end, value);
        return read.ec == std::errc() && read.ptr == end && value >= 0.1 &&
                       value <= 3600
                   ? std::string()
                   : std::string("must be a number from 0.1 to 3600");
      });
  profile->add_option("--runs", o.runs, "runs of each cell (default 3)")
      ->type_name("N")
      ->check(CLI::Range(1, 100));
  profile
      ->add_option("--seed", o.seed,
                   "seed of the random offsets and data (default: drawn, "
                   "and printed)")
      ->type_name("N")
      // CLI11 would take "-1", or a number too large, as the largest one.
      ->check([](const std::string& seed) {
        std::uint64_t value = 0;
        const char* end = seed.data() + seed.size();
        const auto read = std::from_chars(seed.data(), end, value);
        return read.ec == std::errc() && read.ptr == end
                   ? std::string()
                   : std::string(
                         "must be a whole number from 0 to "
                         "18446744073709551615");
      });
  profile->add_flag("--json", o.json, "every run of every cell as JSON");
  b.NoProgress(profile);

  ParsedCommandLine parsed;
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp& e) {
    std::ostringstream out, err;
    app.exit(e, out, err);
    parsed.out = out.str();
    return parsed;
  } catch (const CLI::CallForVersion& e) {
    parsed.out = std::string(e.what()) + "\n";
    return parsed;
  } catch (const CLI::ParseError& e) {
    parsed.exitCode = kExitUsage;
    std::string message = e.what();
    // CLI11 takes a mistyped command for a missing one.
    if (app.get_subcommands().empty() && !args.empty() &&
        args[0].rfind('-', 0) != 0) {
      message = "unknown command '" + args[0] +
                "': use measure, profile, create, write or read";
    }
    message = Hinted(message);
    parsed.err = AsksForJson(args) ? ErrorJson(message)
                                   : std::string(kProgram) + ": " + message;
    return parsed;
  }

  parsed.options = std::move(o);
  return parsed;
}

}  // namespace ferrotick::cli
