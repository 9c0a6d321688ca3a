# Entry points for a fresh Debian machine: `make demo` and `make test`.
PYTHON ?= /usr/bin/python3
PRESET ?= release
# Another interpreter gets build folders of its own (build/release-cpython-313), so switching back
# and forth never reconfigures one folder for a different interpreter.
ifneq ($(PYTHON),/usr/bin/python3)
BUILD_SUFFIX := -$(shell $(PYTHON) -c 'import sys; print(sys.implementation.cache_tag)')
endif
BUILD_DIR := build/$(PRESET)$(BUILD_SUFFIX)
JOBS ?= 8

# What the extension module alone needs (make demo, the wheel): ICU's static libraries and the
# tools that cut its data, {fmt}'s headers; RE2 comes with the sources. The tests and clang builds
# need the rest, the wheel its Python build tools (and venv, which CI installs it into).
MODULE_DEPS := g++ cmake ninja-build libicu-dev icu-devtools libfmt-dev python3-dev unicode-data
DEPS := $(MODULE_DEPS) clang-14 libgtest-dev libgmock-dev libbenchmark-dev python3-pytest \
        python3-mypy
WHEEL_DEPS := python3-setuptools python3-wheel python3-build python3-venv
# The peers make bench measures the module against, side by side in one process.
BENCH_DEPS := python3-ciso8601 python3-isodate python3-aniso8601 python3-dateutil \
              python3-pytimeparse
# Debian's pure-Python pytest (and setuptools, wheel and build for make wheel) serve an interpreter
# that has none of its own, offline; the plugins of Debian's interpreter stay out.
ifneq ($(PYTHON),/usr/bin/python3)
DEBIAN_PYTHONPATH := PYTHONPATH=$${PYTHONPATH:+$$PYTHONPATH:}/usr/lib/python3/dist-packages \
                     PYTEST_DISABLE_PLUGIN_AUTOLOAD=1
endif

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

.PHONY: deps module-deps wheel-deps bench-deps configure build test test-asan test-tsan test-clang \
        fuzz demo wheel bench clean

deps:
	$(call apt_install,$(DEPS))

module-deps:
	$(call apt_install,$(MODULE_DEPS))

wheel-deps: module-deps
	$(call apt_install,$(WHEEL_DEPS))

bench-deps: deps
	@echo "make bench compares with CPython's own tools and with Debian's $(BENCH_DEPS)"
	$(call apt_install,$(BENCH_DEPS))

configure: deps
	cmake --preset $(PRESET) -B $(BUILD_DIR) -DPython3_EXECUTABLE=$(PYTHON) >/dev/null

build: configure
	cmake --build $(BUILD_DIR) -j$(JOBS)

# The build's output only when it fails; then every failing test's output, the CTest summary and
# pytest's own counts summed over the test files (from CTest's log, which keeps the output of
# passing tests too). CTEST_ARGS picks tests: CTEST_ARGS="-R python_tests" runs only the Python
# tests of the module.
test: configure
	@cmake --build $(BUILD_DIR) -j$(JOBS) >$(BUILD_DIR)/build.log 2>&1 || \
	 { cat $(BUILD_DIR)/build.log; echo "build failed (log: $(BUILD_DIR)/build.log)"; exit 1; }
	@$(DEBIAN_PYTHONPATH) ctest --test-dir $(BUILD_DIR) -j$(JOBS) --output-on-failure $(CTEST_ARGS) \
	   >$(BUILD_DIR)/ctest.log 2>&1; status=$$?; \
	 grep -v -E '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* +Passed +[0-9.]+ sec$$|^ *Start +[0-9]+: ' \
	   $(BUILD_DIR)/ctest.log | sed -e '/./,$$!d'; \
	 grep -h -E '^[0-9]+ (passed|failed|skipped|xfailed|xpassed|errors?)[ ,]' \
	   $(BUILD_DIR)/Testing/Temporary/LastTest.log 2>/dev/null | sed 's/ in [0-9.]*s.*$$//' | \
	   awk -F', ' '{ files++; for (i = 1; i <= NF; i++) { split($$i, w, " "); n[w[2]] += w[1] } } \
	     END { if (!files) exit; line = ""; split("failed passed skipped xfailed xpassed error errors", order, " "); \
	       for (i = 1; i in order; i++) if (order[i] in n) line = line (line == "" ? "" : ", ") n[order[i]] " " order[i]; \
	       print "pytest: " line " (" files " files)" }'; \
	 exit $$status

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

# Only the extension module, with release flags (the module preset); the build's own output is
# shown only when it fails.
MODULE_DIR := build/module$(BUILD_SUFFIX)
demo: module-deps
	@mkdir -p build
	@{ cmake --preset module -B $(MODULE_DIR) -DPython3_EXECUTABLE=$(PYTHON) && \
	   cmake --build $(MODULE_DIR) --target quarn_rs -j$(JOBS); } >$(MODULE_DIR).log 2>&1 || \
	 { cat $(MODULE_DIR).log; exit 1; }
	@PYTHONPATH=$(CURDIR)/$(MODULE_DIR)/python $(PYTHON) examples/demo.py

# A wheel of the module and its stubs in build/dist, built offline by setup.py through the module
# preset.
# setuptools' staging folders go first: what an older layout left there would be packed too.
wheel: wheel-deps
	@rm -rf build/wheel$(BUILD_SUFFIX) build/lib.* build/bdist.*
	@mkdir -p build/dist
	@$(DEBIAN_PYTHONPATH) CMAKE_BUILD_PARALLEL_LEVEL=$(JOBS) $(PYTHON) -m build --no-isolation \
	   --wheel --outdir build/wheel$(BUILD_SUFFIX) . >build/wheel$(BUILD_SUFFIX).log 2>&1 || \
	 { cat build/wheel$(BUILD_SUFFIX).log; exit 1; }
	@for w in build/wheel$(BUILD_SUFFIX)/*.whl; do \
	   rm -f build/dist/quarn_rs-*-$$(basename $$w | cut -d- -f3)-*.whl; cp $$w build/dist/; \
	   echo "build/dist/$$(basename $$w) ($$(du -k $$w | cut -f1) kB)"; done

bench: bench-deps build
	PYTHON=$(PYTHON) BUILD_DIR=$(BUILD_DIR) bench/run.sh

clean:
	rm -rf build
