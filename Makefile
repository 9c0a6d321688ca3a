# Entry points for a fresh Debian machine: `make demo` and `make test`.
PYTHON ?= /usr/bin/python3
PRESET ?= release
BUILD_DIR := build/$(PRESET)
JOBS ?= 8

DEPS := g++ cmake ninja-build pkg-config libicu-dev libre2-dev libfmt-dev \
        clang-14 libgtest-dev libgmock-dev libbenchmark-dev python3-dev python3-pytest \
        unicode-data
BENCH_DEPS := python3-ciso8601 python3-isodate python3-aniso8601 python3-dateutil \
              python3-pytimeparse

# Installs only what is missing, so it is cheap to run every time.
define apt_install
	@missing=""; for p in $(1); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  SUDO=""; [ "$$(id -u)" = 0 ] || SUDO=sudo; \
	  $$SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq $$missing; \
	fi
endef

.PHONY: deps bench-deps configure build test test-asan test-tsan test-clang fuzz demo bench clean

deps:
	$(call apt_install,$(DEPS))

bench-deps: deps
	$(call apt_install,$(BENCH_DEPS))

configure: deps
	cmake --preset $(PRESET) -DPython3_EXECUTABLE=$(PYTHON) >/dev/null

build: configure
	cmake --build $(BUILD_DIR) -j$(JOBS)

test: build
	ctest --test-dir $(BUILD_DIR) -j$(JOBS) --output-on-failure

test-asan:
	$(MAKE) test PRESET=asan

test-tsan:
	$(MAKE) test PRESET=tsan

# The same suites built by clang 14, which the fuzzing build needs.
test-clang:
	$(MAKE) test PRESET=clang

# Fuzzes the parser and the index's extraction side by side for FUZZ_SECONDS (default 60), each
# on FUZZ_JOBS processes, seeded with small chunks of the installed standard library and a
# dictionary of Python tokens. Corpora grow in build/fuzz/corpus/<target>; logs and findings
# land in build/fuzz/findings/<target>.
FUZZ_SECONDS ?= 60
FUZZ_JOBS ?= 1
FUZZ_TARGETS := fuzz_parse_module fuzz_index_extraction
fuzz: deps
	cmake --preset fuzz >/dev/null
	cmake --build build/fuzz -j$(JOBS) --target $(FUZZ_TARGETS)
	@test -d build/fuzz/seed || $(PYTHON) fuzz/make_seeds.py /usr/lib/python3.11 build/fuzz/seed
	@status=0; pids=""; for t in $(FUZZ_TARGETS); do \
	  mkdir -p build/fuzz/corpus/$$t build/fuzz/findings/$$t; \
	  (cd build/fuzz/findings/$$t && ../../bin/$$t -max_total_time=$(FUZZ_SECONDS) \
	    -max_len=4096 -timeout=10 -rss_limit_mb=4096 -dict=$(CURDIR)/fuzz/python.dict \
	    -jobs=$(FUZZ_JOBS) -workers=$(FUZZ_JOBS) ../../corpus/$$t ../../seed \
	    >fuzz.out 2>&1) & pids="$$pids $$!"; \
	done; \
	for p in $$pids; do wait $$p || status=1; done; \
	for t in $(FUZZ_TARGETS); do \
	  echo "== $$t"; grep -h -E "DONE|ERROR|SUMMARY|Test unit written" build/fuzz/findings/$$t/fuzz-*.log; \
	done; exit $$status

demo: build
	@PYTHONPATH=$(CURDIR)/$(BUILD_DIR)/python $(PYTHON) examples/demo.py

bench: bench-deps build
	PYTHON=$(PYTHON) BUILD_DIR=$(BUILD_DIR) bench/run.sh

clean:
	rm -rf build
