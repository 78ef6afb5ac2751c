// publish release of the 20,000-file sample client (publish sample --files 20000
// --size-mb 275) into a new tree: on one job and on every core, and, when a second
// publish program is given (one built before a change), that program too, measured in the
// same run. Runs are interleaved and repeated; prints the median wall time, the CPU time
// and the peak memory of each, and checks that every run wrote the same tree.
//
//   publish_bench DIR [REFERENCE_PUBLISH]    prepares DIR/client (once), then measures
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr int kRounds = 5;

struct Measure {
  double wall = 0, cpu = 0;
  long peakMiB = 0;
  bool ok = false;
};

// Runs the program with stdout and stderr discarded; wait4 gives its own CPU time and peak memory.
Measure Run(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  Measure measure;
  const auto start = std::chrono::steady_clock::now();
  pid_t child = 0;
  const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return measure;
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) return measure;
  measure.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  measure.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  measure.peakMiB = usage.ru_maxrss / 1024;
  measure.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return measure;
}

// Other work on the machine stretches every wall time: shown beside the figures.
std::string LoadAverage() {
  char text[64] = "";
  if (std::FILE* file = std::fopen("/proc/loadavg", "r")) {
    if (std::fgets(text, sizeof text, file) == nullptr) text[0] = 0;
    std::fclose(file);
  }
  std::string load(text);
  return load.substr(0, load.find(' '));
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

struct Variant {
  std::string label;
  std::vector<std::string> command;  // without the server folder and what follows it
  std::vector<std::string> options;
  std::vector<Measure> measures;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: publish_bench DIR [REFERENCE_PUBLISH]\n");
    return 2;
  }
  const fs::path dir = fs::absolute(argv[1]);
  const std::string client = (dir / "client").string();
  const std::string publish = PUBLISH_PATH;
  if (!fs::exists(dir / "client" / "velkar")) {
    fs::create_directories(dir);
    if (!Run({publish, "sample", client, "1", "--files", "20000", "--size-mb", "275"}).ok) {
      std::fprintf(stderr, "publish_bench: the sample client could not be made in %s\n", client.c_str());
      return 1;
    }
  }
  // Warm the page cache, so that every run reads the client from memory alike.
  const std::string warm = "find '" + client + "' -type f -print0 | xargs -0 cat > /dev/null";
  if (std::system(warm.c_str()) != 0) return 1;

  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  std::vector<Variant> variants;
  if (argc == 3) variants.push_back({"reference", {fs::absolute(argv[2]).string()}, {}, {}});
  variants.push_back({"--jobs 1", {publish}, {"--jobs", "1"}, {}});
  variants.push_back({"--jobs " + std::to_string(cores) + " (default)", {publish}, {}, {}});

  const fs::path server = dir / "server";
  const std::string loadBefore = LoadAverage();
  for (int round = 0; round < kRounds; ++round) {
    for (std::size_t v = 0; v < variants.size(); ++v) {
      fs::remove_all(server);
      std::vector<std::string> command = variants[v].command;
      for (const std::string& argument :
           {std::string("release"), server.string(), client + "/velkar", std::string("1")})
        command.push_back(argument);
      command.insert(command.end(), variants[v].options.begin(), variants[v].options.end());
      const Measure measure = Run(command);
      if (!measure.ok) {
        std::fprintf(stderr, "publish_bench: %s failed\n", variants[v].label.c_str());
        return 1;
      }
      variants[v].measures.push_back(measure);
      // The first round keeps each tree, to compare them at the end.
      if (round == 0) fs::rename(server, dir / ("tree-" + std::to_string(v)));
    }
  }

  std::printf(
      "publish release of %s (20,000 files, 275 MB sample), %u cores, median of %d runs, load average "
      "%s before and %s after:\n",
      client.c_str(), cores, kRounds, loadBefore.c_str(), LoadAverage().c_str());
  const double base = Median([&] {
    std::vector<double> walls;
    for (const Measure& m : variants[argc == 3 ? 0 : 1].measures) walls.push_back(m.wall);
    return walls;
  }());
  for (const Variant& variant : variants) {
    std::vector<double> walls, cpus;
    long peak = 0;
    for (const Measure& m : variant.measures) {
      walls.push_back(m.wall);
      cpus.push_back(m.cpu);
      peak = std::max(peak, m.peakMiB);
    }
    std::printf("  %-22s wall %6.2f s (%.2f to %.2f)  cpu %6.2f s  peak memory %4ld MiB  %.2f x %s\n",
                variant.label.c_str(), Median(walls), *std::min_element(walls.begin(), walls.end()),
                *std::max_element(walls.begin(), walls.end()), Median(cpus), peak, Median(walls) / base,
                argc == 3 ? "reference" : "one job");
  }
  std::fflush(stdout);
  bool same = true;
  for (std::size_t v = 1; v < variants.size(); ++v) {
    const std::string diff = "diff -r -q '" + (dir / "tree-0").string() + "' '" +
                             (dir / ("tree-" + std::to_string(v))).string() + "' > /dev/null";
    same = same && std::system(diff.c_str()) == 0;
  }
  for (std::size_t v = 0; v < variants.size(); ++v) fs::remove_all(dir / ("tree-" + std::to_string(v)));
  std::printf("trees: %s\n", same ? "identical in every variant" : "DIFFER");
  return same ? 0 : 1;
}
