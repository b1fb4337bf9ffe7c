# Qe_Velumbra: the two commands a new user needs are `make run` and `make test`.
# Both install missing Debian packages first (only when something is missing).

BUILD      ?= build
BUILD_ASAN ?= build-asan
JOBS       ?= $(shell nproc)
CMAKE_FLAGS ?=

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
PACKAGES      := $(shell sed -e 's/\#.*//' packages.txt)
TEST_PACKAGES := $(shell sed -e 's/\#.*//' packages-test.txt)
FUZZ_PACKAGES := $(shell sed -e 's/\#.*//' packages-fuzz.txt)

.PHONY: all deps test-deps fuzz-deps build build-asan test test-release test-asan bench run fuzz screenshot install package clean

all: build

# Installs whichever of the given packages is missing (one apt-get run).
define install_missing
	@missing=""; for p in $(1); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	$(2) \
	if [ -n "$$missing" ]; then \
	  echo "Installing missing packages:$$missing"; \
	  $(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq $$missing; \
	fi
endef

# What building and running need.
deps:
	$(call install_missing,$(PACKAGES),)

# ... and the applications the tests drive (Chromium, Blender, Slurm).
# npm is wanted only where no npm command is there: a Node.js from outside
# Debian brings its own, and Debian's npm package conflicts with it.
test-deps: deps
	$(call install_missing,$(TEST_PACKAGES),command -v npm >/dev/null 2>&1 || missing="$$missing npm";)

fuzz-deps: deps
	$(call install_missing,$(FUZZ_PACKAGES),)

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)

$(BUILD_ASAN)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD_ASAN) -DCMAKE_BUILD_TYPE=Debug -DVELUMBRA_SANITIZE=ON $(CMAKE_FLAGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

build-asan: deps $(BUILD_ASAN)/CMakeCache.txt
	cmake --build $(BUILD_ASAN) -j $(JOBS)

test-release: test-deps build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-asan: test-deps build-asan
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(BUILD_ASAN) --output-on-failure -j $(JOBS)

# The whole suite twice: optimised, then under AddressSanitizer + UBSan.
test: test-release test-asan

bench: build
	@for b in $(BUILD)/bench/bench_*; do [ -x "$$b" ] && { echo "== $$b"; "$$b" || exit 1; }; done

# Renders the README's picture (scenes/readme.json: opaque, a band of stars
# over a sky) from the repository root.
run: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target velumbra
	$(BUILD)/velumbra render scenes/readme.json -o stars.png --depth 8
	@echo "The picture is $(CURDIR)/stars.png (800 x 400, opaque): a band of 60,000 stars"
	@echo "flattened onto a tilted origin object, over a sky of 4,000 on dark blue,"
	@echo "the README's picture. 'velumbra render' alone renders the built-in default"
	@echo "scene (transparent, 640 x 480); docs/velumbra.md has the rest."

# libFuzzer over the scene loader, the PNG and EXR readers, the parameter
# list parser, the .chan reader, frame patterns and star catalogues (clang, AddressSanitizer + UBSan),
# FUZZ_SECONDS each. New inputs collect in $(BUILD_FUZZ)/fuzz/work; a
# finding stops the run and is left in $(BUILD_FUZZ)/fuzz/findings/<target>/:
# fix it, and add the file to fuzz/regressions/<target>/ so that `make test`
# replays it.
BUILD_FUZZ   ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := scene_file png_reader exr_reader param_list chan_file frame_pattern catalogue

$(BUILD_FUZZ)/CMakeCache.txt: | fuzz-deps
	CC=clang CXX=clang++ cmake -S . -B $(BUILD_FUZZ) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELUMBRA_FUZZ=ON \
	  -DVELUMBRA_SANITIZE=ON -DVELUMBRA_TESTS=OFF -DVELUMBRA_BENCH=OFF $(CMAKE_FLAGS)

fuzz: fuzz-deps $(BUILD_FUZZ)/CMakeCache.txt
	@# Configured again so that a target added since the folder was made exists.
	cmake -S . -B $(BUILD_FUZZ) > /dev/null
	cmake --build $(BUILD_FUZZ) -j $(JOBS) --target $(addprefix fuzz_,$(FUZZ_TARGETS))
	@for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(BUILD_FUZZ)/fuzz/work/$$t $(BUILD_FUZZ)/fuzz/findings/$$t; \
	  echo "== fuzz_$$t for $(FUZZ_SECONDS) s"; \
	  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  $(BUILD_FUZZ)/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -timeout=20 -rss_limit_mb=2048 \
	    -print_final_stats=1 -artifact_prefix=$(BUILD_FUZZ)/fuzz/findings/$$t/ \
	    $(BUILD_FUZZ)/fuzz/work/$$t fuzz/corpus/$$t fuzz/regressions/$$t \
	  || { echo "fuzz_$$t found a fault: see $(BUILD_FUZZ)/fuzz/findings/$$t/"; exit 1; }; \
	done

# docs/images/panel.png: the velumbra panel in headless Chromium, for the
# README (the browser test's driver; see cmake/80-browser.cmake).
screenshot: test-deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target screenshot

# Installs the command, the module, the frei0r plug-ins, docs and scenes
# under PREFIX (a relocatable tree: see cmake/90-install.cmake).
PREFIX ?= /usr/local
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# The Debian package (build/package/qe-velumbra_<version>_<arch>.deb) and
# the Blender add-on's zip (build/qe_velumbra-blender.zip).
package: build
	cd $(BUILD) && cpack --config CPackConfig.cmake
	@ls $(BUILD)/package/*.deb $(BUILD)/qe_velumbra-blender.zip

clean:
	rm -rf $(BUILD) $(BUILD_ASAN)
