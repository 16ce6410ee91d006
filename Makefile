# The front door. `make test` sets everything up on a fresh Debian machine,
# builds and runs every test; `make run` starts the agent on the simulated
# appliance; `make bench` measures the agent's cost (BENCHMARKS.md); `make soak`
# and `make fuzz` are the reliability runs (docs/testing.md); `make deb` builds
# the Debian package and `make install` installs (docs/packaging.md,
# README "On an appliance").

BUILD ?= build
ASAN_BUILD ?= build-asan
JOBS ?= $(shell nproc)
CTEST_ARGS ?= --output-on-failure
APPLIANCE ?= examples/appliance.yaml
# Where `make install` and the package put things (DESTDIR stages them).
PREFIX ?= /usr
BENCH_BUILD ?= build-bench
# Three repetitions of each benchmark, interleaved at random so that load
# from elsewhere on the machine spreads evenly; the summary shows medians.
BENCH_ARGS ?= --benchmark_repetitions=3 --benchmark_enable_random_interleaving=true \
              --benchmark_report_aggregates_only=true
# The soak: SEED picks the faults, HOURS is virtual time.
SEED ?= 20240611
HOURS ?= 1
# The fuzzers: their own clang build with libFuzzer, address and
# undefined-behaviour sanitizers; FUZZ_SECONDS of fuzzing each.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZERS := registerid appliance scenario record
# The arm64 cross build, its suite run under qemu-aarch64 (docs/testing.md,
# "Other architectures"), and the arm64 -dev packages that multiarch cannot install
# beside their amd64 twins (cross/deps.sh).
ARM64_BUILD ?= build-arm64
ARM64_DEV ?= build-arm64-dev

# Debian packages the build, the tests and the host need; the fuzzers also
# need clang with its libFuzzer runtime, installed by `make fuzz` only.
PACKAGES := cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev \
            libnl-3-dev libnl-route-3-dev libmnl-dev libyaml-cpp-dev nlohmann-json3-dev libcli11-dev iproute2 \
            clang-format prometheus-cpp-dev python3-prometheus-client curl libsystemd-dev \
            systemd dbus dpkg-dev debhelper file lintian man-db util-linux
FUZZ_PACKAGES := clang libclang-rt-14-dev
# Debian's Prometheus server, promtool and node_exporter for the monitoring
# tests, taken out of their packages into the build tree (not installed:
# tools/install-monitoring-tools says why), and node_exporter's package
# kept there for the service-manager harness to install in its sandbox.
MONITORING_TOOLS ?= $(BUILD)/monitoring-tools

.PHONY: all deps fuzz-deps build test sanitize bench bench-smoke soak fuzz format format-check run clean \
        install deb check-includes deps-arm64 build-arm64 test-arm64 deb-arm64

all: build

deps:
	@missing=$$(for p in $(PACKAGES); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | \
	    grep -q 'install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "installing: $$missing"; \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	  else \
	    echo "missing packages; run:"; \
	    echo "  sudo apt-get install -y $$missing"; \
	    exit 1; \
	  fi; \
	fi

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=$(PREFIX)

build: deps $(BUILD)/build.ninja
	tools/install-monitoring-tools $(MONITORING_TOOLS)
	ninja -C $(BUILD) -j $(JOBS)

# As root, the package is built first: the service-manager harness
# (tests/system) installs it in its sandbox.
test: build
	if [ "$$(id -u)" = 0 ]; then $(MAKE) --no-print-directory deb; fi
	cd $(BUILD) && ctest -j $(JOBS) $(CTEST_ARGS)

$(ASAN_BUILD)/build.ninja: | deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=ON \
	  -DCMAKE_INSTALL_PREFIX=$(PREFIX)

sanitize: deps $(ASAN_BUILD)/build.ninja
	tools/install-monitoring-tools $(MONITORING_TOOLS)
	cmake -S . -B $(ASAN_BUILD) -DMONITORING_TOOLS_DIR=$(abspath $(MONITORING_TOOLS)) >/dev/null
	ninja -C $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 ctest -j $(JOBS) -LE 'system|packaging' $(CTEST_ARGS)

# Release at -O2 (what Debian builds its packages with; GCC 12 at -O3 also
# raises a false -Wrestrict inside std::string). Root is needed for the
# protodown benchmarks, which are skipped with a message otherwise.
$(BENCH_BUILD)/build.ninja: | deps
	cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG"

bench: deps $(BENCH_BUILD)/build.ninja
	ninja -C $(BENCH_BUILD) -j $(JOBS) agent_bench agenthost
	$(BENCH_BUILD)/bin/agent_bench $(BENCH_ARGS) \
	  --benchmark_out=$(BENCH_BUILD)/bench.json --benchmark_out_format=json

# Every benchmark once, briefly, in the test build (CI): a build error or a
# crash fails it; the numbers and verdicts are `make bench`'s, in its
# Release build.
bench-smoke: build
	ninja -C $(BUILD) -j $(JOBS) agent_bench
	BENCH_HOST_SECONDS=6 $(BUILD)/bin/agent_bench --benchmark_min_time=0.001 \
	  >$(BUILD)/bench-smoke.txt 2>&1; rc=$$?; tail -25 $(BUILD)/bench-smoke.txt; exit $$rc

# The agent on a simulated four-interface appliance for HOURS of virtual time
# under random faults drawn from SEED; a violated invariant names the seed,
# the virtual time and the invariant, and fails.
soak: deps $(BUILD)/build.ninja
	ninja -C $(BUILD) -j $(JOBS) soak
	$(BUILD)/bin/soak --seed $(SEED) --hours $(HOURS)

# Each fuzzer for FUZZ_SECONDS, starting from its corpus in fuzz/corpus (read
# only) and keeping what it learns in $(FUZZ_BUILD)/corpus; a finding is
# written to $(FUZZ_BUILD)/findings and fails the run.
fuzz-deps:
	@$(MAKE) --no-print-directory deps PACKAGES="$(PACKAGES) $(FUZZ_PACKAGES)"

$(FUZZ_BUILD)/build.ninja: | fuzz-deps
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFUZZ=ON \
	  -DCMAKE_CXX_COMPILER=clang++ \
	  "-DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"

fuzz: fuzz-deps $(FUZZ_BUILD)/build.ninja
	ninja -C $(FUZZ_BUILD) -j $(JOBS) $(FUZZERS:%=fuzz_%)
	mkdir -p $(FUZZ_BUILD)/findings
	for f in $(FUZZERS); do \
	  mkdir -p $(FUZZ_BUILD)/corpus/$$f && \
	  $(FUZZ_BUILD)/bin/fuzz_$$f -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	    -artifact_prefix=$(FUZZ_BUILD)/findings/$$f- \
	    $$(case $$f in appliance|scenario) echo -dict=fuzz/yaml.dict;; esac) \
	    $(FUZZ_BUILD)/corpus/$$f fuzz/corpus/$$f || exit 1; \
	done

# The agent in real time on the simulated appliance until Ctrl-C: its CPU
# netdevices as macvlans in a private network namespace when one can be made
# (the host says which), trace lines at levels 0 and 1 on stderr (TRACE
# overrides them), status changes on stdout. RUN_ARGS adds host options, e.g.
# RUN_ARGS="--keep-netns --status status.json".
run: deps $(BUILD)/build.ninja
	ninja -C $(BUILD) -j $(JOBS) agenthost
	exec $(BUILD)/bin/agenthost $(RUN_ARGS) $(APPLIANCE)

# The host, agentctl, the libraries, the service unit, the appliance file
# under /etc and the examples, into PREFIX (staged under DESTDIR when given:
# `make install DESTDIR=/tmp/stage`).
install: build
	cmake --install $(BUILD)

# The Debian package (debian/): dpkg-buildpackage in a copy of the checkout
# under $(BUILD)/debian, so that what it writes beside the source stays in
# the build directory; the package lands in $(BUILD)/package/, is checked by
# lintian (an error or a warning fails) and by tests/packaging/package-test.sh
# (metadata, contents, the unpacked host runs, the unit verifies, its
# exposure, the manual pages). Made again only when a tracked file changed.
DEB_WORK := $(BUILD)/debian
DEB_STAMP := $(BUILD)/package/.checked
# build/package/ also holds the arm64 package (deb-arm64): each target takes
# its own architecture's files only.
DEB_ARCH := $(shell dpkg --print-architecture 2>/dev/null)
deb: $(DEB_STAMP)

$(DEB_STAMP): $(wildcard $(shell git ls-files 2>/dev/null)) | deps
	rm -rf $(DEB_WORK) $(BUILD)/package/*_$(DEB_ARCH).deb
	mkdir -p $(DEB_WORK)/src $(BUILD)/package
	git ls-files -z -co --exclude-standard | tar -c --null --ignore-failed-read -T - -f - | \
	  tar -x -C $(DEB_WORK)/src
	# debhelper gives the build a HOME of its own; ccache keeps the user's cache.
	cache=$$(command -v ccache >/dev/null && \
	  echo "CCACHE_DIR=$$(ccache -k cache_dir) CCACHE_BASEDIR=$$(ccache -k base_dir)"); \
	cd $(DEB_WORK)/src && env $$cache DEB_BUILD_OPTIONS="nocheck parallel=$(JOBS)" \
	  dpkg-buildpackage -b -us -uc >../build.log 2>&1 || { tail -40 ../build.log; exit 1; }
	mv $(DEB_WORK)/*.deb $(BUILD)/package/
	lintian --pedantic -I --fail-on error,warning $(BUILD)/package/*_$(DEB_ARCH).deb
	tests/packaging/package-test.sh $(BUILD)/package/bcm53134-agent_*_$(DEB_ARCH).deb
	touch $@

# The cross toolchain, qemu-user (never its binfmt registration) and the arm64
# build dependencies, beside the amd64 ones.
deps-arm64: deps
	cross/deps.sh $(ARM64_DEV)

$(ARM64_BUILD)/build.ninja: | deps-arm64
	cmake -S . -B $(ARM64_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake -DARM64_DEV_DIR=$(abspath $(ARM64_DEV)) \
	  -DNATIVE_BIN_DIR=$(abspath $(BUILD))/bin -DCMAKE_INSTALL_PREFIX=$(PREFIX) \
	  $$(command -v ccache >/dev/null && echo -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

build-arm64: deps-arm64 $(ARM64_BUILD)/build.ninja
	nice ninja -C $(ARM64_BUILD) -j $(JOBS)

# The arm64 suite under emulation, and the comparison of its timelines with
# the native build's; the monitoring tests run the emulated host under the
# native build's Prometheus tools. What the emulator cannot carry skips with
# the reason (docs/testing.md, "Other architectures").
test-arm64: build build-arm64
	cmake -S . -B $(ARM64_BUILD) -DMONITORING_TOOLS_DIR=$(abspath $(MONITORING_TOOLS)) >/dev/null
	cd $(ARM64_BUILD) && nice ctest -j $(JOBS) $(CTEST_ARGS)

# The arm64 package, cross-built from the same debian/ directory by
# dpkg-buildpackage -a arm64 in a copy of the checkout under
# $(BUILD)/debian-arm64. It lands in $(BUILD)/package/ beside the amd64 one
# and is checked by lintian as that one is, by dpkg-deb (its architecture)
# and `file` (every program and library in it an arm64 ELF), and its
# unpacked host passes a shipped scenario under qemu-aarch64 with the agent
# library of the package. libyaml-cpp-dev and
# prometheus-cpp-dev come unpacked from $(ARM64_DEV) (cross/deps.sh says
# why); every other build dependency is checked as usual.
DEB_ARM64_WORK := $(BUILD)/debian-arm64
ARM64_DEV_ABS = $(abspath $(ARM64_DEV))
deb-arm64: deps-arm64
	rm -rf $(DEB_ARM64_WORK) $(BUILD)/package/*_arm64.deb
	mkdir -p $(DEB_ARM64_WORK)/src $(BUILD)/package
	git ls-files -z -co --exclude-standard | tar -c --null --ignore-failed-read -T - -f - | \
	  tar -x -C $(DEB_ARM64_WORK)/src
	unmet=$$(cd $(DEB_ARM64_WORK)/src && dpkg-checkbuilddeps -a arm64 2>&1 | \
	  sed -n 's/.*Unmet build dependencies: //p' | tr ' ' '\n' | \
	  grep -vxE 'libyaml-cpp-dev|prometheus-cpp-dev' || true); \
	  [ -z "$$unmet" ] || { echo "unmet arm64 build dependencies: $$unmet"; exit 1; }
	cd $(DEB_ARM64_WORK)/src && CMAKE_PREFIX_PATH=$(ARM64_DEV_ABS)/usr \
	  PKG_CONFIG_PATH=$(ARM64_DEV_ABS)/usr/lib/aarch64-linux-gnu/pkgconfig \
	  DEB_BUILD_OPTIONS="nocheck parallel=$(JOBS)" nice dpkg-buildpackage -a arm64 -d -b -us -uc \
	  >../build.log 2>&1 || { tail -40 ../build.log; exit 1; }
	mv $(DEB_ARM64_WORK)/*.deb $(BUILD)/package/
	lintian --pedantic -I --fail-on error,warning $(BUILD)/package/*_arm64.deb
	deb=$$(ls $(BUILD)/package/bcm53134-agent_*_arm64.deb) && \
	  arch=$$(dpkg-deb -f $$deb Architecture) && [ "$$arch" = arm64 ] || \
	  { echo "$$deb: architecture $$arch"; exit 1; }; \
	  rm -rf $(DEB_ARM64_WORK)/unpacked && dpkg-deb -x $$deb $(DEB_ARM64_WORK)/unpacked
	elves=$$(find $(DEB_ARM64_WORK)/unpacked -type f -exec file {} + | grep ': *ELF'); \
	  echo "$$elves" | grep -q 'bin/agenthost:.*ARM aarch64' && \
	  ! echo "$$elves" | grep -v 'ELF 64-bit LSB .*ARM aarch64' || \
	  { echo "not all arm64 programs: $$elves"; exit 1; }
	u=$(abspath $(DEB_ARM64_WORK))/unpacked; out=$(DEB_ARM64_WORK)/scenario.out; \
	  qemu-aarch64 $$u/usr/bin/agenthost --sim-cpu --scenario \
	  $$u/usr/share/agenthost/examples/scenarios/link-down-without-cpu-netdevice.yaml >$$out 2>&1 && \
	  grep -q "^agent: Bcm53134Agent from $$u/" $$out && grep -q '^result: [0-9]* passed, 0 failed$$' $$out || \
	  { cat $$out; exit 1; }
	@echo "deb-arm64: $$(ls $(BUILD)/package/*_arm64.deb | tr '\n' ' ')- lintian clean, arm64 ELFs, scenario passed"

FORMAT_FILES = $(shell git ls-files '*.cpp' '*.h')

format:
	clang-format -i $(FORMAT_FILES)

format-check: deps
	clang-format --dry-run --Werror $(FORMAT_FILES)

# Every include keeps to the layers and rooms (docs/architecture.md).
check-includes:
	python3 tools/check-includes

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(BENCH_BUILD) $(FUZZ_BUILD) $(ARM64_BUILD)
