# Entry points: `make test` and `make demo` do the whole set-up on a fresh machine,
# then build; both are quick when nothing changed.
SHELL := /bin/bash
VENV := .venv
PY := $(VENV)/bin/python
RELEASE := build/release
SANITIZE := build/sanitize
FUZZ := build/fuzz
FUZZ_SECONDS ?= 30
JOBS ?= 2
SOURCES := $(shell find storage scanner python -name '*.cpp' -o -name '*.h' -o -name CMakeLists.txt) \
           CMakeLists.txt pyproject.toml $(wildcard veltrane_rec/*.py)
INSTALLED := $(VENV)/.module-installed

.PHONY: all setup build install test cpp-test py-test sanitize fuzz demo bench clean

all: build

setup:
	@bash scripts/setup.sh

define configure
	@if [ ! -f $(1)/Makefile ]; then \
	  cmake -S . -B $(1) -DPython_EXECUTABLE=$(abspath $(PY)) \
	    -Dpybind11_DIR=$$($(PY) -m pybind11 --cmakedir) $(2) >/dev/null; fi
endef

# The core, the scanner, the C++ tests and benchmark programs; the module is built by
# the pip install below.
build: setup
	$(call configure,$(RELEASE),-DCMAKE_BUILD_TYPE=Release -DVELTRANE_PYTHON=OFF)
	@cmake --build $(RELEASE) -j $(JOBS)

# The module as pip installs it into .venv; rebuilt only when a source changed.
install: setup $(INSTALLED)
$(INSTALLED): $(SOURCES)
	$(PY) -m pip install -q --disable-pip-version-check --no-build-isolation --no-deps . 2>&1 \
	  | grep -v "^WARNING: Location" || true
	@$(PY) -c "import _veltrane_rec_extension" && touch $@

cpp-test: build
	$(RELEASE)/tests/cpp/core_tests --gtest_brief=1

py-test: install
	cd tests/python && ../../$(PY) -m pytest -q

# The C++ tests, then the Python tests against a module built with AddressSanitizer
# and UndefinedBehaviorSanitizer, with leak detection (scripts/leak_check.py).
sanitize: setup
	$(call configure,$(SANITIZE),-DCMAKE_BUILD_TYPE=Debug -DVELTRANE_SANITIZE=ON)
	@cmake --build $(SANITIZE) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  $(SANITIZE)/tests/cpp/core_tests --gtest_brief=1
	$(PY) scripts/leak_check.py $(SANITIZE) -m "not cluster"

# The scanner's coverage-guided fuzz target, built with clang under ASan and UBSan, run for
# FUZZ_SECONDS from its seeds and the inputs earlier runs kept in $(FUZZ)/corpus. A failing
# input is saved as $(FUZZ)/crash-* (or leak-*, ...).
fuzz: setup
	@if [ ! -f $(FUZZ)/Makefile ]; then \
	  CC=clang CXX=clang++ cmake -S . -B $(FUZZ) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DVELTRANE_SANITIZE=ON -DVELTRANE_FUZZ=ON -DVELTRANE_PYTHON=OFF -DVELTRANE_TESTS=OFF >/dev/null; fi
	@cmake --build $(FUZZ) -j $(JOBS) --target scanner_fuzz
	@mkdir -p $(FUZZ)/corpus
	@$(FUZZ)/tests/fuzz/scanner_fuzz -max_total_time=$(FUZZ_SECONDS) -max_len=4096 \
	  -artifact_prefix=$(FUZZ)/ $(FUZZ)/corpus tests/fuzz/scanner_seeds >$(FUZZ)/run.log 2>&1 \
	  || { tail -n 40 $(FUZZ)/run.log; exit 1; }
	@echo "scanner_fuzz: $$(grep -h '^Done' $(FUZZ)/run.log)"

# The plain Python run comes last so that its summary closes the output.
test: sanitize fuzz cpp-test py-test

demo: install
	$(PY) examples/quickstart.py

bench: install build
	$(PY) bench/run.py $(if $(QUICK),--quick,)

clean:
	rm -rf build $(INSTALLED)
