# Two entry points: `make run` builds and starts the program, `make test` builds and runs every test.
# `make tsan` builds the threaded tests under ThreadSanitizer and runs them.
# `make install` (PREFIX, DESTDIR) installs the program; `make deb` builds a Debian package in $(BUILD).
BUILD      ?= build
TESTBUILD  ?= build-test
BENCHBUILD ?= build-bench
TSANBUILD  ?= build-tsan
RUNDIR     ?= run
JOBS       ?= $(shell nproc)
PREFIX     ?= /usr/local
DESTDIR    ?=

.PHONY: run build test tsan bench install deb clean

build:
	scripts/install-deps.sh build
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

# The display is checked first: without one the build would take minutes for nothing.
run:
	@scripts/check-display.sh
	@$(MAKE) --no-print-directory build
	mkdir -p $(RUNDIR)
	cd $(RUNDIR) && ../$(BUILD)/kotarplus $(ARGS)

test:
	scripts/install-deps.sh test
	cmake -S . -B $(TESTBUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKOTAR_SANITIZE=ON -DKOTAR_TESTS=ON
	cmake --build $(TESTBUILD) -j $(JOBS)
	cd $(TESTBUILD) && ctest --output-on-failure --timeout 600 -j 2

tsan:
	scripts/install-deps.sh test
	cmake -S . -B $(TSANBUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKOTAR_TSAN=ON -DKOTAR_TESTS=ON
	cmake --build $(TSANBUILD) -j $(JOBS) --target kotar_tsan_tests
	cd $(TSANBUILD) && ctest -L tsan --output-on-failure --timeout 600 -j 2

install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)" --strip

deb: build
	scripts/install-deps.sh deb
	cd $(BUILD) && cpack -G DEB

bench:
	scripts/install-deps.sh test
	cmake -S . -B $(BENCHBUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DKOTAR_BENCH=ON
	cmake --build $(BENCHBUILD) -j $(JOBS)
	@echo "benchmarks are in $(BENCHBUILD)/bench"

clean:
	rm -rf $(BUILD) $(TESTBUILD) $(BENCHBUILD) $(TSANBUILD)
