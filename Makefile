# make demo: build and install marnox, then write the demo project and pictures.
# make test: build and install marnox, then run the whole test suite.
PYTHON ?= python3
DEMO_OUT ?= marnox-demo

SOURCES := CMakeLists.txt pyproject.toml $(shell find cpp src proto -type f \
	\( -name '*.cpp' -o -name '*.h' -o -name '*.py' -o -name '*.pyi' -o -name '*.proto' -o -name 'py.typed' \))

.PHONY: all demo test lint format

all: build/.installed

build/.deps: tools/install-deps.sh pyproject.toml
	PYTHON=$(PYTHON) bash tools/install-deps.sh
	@mkdir -p build && touch $@

build/.installed: build/.deps $(SOURCES)
	$(PYTHON) -m pip install -q --disable-pip-version-check --no-build-isolation --no-deps .
	@touch $@

demo: build/.installed
	$(PYTHON) -m marnox demo --out $(DEMO_OUT)

test: build/.installed
	$(PYTHON) -m pytest -q

lint: build/.deps
	$(PYTHON) -m ruff check src tests bench
	$(PYTHON) -m ruff format --check src tests bench
	clang-format --dry-run -Werror $(shell find cpp -name '*.cpp' -o -name '*.h')

format: build/.deps
	$(PYTHON) -m ruff format src tests bench
	clang-format -i $(shell find cpp -name '*.cpp' -o -name '*.h')
