# The front door. `make test` sets everything up on a fresh Debian machine,
# builds and runs every test; `make run` starts the agent on the simulated
# appliance; `make bench` measures the agent's cost (BENCHMARKS.md); `make soak`
# and `make fuzz` are the reliability runs (README); `make deb` builds the
# Debian package and `make install` installs (README, "Install on an
# appliance").

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

# Debian packages the build, the tests and the host need; the fuzzers also
# need clang with its libFuzzer runtime, installed by `make fuzz` only.
PACKAGES := cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev \
            libnl-3-dev libnl-route-3-dev libyaml-cpp-dev nlohmann-json3-dev libcli11-dev iproute2 \
            clang-format prometheus-cpp-dev python3-prometheus-client curl libsystemd-dev \
            systemd dpkg-dev file lintian
FUZZ_PACKAGES := clang libclang-rt-14-dev

.PHONY: all deps fuzz-deps build test sanitize bench soak fuzz format format-check run clean \
        install deb check-includes

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
	ninja -C $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest -j $(JOBS) $(CTEST_ARGS)

$(ASAN_BUILD)/build.ninja: | deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=ON \
	  -DCMAKE_INSTALL_PREFIX=$(PREFIX)

sanitize: deps $(ASAN_BUILD)/build.ninja
	ninja -C $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 ctest -j $(JOBS) $(CTEST_ARGS)

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

# The Debian package, from the same build: $(BUILD)/package/*.deb, checked
# by lintian (errors fail) and by tests/packaging/package-test.sh (metadata,
# contents, the unpacked host runs, the unit verifies, its exposure).
deb: deps $(BUILD)/build.ninja
	cmake -S . -B $(BUILD) -DCMAKE_INSTALL_PREFIX=$(PREFIX) >/dev/null
	ninja -C $(BUILD) -j $(JOBS)
	rm -f $(BUILD)/package/*.deb
	cd $(BUILD) && cpack -G DEB -B package
	lintian --fail-on error $(BUILD)/package/*.deb
	tests/packaging/package-test.sh $(BUILD)/package/*.deb

FORMAT_FILES = $(shell git ls-files '*.cpp' '*.h')

format:
	clang-format -i $(FORMAT_FILES)

format-check: deps
	clang-format --dry-run --Werror $(FORMAT_FILES)

# Every include keeps to the layers and rooms (docs/architecture.md).
check-includes:
	python3 tools/check-includes

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(BENCH_BUILD) $(FUZZ_BUILD)
