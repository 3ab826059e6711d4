# make demo: build and install marnox, then write the demo project and pictures.
# make test: build and install marnox, then run the whole test suite.
PYTHON ?= python3
DEMO_OUT ?= marnox-demo

SOURCES := CMakeLists.txt pyproject.toml tools/write_pb2.py tools/write_descriptor_set.py $(shell find cpp src proto -type f \
	\( -name '*.cpp' -o -name '*.h' -o -name '*.py' -o -name '*.pyi' -o -name '*.proto' -o -name 'py.typed' \))

.PHONY: all demo test lint format sanitize matrix bench fuzz soak

all: build/.installed

build/.deps: tools/install-deps.sh pyproject.toml
	PYTHON=$(PYTHON) bash tools/install-deps.sh
	@mkdir -p build && touch $@

build/.installed: build/.deps $(SOURCES)
	$(PYTHON) -m pip install -q --disable-pip-version-check --no-build-isolation ".[test,web,notebook]"
	@touch $@

demo: build/.installed
	$(PYTHON) -m marnox demo --out $(DEMO_OUT)
	$(PYTHON) -m marnox cameras $(DEMO_OUT)/sample-cell.mxproj --out $(DEMO_OUT)/cameras

test: build/.installed
	$(PYTHON) -m pytest -q

lint: build/.deps
	$(PYTHON) -m ruff check src tests bench tools
	$(PYTHON) -m ruff format --check src tests bench tools
	clang-format --dry-run -Werror $(shell find cpp -name '*.cpp' -o -name '*.h')

format: build/.deps
	$(PYTHON) -m ruff format src tests bench tools
	clang-format -i $(shell find cpp -name '*.cpp' -o -name '*.h')

# The test suite against a build with AddressSanitizer and UndefinedBehaviorSanitizer,
# installed into its own virtual environment so the normal build stays as it is.
# LeakSanitizer stops every thread at exit to scan their stacks, and its tracer crashed once
# in a child with three windows' worth of Mesa threads; the sanitized run has Mesa raster on
# the drawing thread, which leaves it fewer threads to stop and draws the same pictures.
SANITIZE_VENV := build/venv-sanitize
SANITIZE_PRELOAD = $(shell gcc -print-file-name=libasan.so):$(shell gcc -print-file-name=libubsan.so):$(CURDIR)/build/keep_loaded.so

build/keep_loaded.so: tools/keep_loaded.c
	@mkdir -p build
	gcc -shared -fPIC -O2 -o $@ $<

sanitize: build/.deps build/keep_loaded.so
	test -x $(SANITIZE_VENV)/bin/python || $(PYTHON) -m venv --system-site-packages $(SANITIZE_VENV)
	$(SANITIZE_VENV)/bin/python -m pip install -q --disable-pip-version-check --no-build-isolation \
		--no-deps -Cbuild-dir=build/sanitize -Ccmake.define.MARNOX_SANITIZE=ON .
	LD_PRELOAD=$(SANITIZE_PRELOAD) \
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/tools/lsan.supp:print_suppressions=0 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	LP_NUM_THREADS=0 \
	MARNOX_SANITIZE=1 PYTHONMALLOC=malloc $(SANITIZE_VENV)/bin/python -m pytest -q -p no:cacheprovider

# The whole suite on Python 3.10 with the oldest numpy, VTK and protobuf the metadata allows,
# and on 3.12 and 3.13 with the newest, each in its own virtual environment.
matrix: build/.deps
	bash tools/run_matrix.sh

# Every benchmark, as one table of medians and ratios to baselines run alongside.
bench: build/.installed
	$(PYTHON) bench/run_all.py

# The generated-input tests with many more examples than the default run.
fuzz: build/.installed
	MARNOX_HYPOTHESIS_PROFILE=long $(PYTHON) -m pytest -q tests/test_fuzz_project_files.py \
		tests/test_fuzz_arguments.py tests/test_fuzz_images.py tests/test_meshes.py

# The long runs at full size.
soak: build/.installed
	MARNOX_SOAK=full $(PYTHON) -m pytest -q tests/test_long_runs.py

# The sdist and a manylinux wheel per supported Python, in dist/ (see tools/build_wheels.sh).
.PHONY: wheel wheel-check
wheel:
	PYTHON=$(PYTHON) bash tools/build_wheels.sh

# What `make wheel` wrote, installed into new environments and used as a user would.
wheel-check: build/.deps
	PYTHON=$(PYTHON) bash tools/check_wheels.sh
