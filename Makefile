# The README's two commands: `make demo` and `make test`.
.PHONY: all bootstrap native sanitize windows test test-native test-windows demo clean

all: native windows

bootstrap:
	@tools/bootstrap.sh

native: bootstrap
	cmake --preset native >/dev/null
	cmake --build --preset native

sanitize: bootstrap
	cmake --preset sanitize >/dev/null
	cmake --build --preset sanitize

windows: bootstrap
	cmake --preset windows >/dev/null
	cmake --build --preset windows

test-native: native
	ctest --preset native

test-windows: windows
	ctest --preset windows

# Every test: the portable core natively, again under the sanitizers, then the
# Windows build under Wine.
test: native sanitize windows
	ctest --preset native
	ctest --preset sanitize
	ctest --preset windows

demo: windows
	tools/demo.sh build/windows

clean:
	rm -rf build
