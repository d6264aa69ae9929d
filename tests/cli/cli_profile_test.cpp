// `profile` as a user runs it: eight cells in a table and in JSON that
// agree, the engine that ran named (libaio where io_uring is refused), the
// folder left as it was found however it ends, and what cannot be
// profiled refused with its reason.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "cli/json_output.h"
#include "core/profile_summary.h"
#include "core/timing.h"
#include "tests/cli/cli_support.h"

namespace ferrotick::testing {
namespace {

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
  }
  return names;
}

bool DirectIOWorks(const std::string& folder) {
  const std::string probe = folder + "/probe";
  const int fd = ::open(probe.c_str(), O_CREAT | O_WRONLY | O_DIRECT, 0600);
  if (fd >= 0) ::close(fd);
  ::unlink(probe.c_str());
  return fd >= 0;
}

#define SKIP_WITHOUT_DIRECT_IO(folder)                                   \
  if (!DirectIOWorks(folder)) {                                          \
    GTEST_SKIP() << "the test folder refuses O_DIRECT; set TMPDIR to a " \
                    "folder on a disk";                                  \
  }

// The table row of `cell`, split into its words: the cell's name takes
// three ("RND 4KiB Q1 read" is four: the direction too).
std::vector<std::string> Row(const std::string& out, const std::string& cell) {
  for (const std::string& line : SplitLines(out)) {
    if (line.rfind(cell + " ", 0) != 0) continue;
    std::vector<std::string> words;
    std::size_t start = cell.size();
    start = line.find_first_not_of(' ', start);
    while (start != std::string::npos) {
      const std::size_t end = line.find(' ', start);
      words.push_back(line.substr(start, end - start));
      start = line.find_first_not_of(' ', end);
    }
    return words;
  }
  return {};
}

// runs, MB/s, MiB/s, IOPS, mean us, p99 us, spread, best MB/s, engine
enum Column { kRuns, kMB, kMiB, kIops, kMean, kP99, kSpread, kBest, kEngine };

TEST(CliProfile, TableAndJsonOfEveryCellFromKnownRuns) {
  ProfileReport report;
  report.path = "/srv/ferrotick-profile-x.tmp";
  report.folder = "/srv";
  report.facts = DiskFacts{
      "ext4", "/dev/nvme0n1p2", "the NVMe disk nvme0n1", false, false, false,
      0};
  report.sizeMB = 1024;
  report.seconds = 5;
  report.warmupSeconds = 0.5;
  report.runs = 3;
  report.seed = 77;
  report.cells = StandardCells();
  report.measured.resize(report.cells.size());
  // SEQ 1MiB Q8 read: 100, 120 and 110 MB/s.
  for (double mb : {100.0, 120.0, 110.0}) {
    CellRun run;
    run.bytes = static_cast<std::uint64_t>(mb * 2e6);
    run.transfers = run.bytes / 1048576;
    run.seconds = 2;
    run.maxDepth = 8;
    run.engine = IoEngine::kIoUring;
    report.measured[0].push_back(run);
  }
  // RND 4KiB Q1 read: 10,000 and 12,000 IOPS, and their latencies; its
  // third run was stopped.
  for (int k : {0, 1}) {
    CellRun run;
    run.cell = 6;
    run.transfers = 10000 + 2000 * k;
    run.bytes = run.transfers * 4096;
    run.seconds = 1;
    run.maxDepth = 1;
    run.meanLatencyUs = 100 - 10 * k;
    run.p99LatencyUs = 300 - 20 * k;
    report.measured[6].push_back(run);
  }

  const std::string text = ProfileText(report);
  EXPECT_EQ(text.rfind("Profiled ext4 on /dev/nvme0n1p2 (the NVMe disk "
                       "nvme0n1) in /srv: a file of 1024 MiB",
                       0),
            0u)
      << text;
  EXPECT_NE(text.find("seed 77"), std::string::npos);
  EXPECT_NE(text.find("RND 4KiB Q1 read: 2 of 3 runs measured."),
            std::string::npos)
      << text;
  const std::vector<std::string> seq = Row(text, "SEQ 1MiB Q8 read");
  ASSERT_EQ(seq.size(), 9u) << text;
  EXPECT_EQ(seq[kRuns], "3");
  EXPECT_EQ(seq[kMB], "110.0");
  EXPECT_EQ(seq[kMiB], "104.9");
  EXPECT_EQ(seq[kIops], "-");  // not a 4 KiB cell
  EXPECT_EQ(seq[kMean], "-");  // not depth 1
  EXPECT_EQ(seq[kSpread], "9.1%");
  EXPECT_EQ(seq[kBest], "120.0");
  EXPECT_EQ(seq[kEngine], "io_uring");
  const std::vector<std::string> rnd = Row(text, "RND 4KiB Q1 read");
  ASSERT_EQ(rnd.size(), 9u) << text;
  EXPECT_EQ(rnd[kMB], "45.1");  // 11,000 x 4096 bytes a second
  EXPECT_EQ(rnd[kIops], "11000");
  EXPECT_EQ(rnd[kMean], "95.0");
  EXPECT_EQ(rnd[kP99], "290.0");
  EXPECT_EQ(rnd[kEngine], "pread/pwrite");
  EXPECT_EQ(Row(text, "RND 4KiB Q32 write")[kRuns], "0");

  const std::optional<Json> json = ParseJson(cli::ProfileJson(report));
  ASSERT_TRUE(json);
  EXPECT_EQ((*json)["seed"], 77);
  EXPECT_EQ((*json)["complete"], false);
  ASSERT_EQ((*json)["cells"].size(), 8u);
  for (const Json& cell : (*json)["cells"]) {
    const std::string name = cell["cell"];
    SCOPED_TRACE(name);
    const std::vector<std::string> row = Row(text, name);
    ASSERT_EQ(row.size(), 9u);
    ASSERT_EQ(std::to_string(cell["runs"].size()), row[kRuns]);
    if (cell["runs"].empty()) continue;
    // The table shows the JSON's figures, rounded.
    const auto shown = [](const Json& value, int decimals) {
      return value.is_null() ? std::string("-")
                             : Format("%.*f", decimals, value.get<double>());
    };
    EXPECT_EQ(shown(cell["median_mb_per_s"], 1), row[kMB]);
    EXPECT_EQ(shown(cell["median_mib_per_s"], 1), row[kMiB]);
    EXPECT_EQ(shown(cell["median_iops"], 0), row[kIops]);
    EXPECT_EQ(shown(cell["median_mean_latency_us"], 1), row[kMean]);
    EXPECT_EQ(shown(cell["median_p99_latency_us"], 1), row[kP99]);
    EXPECT_EQ(shown(cell["best_mb_per_s"], 1), row[kBest]);
    EXPECT_EQ(Format("%.1f%%", cell["spread"].get<double>() * 100),
              row[kSpread]);
    EXPECT_EQ(cell["engine"], row[kEngine]);
  }
  const Json& runs = (*json)["cells"][0]["runs"];
  EXPECT_EQ(runs[1]["mb_per_s"], 120.0);
  EXPECT_EQ(runs[1]["max_queue_depth"], 8);
}

TEST(CliProfile, ProfilesEveryCellAndLeavesNothing) {
  TempDir dir;
  SKIP_WITHOUT_DIRECT_IO(dir.path());
  const ChildResult text =
      RunCli({"profile", dir.path(), "--size", "4", "--seconds", "0.2",
              "--runs", "2", "--seed", "5"});
  EXPECT_EQ(text.exitCode, 0) << text.err;
  const std::vector<std::string> lines = SplitLines(text.out);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0].rfind("Profiled ", 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find("seed 5"), std::string::npos) << lines[0];
  EXPECT_EQ(lines[0].find("unknown"), std::string::npos) << lines[0];
  for (const ProfileCell& cell : StandardCells()) {
    const std::vector<std::string> row = Row(text.out, CellName(cell));
    ASSERT_EQ(row.size(), 9u) << CellName(cell) << "\n" << text.out;
    EXPECT_EQ(row[kRuns], "2");
    EXPECT_GT(std::stod(row[kMB]), 0);
    EXPECT_EQ(row[kIops] == "-", cell.blockBytes != 4096);
    EXPECT_EQ(row[kMean] == "-", cell.depth != 1);
    EXPECT_EQ(row[kEngine], cell.depth == 1 ? "pread/pwrite" : "io_uring");
  }
  EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{});

  const ChildResult json =
      RunCli({"profile", dir.path(), "--size", "4", "--seconds", "0.2",
              "--runs", "1", "--json"});
  EXPECT_EQ(json.exitCode, 0) << json.err;
  const std::vector<Json> objects = JsonLines(json.out);
  ASSERT_EQ(objects.size(), 1u);
  EXPECT_EQ(objects[0]["complete"], true);
  EXPECT_TRUE(objects[0]["seed"].is_number_unsigned());
  for (const Json& cell : objects[0]["cells"]) {
    ASSERT_EQ(cell["runs"].size(), 1u);
    const Json& run = cell["runs"][0];
    EXPECT_EQ(run["bytes"], run["transfers"].get<std::uint64_t>() *
                                cell["block_bytes"].get<std::uint64_t>());
    EXPECT_EQ(run["max_queue_depth"], cell["queue_depth"]);
  }
  EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{});
}

// io_uring_setup refused as a container's seccomp profile refuses it.
void RefuseIoUring() {
#if defined(__x86_64__)
  constexpr unsigned kArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
  constexpr unsigned kArch = AUDIT_ARCH_AARCH64;
#else
  constexpr unsigned kArch = 0;
#endif
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArch, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_io_uring_setup, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
      ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &program) != 0) {
    ::_exit(99);
  }
}

TEST(CliProfile, LibaioKeepsTheQueueWhereIoUringIsRefused) {
#if !defined(__x86_64__) && !defined(__aarch64__)
  GTEST_SKIP() << "no seccomp filter written for this processor";
#endif
  TempDir dir;
  SKIP_WITHOUT_DIRECT_IO(dir.path());
  const ChildResult result =
      RunCliWith({"profile", dir.path(), "--size", "2", "--seconds", "0.1",
                  "--runs", "1", "--json"},
                 RefuseIoUring);
  ASSERT_NE(result.exitCode, 99) << "seccomp is not available here";
  EXPECT_EQ(result.exitCode, 0) << result.err;
  const std::vector<Json> objects = JsonLines(result.out);
  ASSERT_EQ(objects.size(), 1u);
  EXPECT_EQ(objects[0]["io_uring_refused"], std::strerror(EPERM));
  for (const Json& cell : objects[0]["cells"]) {
    EXPECT_EQ(cell["engine"],
              cell["queue_depth"] == 1 ? "pread/pwrite" : "libaio");
    EXPECT_EQ(cell["runs"][0]["max_queue_depth"], cell["queue_depth"]);
  }
  EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{});
}

// Stopped in the fill or in a cell, by any of the three signals: exit 1,
// "stopped", and the folder as it was.
TEST(CliProfile, AStopSignalEndsItAndTheTestFileGoes) {
  TempDir dir;
  SKIP_WITHOUT_DIRECT_IO(dir.path());
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    for (int delayMs : {0, 300}) {
      SCOPED_TRACE(std::string(strsignal(signal)) + " after the file is made " +
                   std::to_string(delayMs) + " ms");
      Child cli = StartCli({"profile", dir.path(), "--size", "16", "--seconds",
                            "60", "--runs", "3"});
      const auto deadline =
          std::chrono::steady_clock::now() + std::chrono::seconds(30);
      while (Entries(dir.path()).empty() &&
             std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      ASSERT_EQ(Entries(dir.path()).size(), 1u);
      std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
      cli.Signal(signal);
      const ChildResult result = cli.Wait();
      EXPECT_EQ(result.exitCode, 1) << result.err;
      EXPECT_NE(result.err.find(": stopped: 0 of 24 runs measured"),
                std::string::npos)
          << result.err;
      EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{});
    }
  }
}

TEST(CliProfile, RefusesWhatItCannotProfileWithItsReason) {
  const ChildResult proc = RunCli({"profile", "/proc"});
  EXPECT_EQ(proc.exitCode, 1);
  EXPECT_NE(proc.err.find("/proc: is on proc, a file system of the kernel's "
                          "own"),
            std::string::npos)
      << proc.err;

  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"--seconds", "0.01"},
        {"--seconds", "soon"},
        {"--seconds", "nan"},
        {"--runs", "0"},
        {"--seed", "-1"},
        {"--seed", "18446744073709551616"},
        {"--size", "0"}}) {
    // A folder that would not do: a bad option that slipped through fails.
    std::vector<std::string> args{"profile", "/proc"};
    args.insert(args.end(), bad.begin(), bad.end());
    EXPECT_EQ(RunCli(args).exitCode, 2) << bad[0] << " " << bad[1];
  }

  SmallDisk memory("size=64m");
  if (!memory.mounted) {
    GTEST_SKIP() << "cannot mount a tmpfs here: "
                 << std::strerror(memory.error);
  }
  const ChildResult tmpfs =
      RunCli({"profile", memory.dir.path(), "--size", "8", "--json"});
  EXPECT_EQ(tmpfs.exitCode, 1);
  const std::vector<Json> errors = JsonLines(tmpfs.err);
  ASSERT_EQ(errors.size(), 1u) << tmpfs.err;
  EXPECT_EQ(errors[0]["error"],
            "is on tmpfs, which keeps files in memory: direct I/O to a disk "
            "is not possible there");
  EXPECT_EQ(Entries(memory.dir.path()), std::vector<std::string>{});
}

}  // namespace
}  // namespace ferrotick::testing
