# Kel: `make run` starts the program under Wine, `make test` runs every test.
# Both set up what they need first (tools/setup.sh, as root with apt-get).

OPENSSL_MINGW ?= /var/cache/kel/openssl-mingw64
FUZZ_SECONDS ?= 60
# Set-up is done once per content of its scripts: this stamp is named after it.
SETUP_STAMP := build/.setup-$(shell cat tools/setup.sh tools/build-openssl-mingw.sh | sha256sum | cut -c1-16)

.PHONY: all setup windows-configure windows native test run dist bench fuzz soak clean

all: windows native

setup:
	@if [ ! -f $(SETUP_STAMP) ] || [ ! -f $(OPENSSL_MINGW)/lib/libssl.a ]; then \
	  bash tools/setup.sh && mkdir -p build && rm -f build/.setup-* && touch $(SETUP_STAMP); \
	fi

windows-configure: setup
	@cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw64.cmake \
	  -DKEL_OPENSSL_MINGW=$(OPENSSL_MINGW) >/dev/null

windows: windows-configure
	@cmake --build build/windows

native: setup
	@cmake -S . -B build/native -G Ninja >/dev/null
	@cmake --build build/native

test: windows native
	@bash tools/run-tests.sh

# Only kel.exe and the probe tools/run.py looks at its windows with.
run: windows-configure
	@cmake --build build/windows --target kel kelprobe
	@python3 tools/run.py

# build/dist/kel-VERSION.zip: kel.exe, readme.txt, beep.snd and the licences.
dist: windows-configure
	@cmake --build build/windows --target kel melodies
	@python3 tools/dist.py

clean:
	rm -rf build

bench: windows native
	@bash tools/bench.sh

# Every fuzz target from its seeds, FUZZ_SECONDS each, two at a time.
fuzz: setup
	@FUZZ_SECONDS=$(FUZZ_SECONDS) bash tools/run-fuzz.sh

# kel.exe through 500 checks with popups and dialogs: threads, memory, GDI and USER objects before and after.
soak: windows
	@KEL_SOAK_CHECKS=500 python3 tests/e2e/run.py test_soak
