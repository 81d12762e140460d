# Entry points: `make test` and `make demo` do the whole set-up on a fresh machine,
# then build; both are quick when nothing changed.
SHELL := /bin/bash
.SHELLFLAGS := -e -o pipefail -c
VENV := .venv
PY := $(VENV)/bin/python
RELEASE := build/release
SANITIZE := build/sanitize
FUZZ := build/fuzz
FUZZ_SECONDS ?= 30
JOBS ?= 2
SOURCES := $(shell find storage scanner python cmake -name '*.cpp' -o -name '*.h' -o -name '*.pyi' \
             -o -name '*.cmake' -o -name CMakeLists.txt) CMakeLists.txt pyproject.toml scripts/third_party.py \
           $(wildcard veltrane_rec/*.py)
INSTALLED := $(VENV)/.module-installed
PIP_INSTALL := -m pip install -q --disable-pip-version-check

.PHONY: all setup build install test cpp-test consumer-test py-test sanitize fuzz demo bench matrix dist portable-wheel clean

all: build

setup:
	@bash scripts/setup.sh

# Configures the build folder $(1) with the CMake arguments $(2); again whenever the
# arguments differ from the ones it was last configured with.
define configure
	@args="-DPython_EXECUTABLE=$(abspath $(PY)) -Dpybind11_DIR=$$($(PY) -m pybind11 --cmakedir) $(2)"; \
	if [ ! -f $(1)/CMakeCache.txt ] || [ "$$args" != "$$(cat $(1)/configured-with 2>/dev/null)" ]; then \
	  cmake -S . -B $(1) $$args >/dev/null; echo "$$args" > $(1)/configured-with; fi
endef

# The core, the scanner, the C++ tests and benchmark programs; the module is built by
# the pip install below.
build: setup
	$(call configure,$(RELEASE),-DCMAKE_BUILD_TYPE=Release -DVELTRANE_PYTHON=OFF -DVELTRANE_TESTS=ON)
	@cmake --build $(RELEASE) -j $(JOBS)

# The module as pip installs it into .venv; rebuilt only when a source changed.
install: setup $(INSTALLED)
$(INSTALLED): $(SOURCES)
	$(PY) $(PIP_INSTALL) --no-build-isolation --no-deps .
	@$(PY) -c "import _veltrane_rec_extension" && touch $@

cpp-test: build
	$(RELEASE)/tests/cpp/core_tests --gtest_brief=1

# The C++ library as a consumer sees it: installed by a plain `cmake --install`, then
# found by a small project of its own (tests/consumer) that is built and run.
CONSUMER := build/consumer
consumer-test: build
	@rm -rf $(CONSUMER)
	@cmake --install $(RELEASE) --prefix $(abspath $(CONSUMER))/installed >/dev/null
	@cmake -S tests/consumer -B $(CONSUMER)/build -DCMAKE_PREFIX_PATH=$(abspath $(CONSUMER))/installed >/dev/null
	@cmake --build $(CONSUMER)/build >/dev/null
	$(CONSUMER)/build/consumer

py-test: install
	cd tests/python && ../../$(PY) -m pytest -q

# The C++ tests, then the Python tests against a module built with AddressSanitizer
# and UndefinedBehaviorSanitizer, with leak detection (scripts/leak_check.py); the type
# checks, which hold no memory handling of ours, run in the plain Python run only.
sanitize: setup
	$(call configure,$(SANITIZE),-DCMAKE_BUILD_TYPE=Debug -DVELTRANE_SANITIZE=ON -DVELTRANE_PYTHON=ON -DVELTRANE_TESTS=ON)
	@cmake --build $(SANITIZE) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  $(SANITIZE)/tests/cpp/core_tests --gtest_brief=1
	$(PY) scripts/leak_check.py $(SANITIZE) -m "not cluster" --ignore=test_typing.py

# The scanner's coverage-guided fuzz target, built with clang under ASan and UBSan, run for
# FUZZ_SECONDS from its seeds and the inputs earlier runs kept in $(FUZZ)/corpus. A failing
# input is saved as $(FUZZ)/crash-* (or leak-*, ...).
fuzz: setup
	$(call configure,$(FUZZ),-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTRANE_SANITIZE=ON -DVELTRANE_FUZZ=ON -DVELTRANE_PYTHON=OFF -DVELTRANE_TESTS=OFF)
	@cmake --build $(FUZZ) -j $(JOBS) --target scanner_fuzz
	@mkdir -p $(FUZZ)/corpus
	@$(FUZZ)/tests/fuzz/scanner_fuzz -max_total_time=$(FUZZ_SECONDS) -max_len=4096 \
	  -artifact_prefix=$(FUZZ)/ $(FUZZ)/corpus tests/fuzz/scanner_seeds >$(FUZZ)/run.log 2>&1 \
	  || { tail -n 40 $(FUZZ)/run.log; exit 1; }
	@echo "scanner_fuzz: $$(grep -h '^Done' $(FUZZ)/run.log)"

# The plain Python run comes last so that its summary closes the output.
test: sanitize fuzz cpp-test consumer-test py-test

# The Python tests on every other supported interpreter the machine has (3.8 to 3.13
# besides the development one), and on 3.11 once more with NumPy 1.26.
matrix: setup
	@bash scripts/matrix.sh

# dist/: the source distribution and one manylinux2014 wheel per interpreter, each tried
# in a fresh environment (scripts/dist.sh).
dist: setup
	@bash scripts/dist.sh

# The reference interpreter's wheel from the portable toolchain, its manylinux tag checked
# and its import tried (CI runs it; `make dist` builds and tests every wheel).
portable-wheel: setup
	@bash scripts/dist.sh --reference

demo: install
	$(PY) examples/quickstart.py

bench: install build
	$(PY) bench/run.py $(if $(QUICK),--quick,)

clean:
	rm -rf build $(INSTALLED)
