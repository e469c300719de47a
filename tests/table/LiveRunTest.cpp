// tarnu-table on the output of runs of the real program made during the test:
// awkward file names, children killed while they run, and a directory run of
// the real instances.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <filesystem>
#include <random>
#include <set>
#include <string>

#include "TableTestSupport.h"

namespace fs = std::filesystem;

namespace {
const std::string TARNU = TARNU_BINARY;
const std::string TABLE = TARNU_TABLE_BINARY;

const char *SMALL_INSTANCE = "c small\np cnf 3 2\na 1 0\ne 2 3 0\n1 2 0\n-1 3 0\n";

std::vector<tabletest::CsvRecord> tableOf(const std::string &output, int expectedStatus = 0) {
  tabletest::RunResult table = tabletest::run({TABLE}, output);
  EXPECT_EQ(table.status, expectedStatus) << table.err;
  std::vector<tabletest::CsvRecord> records;
  EXPECT_TRUE(tabletest::parseCsv(table.out, records));
  EXPECT_FALSE(records.empty());
  if (!records.empty()) records.erase(records.begin());
  return records;
}

// The process whose parent is the given one, or 0.
pid_t childOf(pid_t parent) {
  DIR *proc = opendir("/proc");
  if (!proc) return 0;
  pid_t found = 0;
  while (const dirent *entry = readdir(proc)) {
    pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
    if (pid <= 0) continue;
    std::string stat = tabletest::readFile(fs::path("/proc") / entry->d_name / "stat");
    std::size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    int ppid = 0;
    if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) == 2 && ppid == parent) found = pid;
  }
  closedir(proc);
  return found;
}

// Runs tarnu on dir and sends the signal to the instance child as soon as
// the output shows the head of the instance whose path ends with `victim`.
std::string runAndKill(const fs::path &dir, const std::string &victim, int signal) {
  int out[2];
  if (pipe(out) != 0) return "";
  pid_t tarnu = fork();
  if (tarnu == 0) {
    dup2(out[1], 1);
    close(out[0]);
    close(out[1]);
    execl(TARNU.c_str(), TARNU.c_str(), dir.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  close(out[1]);
  std::string text;
  bool killed = false;
  char chunk[4096];
  ssize_t n;
  while ((n = read(out[0], chunk, sizeof chunk)) > 0) {
    text.append(chunk, static_cast<std::size_t>(n));
    if (!killed && text.find(victim + "\"...  ") != std::string::npos) {
      for (int tries = 0; tries < 200 && !killed; tries++) {
        if (pid_t child = childOf(tarnu))
          killed = kill(child, signal) == 0;
        else
          usleep(1000);
      }
    }
  }
  close(out[0]);
  int status = 0;
  waitpid(tarnu, &status, 0);
  return text;
}

// Where the real instances are: $TARNU_INSTANCES, or shared/instances beside
// the source tree.
fs::path instancesDir() {
  if (const char *env = std::getenv("TARNU_INSTANCES")) return env;
  fs::path beside = tabletest::sourceDir().parent_path() / "shared" / "instances";
  if (fs::is_directory(beside)) return beside;
  return "/work/shared/instances";
}

bool hasQdimacsName(const std::string &name) {
  auto endsFirst = [&](const std::string &suffix) {
    std::size_t at = name.find(suffix);
    return at != std::string::npos && at + suffix.size() == name.size();
  };
  return endsFirst(".qdimacs") || endsFirst(".qcnf");
}
} // namespace

TEST(LiveRun, AwkwardFileNamesComeBackByteForByte) {
  tabletest::ScratchDir scratch;
  ASSERT_FALSE(scratch.path().empty());
  fs::path dir = scratch.path() / "odd";
  fs::create_directory(dir);
  std::set<std::string> names = {"a,b.qdimacs",
                                 "say \"hi\".qdimacs",
                                 "new\nline.qdimacs",
                                 "two\n\nbreaks,\"and\" commas.qcnf",
                                 "100%s%n%d.qdimacs",
                                 "wait\"...  here.qdimacs",
                                 "not a head\n7.Processing \"x.qdimacs",
                                 "[CRASH]\n[OK, 0.0s]\n.qdimacs",
                                 "caf\xc3\xa9 \xff.qdimacs"};
  std::set<std::string> paths;
  for (const std::string &name : names) {
    tabletest::writeFile(dir / name, SMALL_INSTANCE);
    paths.insert((dir / name).string());
  }
  tabletest::RunResult tarnu = tabletest::run({TARNU, dir.string()});
  EXPECT_EQ(tarnu.status, static_cast<int>(names.size()));
  std::set<std::string> read;
  for (const auto &row : tableOf(tarnu.out)) {
    read.insert(row.at(2));
    EXPECT_EQ(row.at(17), "ok") << row.at(2);
    EXPECT_EQ(row.at(3), "3");
  }
  EXPECT_EQ(read, paths);
}

TEST(LiveRun, ChildrenKilledWhileTheyRun) {
  tabletest::ScratchDir scratch;
  fs::path dir = scratch.path() / "killed";
  fs::create_directory(dir);
  tabletest::writeFile(dir / "a.qdimacs", SMALL_INSTANCE);
  tabletest::writeFile(dir / "z.qdimacs", "p cnf 400000 1\ne 1 0\n1 0\n");
  // A large formula, so that its child is still reading when it is killed.
  std::string big = "p cnf 300000 2000000\na";
  for (int v = 1; v <= 100; v++) big += " " + std::to_string(v);
  big += " 0\n";
  std::mt19937 random(7);
  for (int c = 0; c < 2000000; c++) {
    for (int k = 0; k < 3; k++)
      big += std::to_string((random() % 2 ? 1 : -1) * static_cast<int>(1 + random() % 300000)) + " ";
    big += "0\n";
  }
  tabletest::writeFile(dir / "big.qdimacs", big);

  for (auto [signal, outcome] : {std::pair{SIGKILL, "crash"}, std::pair{SIGUSR1, "timeout"}}) {
    std::string output = runAndKill(dir, "big.qdimacs", signal);
    auto rows = tableOf(output);
    ASSERT_EQ(rows.size(), 3u) << output;
    EXPECT_EQ(rows[0].at(2), (dir / "a.qdimacs").string());
    EXPECT_EQ(rows[0].at(17), "ok");
    EXPECT_EQ(rows[1].at(2), (dir / "big.qdimacs").string());
    EXPECT_EQ(rows[1].at(17), outcome) << output;
    EXPECT_EQ(rows[2].at(2), (dir / "z.qdimacs").string());
    EXPECT_EQ(rows[2].at(17), "ok");
  }
}

TEST(LiveRun, BundledExamples) {
  tabletest::ScratchDir scratch;
  fs::path copy = scratch.path() / "examples";
  fs::create_directory(copy);
  std::set<std::string> files;
  for (const auto &entry : fs::directory_iterator(tabletest::sourceDir() / "examples"))
    if (entry.is_regular_file() && hasQdimacsName(entry.path().filename().string())) {
      fs::copy_file(entry.path(), copy / entry.path().filename());
      files.insert((copy / entry.path().filename()).string());
    }
  if (files.empty()) GTEST_SKIP() << "no examples bundled";
  for (const char *options : {"", "-tree", "-clauses", "-linear", "-pre"}) {
    std::vector<std::string> command = {TARNU};
    if (*options) command.push_back(options);
    command.push_back(copy.string());
    tabletest::RunResult tarnu = tabletest::run(command);
    EXPECT_EQ(tarnu.status, static_cast<int>(files.size() % 256)) << options;
    std::set<std::string> read;
    for (const auto &row : tableOf(tarnu.out)) {
      read.insert(row.at(2));
      EXPECT_NE(row.at(17), "unreadable") << options << " " << row.at(2);
      EXPECT_NE(row.at(17), "incomplete") << options << " " << row.at(2);
    }
    EXPECT_EQ(read, files) << options;
  }
}

TEST(LiveRun, DirectoryRunOfTheRealInstances) {
  fs::path instances = instancesDir();
  if (!fs::is_directory(instances)) GTEST_SKIP() << "no real instances at " << instances;
  if (!tabletest::onPath("xz")) GTEST_SKIP() << "xz is not installed: the compressed instances cannot be unpacked";
  tabletest::ScratchDir scratch;
  fs::path copy = scratch.path() / "instances";
  fs::copy(instances, copy, fs::copy_options::recursive);
  std::vector<std::string> packed;
  for (const auto &entry : fs::recursive_directory_iterator(copy)) {
    fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add);
    if (entry.is_regular_file() && entry.path().extension() == ".xz") packed.push_back(entry.path().string());
  }
  fs::permissions(copy, fs::perms::owner_write, fs::perm_options::add);
  if (!packed.empty()) {
    std::vector<std::string> unpack = {"xz", "-d", "-q"};
    unpack.insert(unpack.end(), packed.begin(), packed.end());
    ASSERT_EQ(tabletest::run(unpack).status, 0);
  }
  std::set<std::string> files;
  for (const auto &entry : fs::recursive_directory_iterator(copy))
    if (entry.is_regular_file() && !entry.is_symlink() && hasQdimacsName(entry.path().filename().string()))
      files.insert(entry.path().string());
  ASSERT_GT(files.size(), 0u);

  tabletest::RunResult tarnu = tabletest::run({TARNU, copy.string()});
  EXPECT_EQ(tarnu.status, static_cast<int>(files.size() % 256));
  tabletest::RunResult table = tabletest::run({TABLE}, tarnu.out);
  EXPECT_EQ(table.status, 0) << table.err;
  EXPECT_EQ(table.err, "");
  std::vector<tabletest::CsvRecord> rows;
  ASSERT_TRUE(tabletest::parseCsv(table.out, rows));
  ASSERT_FALSE(rows.empty());
  rows.erase(rows.begin());
  ASSERT_EQ(rows.size(), files.size());
  std::set<std::string> read;
  for (std::size_t i = 0; i < rows.size(); i++) {
    EXPECT_EQ(rows[i].at(0), "1");
    EXPECT_EQ(rows[i].at(1), std::to_string(i + 1));
    EXPECT_NE(rows[i].at(17), "unreadable") << rows[i].at(1);
    EXPECT_NE(rows[i].at(17), "incomplete") << rows[i].at(2);
    read.insert(rows[i].at(2));
  }
  EXPECT_EQ(read, files);
}
