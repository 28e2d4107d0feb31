# The two commands: `make run` builds and starts the animation, `make test`
# builds and passes the whole test suite. Everything else is a step of those.

BUILD    ?= build
JOBS     ?= $(shell nproc 2>/dev/null || echo 2)
ARGS     ?=
PREFIX   ?= /usr/local
DESTDIR  ?=

TEST_PACKAGES = libgtest-dev libgmock-dev libbenchmark-dev

CONFIGURE = cmake -S . -Wno-dev
TESTS     = ctest --output-on-failure --timeout 600 -j $(JOBS) --test-dir

.PHONY: all run build test test-release test-sanitize test-packages install uninstall clean

all: build

build:
	$(CONFIGURE) -B $(BUILD)/release -DCMAKE_BUILD_TYPE=Release -DGLYPHFALL_TESTS=OFF
	cmake --build $(BUILD)/release -j $(JOBS)

run: build
	$(BUILD)/release/glyphfall $(ARGS)

test: test-release test-sanitize

test-packages:
	scripts/need-packages $(TEST_PACKAGES)

test-release: test-packages
	$(CONFIGURE) -B $(BUILD)/test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLYPHFALL_WERROR=ON
	cmake --build $(BUILD)/test -j $(JOBS)
	$(TESTS) $(BUILD)/test

test-sanitize: test-packages
	$(CONFIGURE) -B $(BUILD)/sanitize -DCMAKE_BUILD_TYPE=Debug -DGLYPHFALL_WERROR=ON -DGLYPHFALL_SANITIZE=ON
	cmake --build $(BUILD)/sanitize -j $(JOBS)
	ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
		$(TESTS) $(BUILD)/sanitize

install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD)/release --prefix "$(PREFIX)"

uninstall:
	xargs -r -d '\n' rm -f -- < $(BUILD)/release/install_manifest.txt

clean:
	rm -rf $(BUILD)
