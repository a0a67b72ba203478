# The two commands of the README: `make demo` and `make test`.
JOBS ?= 2
TEST_BUILD ?= build-test

.PHONY: demo test tsan deps clean

BUILD ?= build
DEMO_DB = $(BUILD)/demo/vark.kwf
DEMO_PAGE = $(BUILD)/demo/out.htm

deps:
	@bash scripts/install-deps.sh

# Indexes the sample pages, searches them for a Japanese keyword and lists the hits.
demo: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j$(JOBS) --target tessaly-cli
	mkdir -p $(BUILD)/demo
	$(BUILD)/bin/tessaly-cli build examples/pages $(DEMO_DB)
	$(BUILD)/bin/tessaly-cli info $(DEMO_DB)
	$(BUILD)/bin/tessaly-cli search $(DEMO_DB) 京都 --out $(DEMO_PAGE)
	@echo "The result page is $(DEMO_PAGE)"

# Sanitizer build (AddressSanitizer + UndefinedBehaviorSanitizer) and every test.
test: deps
	cmake -S . -B $(TEST_BUILD) -DCMAKE_BUILD_TYPE=Debug -DTESSALY_SANITIZE=ON
	cmake --build $(TEST_BUILD) -j$(JOBS)
	cd $(TEST_BUILD) && ctest --output-on-failure -j$(JOBS)

# ThreadSanitizer build of the dialog tests (the UI thread and the update
# worker). Suppressions name Qt's own libraries only: tests/gui/tsan.supp.
TSAN_BUILD ?= build-tsan
tsan: deps
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DTESSALY_TSAN=ON
	cmake --build $(TSAN_BUILD) -j$(JOBS) --target varkdlg_test updatedlg_test msgboxqt_test
	cd $(TSAN_BUILD) && TSAN_OPTIONS="suppressions=$(CURDIR)/tests/gui/tsan.supp halt_on_error=1 exitcode=66" \
		ctest --output-on-failure -j$(JOBS) -R 'VarkDlg|UpdateDlg|MsgBoxQt'

clean:
	rm -rf build build-test build-tsan
