# KesmarSetupWin front door.
#   make          build the host tools, the 32-bit Windows programs (the launcher
#                 with the sample payload among them) and kesmar-pack.exe for 64-bit Windows
#   make demo     build and run the sample launcher under Wine, and tell what happened
#   make test     install what is missing, build, run every test suite
#                 (host, host under ASan+UBSan, the encoder's threads under TSan,
#                 fuzz seeds and smoke, win32 and win64 under Wine)
#   make launcher FINST=<folder> [CODEPAGE=<n>] | PAYLOAD=<file> [OUT=<path>]
#                 [SIGN_CERT=<pem> SIGN_KEY=<pem> | SIGN_PKCS12=<file>]
#                 [SIGN_PASSWORD=<text> | SIGN_PASSWORD_FILE=<file>] [SIGN_TIMESTAMP_URL=<url>]
#   make fuzz     fuzz each libFuzzer target for FUZZ_SECONDS (default 300)
#   make package  the Debian package build/kesmar-pack_<version>_amd64.deb, the
#                 Windows zip build/kesmar-pack-<version>-windows-x64.zip and
#                 build/SHA256SUMS for the two
#   make bench    time the builder and the extraction beside xz and 7zz (never part of make test)
.PHONY: package all host win32 win64 asan tsan fuzz-build deps test test-host test-win32 test-win64 test-asan test-tsan \
	test-fuzz fuzz \
	launcher demo bench clean

all: host win32 win64

deps:
	@bash scripts/install-deps.sh

build/host/CMakeCache.txt:
	cmake --preset host >/dev/null

build/win32/CMakeCache.txt:
	cmake --preset win32 >/dev/null

build/win64/CMakeCache.txt:
	cmake --preset win64 >/dev/null

build/asan/CMakeCache.txt:
	cmake --preset asan >/dev/null

build/tsan/CMakeCache.txt:
	cmake --preset tsan >/dev/null

build/fuzz/CMakeCache.txt:
	cmake --preset fuzz >/dev/null

host: build/host/CMakeCache.txt
	cmake --build --preset host

# The Windows build packs payloads with the host kesmar-pack.
win32: host build/win32/CMakeCache.txt
	cmake --build --preset win32

# kesmar-pack.exe for 64-bit Windows; its tests use the host and win32 trees.
win64: host build/win64/CMakeCache.txt
	cmake --build --preset win64

# The host unit tests again, built by clang with AddressSanitizer and
# UndefinedBehaviorSanitizer: any report, leaks included, fails the run.
asan: build/asan/CMakeCache.txt
	cmake --build --preset asan

# The encoder's match-finder thread under ThreadSanitizer: only its own tests
# are built, so this stays quick; any report fails the run.
tsan: build/tsan/CMakeCache.txt
	cmake --build --preset tsan

fuzz-build: build/fuzz/CMakeCache.txt
	cmake --build --preset fuzz

# Each target fuzzes from its committed seeds; what it finds new is kept in
# build/fuzz/found/<target>, and a crash leaves its input in the current folder.
FUZZ_SECONDS ?= 300
FUZZ_TARGETS = fuzz_container fuzz_extract fuzz_launcher_writer fuzz_wine_registry fuzz_watch_lines fuzz_xwd
fuzz: fuzz-build
	@for target in $(FUZZ_TARGETS); do \
	  mkdir -p build/fuzz/found/$$target && \
	  build/fuzz/tests/fuzz/$$target -rss_limit_mb=2048 -malloc_limit_mb=512 -timeout=20 \
	    -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	    build/fuzz/found/$$target tests/fuzz/corpus/$$target || exit 1; \
	done

# Prints a table, then as its last line the ratios against the peers.
BENCH_REPEATS ?= 3
bench: host
	@python3 bench/run_bench.py build/host $(BENCH_REPEATS)

# Quiet: one line on success, the reason on failure (the script builds what it needs).
launcher:
	@bash scripts/make-launcher

# The Debian package kesmar-pack_<version>_amd64.deb under build/: the host
# tool and the stub that the Windows build makes. The same tree gives the same
# bytes (dates from the last commit); the umask would set the modes of the
# .deb's archive members.
package: host build/win32/CMakeCache.txt build/win64/CMakeCache.txt
	cmake --build --preset win32 --target KesmarSetupWin-stub kesmar-try-watch
	cd build/host && umask 022 && cpack
	cmake --build --preset win64 --target kesmar_pack_zip
	@version=$$(sed -n 's/^set(KESMAR_VERSION \(.*\))$$/\1/p' CMakeLists.txt) && cd build && \
	  sha256sum kesmar-pack_$${version}_amd64.deb kesmar-pack-$${version}-windows-x64.zip > SHA256SUMS && \
	  echo "build/SHA256SUMS:" && cat SHA256SUMS

demo: deps
	$(MAKE) all
	@python3 scripts/demo.py

test: deps
	$(MAKE) all asan tsan fuzz-build
	$(MAKE) test-host test-asan test-tsan test-fuzz test-win32 test-win64

test-host:
	ctest --preset host

test-win32:
	ctest --preset win32

test-win64:
	ctest --preset win64

test-asan:
	ctest --preset asan

test-tsan:
	ctest --preset tsan

# The seeds replayed, then a short fuzzing run per target.
test-fuzz:
	ctest --preset fuzz

clean:
	rm -rf build
