# The README's two commands: `make demo` and `make test`.
.PHONY: all bootstrap native sanitize windows windows-x86 dist dist-next fuzz-build fuzz lint test test-native test-windows demo clean bench soak

# Seconds each fuzz target runs: `make fuzz` for a real search, `make test` to keep them working.
FUZZ_SECONDS ?= 60
FUZZ_TEST_SECONDS ?= 5

all: native windows windows-x86

bootstrap:
	@tools/bootstrap.sh

native: bootstrap
	cmake --preset native >/dev/null
	cmake --build --preset native

sanitize: bootstrap
	cmake --preset sanitize >/dev/null
	cmake --build --preset sanitize

fuzz-build: bootstrap
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz

fuzz: fuzz-build
	tools/run-fuzz.sh build/fuzz $(FUZZ_SECONDS)

lint: native
	tools/lint.sh build/native

windows: bootstrap
	cmake --preset windows >/dev/null
	cmake --build --preset windows

# The console's own bitness: the client library and the sample console only.
windows-x86: bootstrap
	cmake --preset windows-x86 >/dev/null
	cmake --build --preset windows-x86

# The release in build/dist/: the signed MSI and zip, and the unsigned files that two
# clones of one commit build alike. The vendor's key, a timestamp server and the rest
# come from QUORVEL_SIGN_* (docs/release.md, "Signing").
dist: windows windows-x86
	packaging/dist.sh

# Only for the upgrade in the install scenario: two packages of a test-only product, this
# version and the next, always test-signed (docs/release.md).
dist-next: dist
	packaging/dist.sh --next

test-native: native
	ctest --preset native

test-windows: windows windows-x86 dist dist-next
	ctest --preset windows

# Every test: the portable core natively, again under the sanitizers, each fuzz
# target briefly, then the Windows build under Wine, with the release installed,
# upgraded and removed again.
test: native sanitize fuzz-build windows windows-x86 dist dist-next
	ctest --preset native
	tests/bootstrap/wine32_plan.sh
	tools/lint.sh build/native
	ctest --preset sanitize
	tools/run-fuzz.sh build/fuzz $(FUZZ_TEST_SECONDS)
	ctest --preset windows
	@# What the Wine session of the run found, not whether a package is installed.
	@# QUORVEL_REQUIRE_X86=1 (CI) makes a skip a failure.
	@state=$$(cat build/windows/wine/wine32 2>/dev/null); if [ "$$state" = ok ]; then \
	  echo "the x86 console's runs: under WoW64 against the x86-64 quorvel.exe"; else \
	  echo "skipped: the x86 console's runs under Wine, x86-64 ran instead: $${state:-no Wine session was started}"; \
	  if [ -n "$$QUORVEL_REQUIRE_X86" ]; then echo "QUORVEL_REQUIRE_X86 is set: the x86 runs may not be skipped" >&2; exit 1; fi; fi

# Benchmarks, never part of `make test`: JSON and a summary in build/reports/.
bench: native windows
	tools/bench.sh

# A long day of use, never part of `make test`: SOAK_RUNS sheet runs and as many wizard
# runs in a row under Wine; the summary in build/reports/soak-summary.txt.
SOAK_RUNS ?= 200
soak: windows
	tools/soak.sh build/windows $(SOAK_RUNS)

demo: windows windows-x86
	tools/demo.sh build/windows build/windows-x86

clean:
	rm -rf build
