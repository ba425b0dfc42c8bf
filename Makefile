# KesmarSetupWin front door.
#   make          build the host tools and the 32-bit Windows programs
#   make test     install what is missing, build, run every test suite
.PHONY: all host win32 deps test test-host test-win32 clean

all: host win32

deps:
	@bash scripts/install-deps.sh

build/host/CMakeCache.txt:
	cmake --preset host >/dev/null

build/win32/CMakeCache.txt:
	cmake --preset win32 >/dev/null

host: build/host/CMakeCache.txt
	cmake --build --preset host

win32: build/win32/CMakeCache.txt
	cmake --build --preset win32

test: deps
	$(MAKE) host win32
	$(MAKE) test-host test-win32

test-host:
	ctest --preset host

test-win32:
	ctest --preset win32

clean:
	rm -rf build
