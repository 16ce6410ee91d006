#include "host/show/metrics/ProcessCollector.h"

#include <dirent.h>
#include <prometheus/metric_family.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

namespace Host {

namespace {

struct Stat {
  double utime = 0, stime = 0, starttime = 0, vsize = 0, rss = 0;
};

// Fields 14, 15, 22, 23 and 24 of /proc/self/stat; the name in field 2 may
// hold spaces and parentheses, so fields are counted from its last ')'.
Stat selfStat() {
  Stat s;
  char buf[1024];
  std::FILE* f = std::fopen("/proc/self/stat", "re");
  if (!f)
    return s;
  std::size_t const n = std::fread(buf, 1, sizeof buf - 1, f);
  std::fclose(f);
  buf[n] = '\0';
  char const* p = std::strrchr(buf, ')');
  if (!p)
    return s;
  unsigned long long utime = 0, stime = 0, start = 0, vsize = 0;
  long long rss = 0;
  if (std::sscanf(p + 2,
                  "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu %*d %*d %*d %*d %*d %*d "
                  "%llu %llu %lld",
                  &utime, &stime, &start, &vsize, &rss) != 5)
    return s;
  double const tick = static_cast<double>(::sysconf(_SC_CLK_TCK));
  s.utime = static_cast<double>(utime) / tick;
  s.stime = static_cast<double>(stime) / tick;
  s.starttime = static_cast<double>(start) / tick;
  s.vsize = static_cast<double>(vsize);
  s.rss = static_cast<double>(rss) * static_cast<double>(::sysconf(_SC_PAGESIZE));
  return s;
}

// The boot time from /proc/stat ("btime"), in seconds since the epoch.
double bootTime() {
  std::FILE* f = std::fopen("/proc/stat", "re");
  if (!f)
    return 0;
  char line[256];
  double bt = 0;
  while (std::fgets(line, sizeof line, f)) {
    unsigned long long v = 0;
    if (std::sscanf(line, "btime %llu", &v) == 1) {
      bt = static_cast<double>(v);
      break;
    }
  }
  std::fclose(f);
  return bt;
}

double openFds() {
  DIR* d = ::opendir("/proc/self/fd");
  if (!d)
    return 0;
  double n = 0;
  while (dirent* e = ::readdir(d)) {
    if (e->d_name[0] != '.')
      ++n;
  }
  ::closedir(d);
  return n - 1;  // the directory's own descriptor
}

prometheus::MetricFamily family(char const* name, char const* help, prometheus::MetricType type,
                                double value) {
  prometheus::MetricFamily f;
  f.name = name;
  f.help = help;
  f.type = type;
  auto& m = f.metric.emplace_back();
  (type == prometheus::MetricType::Counter ? m.counter.value : m.gauge.value) = value;
  return f;
}

}  // namespace

std::vector<prometheus::MetricFamily> ProcessCollector::Collect() const {
  using prometheus::MetricType;
  static double const boot = bootTime();
  Stat const s = selfStat();
  rlimit fds{};
  ::getrlimit(RLIMIT_NOFILE, &fds);
  std::vector<prometheus::MetricFamily> r;
  r.push_back(family("process_cpu_seconds_total",
                     "Total user and system CPU time spent in seconds.", MetricType::Counter,
                     s.utime + s.stime));
  r.push_back(
      family("process_open_fds", "Number of open file descriptors.", MetricType::Gauge, openFds()));
  r.push_back(family("process_max_fds", "Maximum number of open file descriptors.",
                     MetricType::Gauge,
                     fds.rlim_cur == RLIM_INFINITY ? -1 : static_cast<double>(fds.rlim_cur)));
  r.push_back(family("process_virtual_memory_bytes", "Virtual memory size in bytes.",
                     MetricType::Gauge, s.vsize));
  r.push_back(family("process_resident_memory_bytes", "Resident memory size in bytes.",
                     MetricType::Gauge, s.rss));
  r.push_back(family("process_start_time_seconds",
                     "Start time of the process since unix epoch in seconds.", MetricType::Gauge,
                     boot + s.starttime));
  return r;
}

}  // namespace Host
