# The two commands: `make run` builds and starts the animation, `make test`
# builds and passes the whole test suite. Everything else is a step of those,
# but `check`, the quick loop before each commit. `make help` lists the
# targets, each with the `##` line above its rule: every target has one.

BUILD    ?= build
JOBS     ?= $(shell nproc 2>/dev/null || echo 2)
ARGS     ?=
PREFIX   ?= /usr/local
DESTDIR  ?=

# The Debian package's tests build it (build-essential and debhelper, with the
# rest of debian/control's Build-Depends), check it with lintian and
# hardening-check (devscripts), and build it again with reprotest and faketime.
TEST_PACKAGES = libgtest-dev libgmock-dev libbenchmark-dev groff-base mandoc dpkg-dev lintian devscripts \
                tmux valgrind zsh fish screen build-essential debhelper reprotest faketime
# What `check` needs besides g++, CMake and make.
CHECK_PACKAGES = libgtest-dev clang-format
# What `package` needs besides the build dependencies in debian/control; gpg
# checks the tarball's signature.
PACKAGE_PACKAGES = dpkg-dev gpg gpgv
FUZZ_PACKAGES = clang libclang-rt-14-dev
FUZZ_SECONDS ?= 60
LINT_PACKAGES = clang-tidy clang-format
CROSS_PACKAGES = g++-i686-linux-gnu g++-arm-linux-gnueabihf g++-aarch64-linux-gnu g++-s390x-linux-gnu qemu-user \
                 libgtest-dev
# The cross compilers of the release only.
RELEASE_PACKAGES = g++-arm-linux-gnueabi g++-powerpc64le-linux-gnu g++-riscv64-linux-gnu g++-mips64el-linux-gnuabi64
CLANG_PACKAGES = clang
# buildah makes the container image, jq reads its manifests; the image's
# tests run it with podman (and runc), read it with skopeo, and publish it to
# Debian's docker-registry.
IMAGE_PACKAGES = buildah jq
IMAGE_TEST_PACKAGES = podman runc skopeo docker-registry
# apt-ftparchive (apt-utils) makes the APT repository's indices, gpg signs them.
APT_PACKAGES = apt-utils gpg gpgv xz-utils
# What test-terminals drives the emulators with: a private X server,
# screenshots, keys and resizes, a session bus for those that need one, fonts
# and software OpenGL; then the emulators themselves, any of which may be
# missing: the test skips those.
TERMINAL_TOOL_PACKAGES = xvfb xdotool imagemagick dbus-daemon dbus-x11 fonts-dejavu-core libgl1-mesa-dri
TERMINAL_PACKAGES = xterm rxvt-unicode stterm mlterm kitty alacritty xfce4-terminal gnome-terminal konsole \
                    lxterminal terminator tilix qterminal sakura

# The cross builds, each with its toolchain file in cmake/toolchains.
CROSS_TARGETS = i686-linux-gnu arm-linux-gnueabihf aarch64-linux-gnu s390x-linux-gnu
# Debian's release architectures, each with the GNU triple of its toolchain;
# the first is this machine's.
RELEASE_TARGETS = amd64=x86_64-linux-gnu i386=i686-linux-gnu armhf=arm-linux-gnueabihf armel=arm-linux-gnueabi \
                  arm64=aarch64-linux-gnu ppc64el=powerpc64le-linux-gnu s390x=s390x-linux-gnu \
                  riscv64=riscv64-linux-gnu mips64el=mips64el-linux-gnuabi64
# Each of RELEASE_TARGETS with its platform in the container image: os/arch[/variant].
IMAGE_PLATFORMS = amd64=linux/amd64 i386=linux/386 armhf=linux/arm/v7 armel=linux/arm/v5 arm64=linux/arm64/v8 \
                  ppc64el=linux/ppc64le s390x=linux/s390x riscv64=linux/riscv64 mips64el=linux/mips64le

# What `install` puts under PREFIX (`make installed` lists it); the install
# and package tests keep this list in step with the CMake install rules.
INSTALLED = bin/glyphfall share/man/man6/glyphfall.6 share/bash-completion/completions/glyphfall \
            share/zsh/vendor-completions/_glyphfall share/fish/vendor_completions.d/glyphfall.fish

# The version, as CMakeLists.txt gives it.
VERSION  := $(shell awk '/^project/ { for (i = 1; i < NF; i++) if ($$i == "VERSION") print $$(i + 1) }' CMakeLists.txt)
DIST      = $(BUILD)/dist
DEB       = $(BUILD)/deb
DEBS      = $(BUILD)/debs

CONFIGURE = cmake -S . -Wno-dev
TESTS     = ctest --output-on-failure --timeout 600 -j $(JOBS) --test-dir

.PHONY: all help run build check test test-release test-sanitize test-fuzz test-cross $(CROSS_TARGETS:%=test-cross-%) test-clang \
        test-packages cross-packages bench-build bench bench-process install uninstall package debs sbuild dist release \
        test-dist image test-image test-terminals publish-image lint format-check clean

## the default: the same as build
all: build

## build the program in build/release (Release, hardened)
build:
	$(CONFIGURE) -B $(BUILD)/release -DCMAKE_BUILD_TYPE=Release -DGLYPHFALL_TESTS=OFF
	cmake --build $(BUILD)/release -j $(JOBS)

# The program runs as the terminal's foreground job, so Ctrl-C reaches it and
# not make (scripts/foreground says why).
## build and start the animation; options in ARGS='-r 42 -s 20'; Ctrl-C ends it
run: build
	scripts/foreground $(BUILD)/release/glyphfall $(ARGS)

## list the targets, each with what it does
help:
	@scripts/make-help $(firstword $(MAKEFILE_LIST))

# The quick loop, before each commit: the native build with warnings as
# errors (incremental, in $(BUILD)/check), its unit and end-to-end tests, the
# format check and the targets' help. It installs nothing, so it needs no
# root and no network: missing packages are named. Nothing that drives other
# programs, builds packages, cross builds, containers or a browser: that is
# for `test`.
## the quick loop before a commit: -Werror build, unit and end-to-end tests, format, help
check:
	scripts/need-packages --name-only $(CHECK_PACKAGES)
	$(CONFIGURE) -B $(BUILD)/check -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLYPHFALL_WERROR=ON -DGLYPHFALL_TOOL_TESTS=OFF
	cmake --build $(BUILD)/check -j $(JOBS)
	$(TESTS) $(BUILD)/check
	scripts/check-format
	tests/check_make_help.sh .

## the whole test suite, as CI runs it: lint and every test-* target (about 24 minutes)
test: lint test-release test-sanitize test-fuzz test-cross test-clang test-dist test-image test-site

## install the Debian packages that the tests need (as root), or name them
test-packages:
	scripts/need-packages $(TEST_PACKAGES)

## the test build with -Werror: unit, end-to-end, tool, package and sbuild tests
test-release: test-packages
	$(CONFIGURE) -B $(BUILD)/test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLYPHFALL_WERROR=ON -DGLYPHFALL_BENCH=ON
	cmake --build $(BUILD)/test -j $(JOBS)
	$(TESTS) $(BUILD)/test

## the unit and end-to-end tests under ASan and UBSan
test-sanitize: test-packages
	$(CONFIGURE) -B $(BUILD)/sanitize -DCMAKE_BUILD_TYPE=Debug -DGLYPHFALL_WERROR=ON -DGLYPHFALL_SANITIZE=ON
	cmake --build $(BUILD)/sanitize -j $(JOBS)
	ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
		$(TESTS) $(BUILD)/sanitize

# The fuzz targets, built with clang's libFuzzer in a build of their own, each
# run for FUZZ_SECONDS over its seed corpus (fuzz/corpus).
## each libFuzzer target for FUZZ_SECONDS over its corpus
test-fuzz:
	scripts/need-packages $(FUZZ_PACKAGES)
	cmake -S fuzz -B $(BUILD)/fuzz -Wno-dev -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(BUILD)/fuzz -j $(JOBS)
	fuzz/run $(BUILD)/fuzz $(FUZZ_SECONDS)

# Static builds for 32-bit x86 (x87), 32-bit ARM, 64-bit ARM and big-endian
# s390x, each running its unit and end-to-end tests under qemu-user, and
# drawing the frames of the release test build byte for byte
# (tests/same_frames.cpp). The x86 programs run natively where the kernel runs
# them (its toolchain file tries one and says which way), or when
# GLYPHFALL_I386_QEMU=1 is set, under qemu-i386 too; so in the release.
## every test-cross-<triple>
test-cross: $(CROSS_TARGETS:%=test-cross-%)

## install the cross compilers and qemu-user of the cross builds
cross-packages:
	scripts/need-packages $(CROSS_PACKAGES)

## one static cross build: its tests under qemu-user, the native frames byte for byte
$(CROSS_TARGETS:%=test-cross-%): test-cross-%: test-release cross-packages
	$(CONFIGURE) -B $(BUILD)/$* --toolchain cmake/toolchains/$*.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DGLYPHFALL_WERROR=ON -DGLYPHFALL_NATIVE_BUILD=$(abspath $(BUILD)/test)
	cmake --build $(BUILD)/$* -j $(JOBS)
	$(TESTS) $(BUILD)/$*

# The whole suite again, built by clang++ with libstdc++.
## the test build again with clang++
test-clang: test-packages
	scripts/need-packages $(CLANG_PACKAGES)
	$(CONFIGURE) -B $(BUILD)/clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DGLYPHFALL_WERROR=ON -DGLYPHFALL_BENCH=ON -DGLYPHFALL_RELEASE_TESTS=OFF
	cmake --build $(BUILD)/clang -j $(JOBS)
	$(TESTS) $(BUILD)/clang

# Benchmarks, in a release build of their own; docs/performance.md has the
# figures. `bench`: the parts of a frame against copying the frame's bytes.
# `bench-process`: the whole program in a pseudo-terminal against a program
# that only writes the same frames. The machine is shared and noisy, so both
# report ratios within one run and the spread over repetitions.
BENCH_ARGS   ?=
BENCH_SIZE   ?= 400x120
BENCH_FRAMES ?= 1000
BENCH_RUNS   ?= 5

## build the benchmarks in build/bench
bench-build:
	scripts/need-packages libbenchmark-dev
	$(CONFIGURE) -B $(BUILD)/bench -DCMAKE_BUILD_TYPE=Release -DGLYPHFALL_TESTS=OFF -DGLYPHFALL_BENCH=ON
	cmake --build $(BUILD)/bench -j $(JOBS)

## the parts of a frame against a memcpy of its bytes (BENCH_ARGS)
bench: bench-build
	$(BUILD)/bench/bench/frame_bench $(BENCH_ARGS)

## the whole program in a pseudo-terminal against a program that only writes its frames
bench-process: bench-build
	$(BUILD)/bench/bench/process_measure $(BUILD)/bench/glyphfall $(BENCH_SIZE) $(BENCH_FRAMES) $(BENCH_RUNS)

## install under DESTDIR and PREFIX (/usr/local)
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD)/release --prefix "$(PREFIX)"

## remove what install put there, given the same PREFIX and DESTDIR
uninstall:
	for file in $(INSTALLED); do rm -f -- "$(DESTDIR)$(PREFIX)/$$file"; done

.PHONY: installed
## list the files that install puts under PREFIX
installed:
	@printf '%s\n' $(INSTALLED)

# The Debian source and binary packages of the last commit, in $(DEB): the
# source tarball as the orig tarball, debian/ as the packaging
# (scripts/debian-package).
## the Debian source and binary packages of the last commit, in build/deb
package: dist
	scripts/need-packages $(PACKAGE_PACKAGES)
	scripts/debian-package --binary $(DIST)/glyphfall-$(VERSION).tar.gz $(DEB) -j$(JOBS)

# The source package of the last commit and its binary package for each of
# Debian's release architectures, in $(DEBS) and nothing else there:
# glyphfall_<version>-1.dsc, .debian.tar.xz, the orig tarball (and its .asc
# when the release tarball is signed), glyphfall_<version>-1_<arch>.deb for
# each of RELEASE_TARGETS. Each build's -dbgsym package, .changes, .buildinfo
# and log go to $(DEBS)/builds. amd64 is built natively with its tests, the
# others cross-built, riscv64 in Debian 13 (scripts/debian-debs).
## the source package and a binary package for each of the nine architectures, in build/debs
debs: dist
	scripts/need-packages $(PACKAGE_PACKAGES)
	rm -rf $(DEBS)
	scripts/debian-package $(DIST)/glyphfall-$(VERSION).tar.gz $(DEBS)
	rm -rf $(DEBS)/glyphfall-$(VERSION)
	scripts/debian-debs $(DEBS)/glyphfall_*.dsc $(foreach target,$(RELEASE_TARGETS),$(firstword $(subst =, ,$(target))))

# The source package of the last commit built as Debian's build daemons build
# it, in $(BUILD)/sbuild: sbuild in a clean Debian 12 chroot, then lintian and
# autopkgtest (scripts/debian-sbuild).
## the source package built by sbuild in a clean Debian 12 chroot, with lintian and autopkgtest
sbuild: dist
	scripts/need-packages $(PACKAGE_PACKAGES)
	scripts/debian-package $(DIST)/glyphfall-$(VERSION).tar.gz $(BUILD)/sbuild
	scripts/debian-sbuild $(BUILD)/sbuild/glyphfall_*.dsc

# The source tarball, $(DIST)/glyphfall-$(VERSION).tar.gz: the committed files.
## the source tarball of the last commit, in build/dist
dist:
	scripts/dist glyphfall-$(VERSION) $(DIST)

# The release: the source tarball, and from it alone a tested static program
# for each of RELEASE_TARGETS, packed as $(DIST)/glyphfall-$(VERSION)-linux-<arch>.tar.gz;
# then the container image of those programs (`image`) and the bill of
# materials, $(DIST)/glyphfall-$(VERSION).cdx.json (scripts/bom); $(DIST)/SHA256SUMS
# over them all. SIGNING_KEY=<fingerprint> signs the tarball and SHA256SUMS
# with that key of the maintainer's gpg keyring (scripts/sign); without it the
# release is unsigned.
SIGNING_KEY ?=
## the release in build/dist: tarball, nine programs, image, bill of materials, SHA256SUMS; SIGNING_KEY signs
release: dist test-packages cross-packages
	scripts/need-packages $(RELEASE_PACKAGES) $(IMAGE_PACKAGES) gpg gpgv
	scripts/release $(DIST)/glyphfall-$(VERSION).tar.gz $(BUILD)/archives $(JOBS) $(RELEASE_TARGETS)
	scripts/image $(DIST)/glyphfall-$(VERSION).tar.gz $(BUILD)/oci $(IMAGE_PLATFORMS)
	scripts/bom $(DIST)/glyphfall-$(VERSION).tar.gz $(BUILD)/archives
	scripts/sign $(DIST)/glyphfall-$(VERSION).tar.gz $(SIGNING_KEY)

# `image` and `site` take the release that `make release` left in $(DIST):
# without one they stop at once, before building anything.
ifneq ($(filter image site,$(MAKECMDGOALS)),)
ifeq ($(filter release test%,$(MAKECMDGOALS))$(wildcard $(DIST)/SHA256SUMS),)
$(error no release in $(DIST): run make release first)
endif
endif

# The container image, $(DIST)/glyphfall-$(VERSION)-oci.tar, made again from
# the archives in $(DIST) that `release` made: an OCI image layout archive of
# one image FROM scratch for each of IMAGE_PLATFORMS, holding the program of
# its archive (scripts/image); the bill of materials made again, as it names
# the image; SHA256SUMS updated, and signed again with SIGNING_KEY.
## the container image again, from the archives of make release
image:
	scripts/need-packages $(IMAGE_PACKAGES) gpg gpgv
	scripts/image $(DIST)/glyphfall-$(VERSION).tar.gz $(BUILD)/oci $(IMAGE_PLATFORMS)
	scripts/bom $(DIST)/glyphfall-$(VERSION).tar.gz $(BUILD)/archives
	scripts/sign $(DIST)/glyphfall-$(VERSION).tar.gz $(SIGNING_KEY)

# The nine images and their index, as the image in $(DIST) holds them, copied
# to REGISTRY=host[:port]/path as path/glyphfall:$(VERSION) and :latest, one
# digest. With SIGNING_KEY=<fingerprint> (gpg, GNUPGHOME as usual) skopeo signs
# both tags, and the signatures go into $(SIGNATURES), laid out as a
# registries.d lookaside, which `make site` publishes (scripts/publish-image).
# PUBLISH_FLAGS go to skopeo copy: --dest-creds USER:PASSWORD, --dest-tls-verify=false.
REGISTRY      ?=
PUBLISH_FLAGS ?=
SIGNATURES    ?= $(BUILD)/signatures
## copy the image to REGISTRY=host[:port]/path as :VERSION and :latest; SIGNING_KEY signs
publish-image:
	@[ -n "$(REGISTRY)" ] || { echo "usage: make publish-image REGISTRY=host[:port]/path [SIGNING_KEY=...]" >&2; exit 2; }
	scripts/need-packages skopeo
	scripts/publish-image $(DIST)/glyphfall-$(VERSION)-oci.tar $(REGISTRY)/glyphfall $(VERSION) "$(SIGNING_KEY)" \
		$(SIGNATURES) $(PUBLISH_FLAGS)

# What was released against the commit, then a second release from a second
# clone, elsewhere, later, under another umask: the same bytes.
## make release, checked against the commit and against a second release from another clone
test-dist: release
	tests/check_release.sh . $(DIST) glyphfall-$(VERSION)

# The image of the release, in a build of its own for the tests that need it
# (label image): its contents against the archives; podman runs it, in a
# pseudo-terminal too; `publish-image`, signed with a throwaway key, to a
# registry started on 127.0.0.1, and podman, requiring the signatures, runs it
# from there; `image` and `site` without a release. Those that run podman are
# skipped where it cannot start a container, as in a chroot: ctest shows no
# reason for a skipped test, so the last line says it.
## the release's container image: its contents, podman runs it, a signed publish to a local registry
test-image: release
	scripts/need-packages $(IMAGE_TEST_PACKAGES)
	$(CONFIGURE) -B $(BUILD)/image-test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLYPHFALL_WERROR=ON \
		-DGLYPHFALL_DIST=$(abspath $(DIST))
	cmake --build $(BUILD)/image-test -j $(JOBS) --target container_run
	$(TESTS) $(BUILD)/image-test -L '^image$$'
	@sed -n 's/^skipped: /test-image: skipped: /p' \
		$(BUILD)/image-test/Testing/Temporary/LastTest.log | sort -u

# The program in each emulator of TERMINAL_PACKAGES, one at a time, in a
# window on a private Xvfb display, judged from screenshots
# (tests/terminals/run), once the harness has shown that it sees a terminal
# left wrong (tests/terminals/check_harness.sh). Not part of `test`: it takes
# about 8 minutes, and is run before each release. GLYPHFALL=path tries
# another build of the program.
GLYPHFALL ?= $(BUILD)/release/glyphfall
## glyphfall in 14 terminal emulators under Xvfb: picture, resize, colours, Ctrl-C (GLYPHFALL=program)
test-terminals: build
	scripts/need-packages $(TERMINAL_TOOL_PACKAGES)
	scripts/need-packages $(TERMINAL_PACKAGES) || echo "test-terminals: going on without the emulators missing"
	tests/terminals/check_harness.sh $(BUILD)/release/glyphfall
	tests/terminals/run $(GLYPHFALL)

# clang-tidy over src/ with the compile commands of the release build, then
# the format check. Fails on any finding.
## clang-tidy over src/, then the format check
lint:
	scripts/need-packages $(LINT_PACKAGES)
	$(CONFIGURE) -B $(BUILD)/release -DCMAKE_BUILD_TYPE=Release -DGLYPHFALL_TESTS=OFF
	clang-tidy -p $(BUILD)/release --quiet --warnings-as-errors='*' src/*.cpp
	scripts/check-format

## list the C++ files that clang-format would change
format-check:
	scripts/need-packages clang-format
	scripts/check-format

# The home page, built into $(BUILD)/site from the project's own sources and
# the release that `make release` left in $(DIST) (run it first), with the
# repository up to the released commit (site/build.mjs says what comes from
# where); `node site/serve.mjs` shows it. The container image's signatures
# that `publish-image` left in $(SIGNATURES) go with it, and REGISTRY, if
# given, is named on the download page.
.PHONY: site test-site apt
## the home page in build/site, with the release of make release and the APT repository of make apt
site: build
	site/setup
	GLYPHFALL_REGISTRY='$(REGISTRY)' GLYPHFALL_SIGNATURES=$(SIGNATURES) GLYPHFALL_APT=$(APT_REPOSITORY) \
		node site/build.mjs $(BUILD)/release/glyphfall $(DIST) $(BUILD)/site

# The APT repository that `site` publishes under debian/: the Debian packages
# of the release added to APT_REPOSITORY beside the versions already there,
# its one suite made again and signed with SIGNING_KEY (scripts/apt-repository).
# It is kept from release to release: to go on from the published one, copy
# the host's debian/ to APT_REPOSITORY first. Unsigned, the page leaves it out.
APT_REPOSITORY ?= $(BUILD)/apt
## the APT repository in build/apt: the packages of make debs added to its pool; SIGNING_KEY signs
apt: debs
	scripts/need-packages $(APT_PACKAGES)
	scripts/apt-repository $(DEBS) $(APT_REPOSITORY) $(SIGNING_KEY)

# The page in headless Chromium: errors, requests, widths, links, axe-core,
# Lighthouse and the rain; the release downloaded and checked, the repository
# cloned and debian/watch read over HTTP (site/test/).
# The APT repository's tests take the nine packages that release.debs left in
# $(BUILD)/test/debs when they are this release's, and build them otherwise;
# where the kernel refuses `make debs` its user namespaces, the amd64 package
# of `make package` alone, and they say so.
## the home page in headless Chromium, with the release, the repositories as served and apt in fresh roots
test-site: build release
	scripts/need-packages $(APT_PACKAGES) mmdebstrap faketime
	@debs=$(BUILD)/test/debs; \
	if cmp -s $$debs/glyphfall_$(VERSION).orig.tar.gz $(DIST)/glyphfall-$(VERSION).tar.gz; then \
		echo "test-site: the packages of release.debs, in $$debs"; \
	elif unshare --user --map-root-user true 2>/dev/null; then \
		$(MAKE) --no-print-directory debs && debs=$(DEBS) || exit 1; \
	else \
		echo "test-site: make debs needs user namespaces, which the kernel refuses here: the APT repository has make package's amd64 package alone"; \
		$(MAKE) --no-print-directory package && debs=$(DEB) || exit 1; \
	fi; \
	site/check $(BUILD)/release/glyphfall $(DIST) $(BUILD)/site $$debs

## remove build/
clean:
	rm -rf $(BUILD)
