# KesmarSetupWin front door.
#   make          build the host tools and the 32-bit Windows programs,
#                 the launcher with the sample payload among them
#   make demo     build and run the sample launcher under Wine, and tell what happened
#   make test     install what is missing, build, run every test suite
#                 (host, host under ASan+UBSan, win32 under Wine)
#   make launcher FINST=<folder> | PAYLOAD=<file> [OUT=<path>]
#                 [SIGN_CERT=<pem> SIGN_KEY=<pem> | SIGN_PKCS12=<file>]
#                 [SIGN_PASSWORD=<text> | SIGN_PASSWORD_FILE=<file>] [SIGN_TIMESTAMP_URL=<url>]
.PHONY: all host win32 asan deps test test-host test-win32 test-asan launcher demo clean

all: host win32

deps:
	@bash scripts/install-deps.sh

build/host/CMakeCache.txt:
	cmake --preset host >/dev/null

build/win32/CMakeCache.txt:
	cmake --preset win32 >/dev/null

build/asan/CMakeCache.txt:
	cmake --preset asan >/dev/null

host: build/host/CMakeCache.txt
	cmake --build --preset host

# The Windows build packs payloads with the host kesmar-pack.
win32: host build/win32/CMakeCache.txt
	cmake --build --preset win32

# The host unit tests again, built by clang with AddressSanitizer and
# UndefinedBehaviorSanitizer: any report, leaks included, fails the run.
asan: build/asan/CMakeCache.txt
	cmake --build --preset asan

launcher: host
	@bash scripts/make-launcher

demo: deps
	$(MAKE) all
	@python3 scripts/demo.py

test: deps
	$(MAKE) all asan
	$(MAKE) test-host test-asan test-win32

test-host:
	ctest --preset host

test-win32:
	ctest --preset win32

test-asan:
	ctest --preset asan

clean:
	rm -rf build
