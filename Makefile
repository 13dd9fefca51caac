# The two commands of the Quick start, and a few for developers.
#   make run    install what is missing, build, write the demo archives, start the editor
#   make test   install what is missing, build, run every test headless
PRESET ?= release
BUILD  := build/$(PRESET)
DEMO   := build/demo

.PHONY: run test build deps demo bench clean

deps:
	scripts/install-deps

build: deps
	cmake --preset $(PRESET)
	cmake --build --preset $(PRESET)

demo: build
	@test -f $(DEMO)/GRPFACES.S10 -a -f $(DEMO)/GRPFACET.S10 || $(BUILD)/tools/make-demo-archives $(DEMO)

run: demo
	cd $(DEMO) && $(CURDIR)/$(BUILD)/src/pelloran

test: build
	QT_QPA_PLATFORM=offscreen ctest --preset $(PRESET) -j2

clean:
	rm -rf build
