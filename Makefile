# Entry points for a fresh machine. Each target installs what is missing first.
PRESET ?= default

.PHONY: deps configure build test demo clean

deps:
	@tools/install-deps.sh

configure: deps
	cmake --preset $(PRESET)

build: configure
	cmake --build --preset $(PRESET) -j2

test: build
	ctest --preset $(PRESET)

demo: build
	BUILD_DIR=build/$(PRESET) tools/demo.sh

clean:
	rm -rf build
