# The two commands of the README: `make demo` and `make test`.
JOBS ?= 2
TEST_BUILD ?= build-test

.PHONY: demo run demo-test test tsan release deps fuzz browser-test clean bench bench-peers package package-test

BUILD ?= build
DEMO_DB = $(BUILD)/demo/vark.kwf
DEMO_PAGE = $(BUILD)/demo/out.htm

deps:
	@bash scripts/install-deps.sh

# Builds both programs, indexes the sample pages, searches them for a Japanese
# keyword, lists the hits and says how to open the search window on them.
demo: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j$(JOBS) --target tessaly-cli tessaly
	mkdir -p $(BUILD)/demo
	$(BUILD)/bin/tessaly-cli build examples/pages $(DEMO_DB)
	$(BUILD)/bin/tessaly-cli info $(DEMO_DB)
	$(BUILD)/bin/tessaly-cli search $(DEMO_DB) 京都 --out $(DEMO_PAGE)
	@echo "The result page is $(DEMO_PAGE)"
	@echo
	@echo "The search window on this database (or: make run):"
	@echo "    $(BUILD)/bin/tessaly $(DEMO_DB)"
	@echo "Type a keyword such as 京都 and press 検索: the result page opens in your"
	@echo "default web browser, and the window closes."

# Opens the search window on the demo database, building what is missing
# first; without a display it says so in one line and fails.
run:
	@BUILD=$(BUILD) JOBS=$(JOBS) bash scripts/run-window.sh

# What a newcomer does: make demo, then the command it printed, which must
# open the window on the demo's pages (offscreen); and make run without a
# display must fail with one line. Uses the Release tree of make release.
DEMO_TEST_BUILD ?= $(RELEASE_BUILD)
demo-test:
	BUILD=$(DEMO_TEST_BUILD) JOBS=$(JOBS) bash scripts/demo-test.sh

# Sanitizer build (AddressSanitizer + UndefinedBehaviorSanitizer) and every test.
test: deps
	cmake -S . -B $(TEST_BUILD) -DCMAKE_BUILD_TYPE=Debug -DTESSALY_SANITIZE=ON -DTESSALY_WERROR=ON
	cmake --build $(TEST_BUILD) -j$(JOBS)
	cd $(TEST_BUILD) && ctest --output-on-failure -j$(JOBS)
	@if command -v chromium >/dev/null; then \
	    python3 $(BROWSER_CHECK) --cli $(TEST_BUILD)/bin/tessaly-cli --work $(TEST_BUILD)/browser; \
	else \
	    echo "browser check SKIPPED: chromium is not installed (make browser-test installs it)"; \
	fi

# The result page in headless Chromium: builds a database from the sample pages,
# searches it, opens the display page with the result page and checks what the
# browser built; also writes a screenshot of the result page to SCREENSHOT.
BROWSER_CHECK = tests/browser/check_result_page.py
SCREENSHOT ?= $(BUILD)/browser/result-page.png
browser-test:
	@bash scripts/install-deps.sh browser
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j$(JOBS) --target tessaly-cli
	python3 $(BROWSER_CHECK) --cli $(BUILD)/bin/tessaly-cli --work $(BUILD)/browser \
	    --screenshot $(SCREENSHOT)

# libFuzzer targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer), each
# run for FUZZ_SECONDS seconds, seeded from tests/data and the sample pages.
FUZZ_SECONDS ?= 60
FUZZ_BUILD ?= build-fuzz
fuzz:
	@bash scripts/install-deps.sh fuzz
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ -DTESSALY_FUZZ=ON
	cmake --build $(FUZZ_BUILD) -j$(JOBS)
	bash scripts/run-fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

# The Release configuration of everything, tests included (built, not run).
RELEASE_BUILD ?= build-release
release: deps
	cmake -S . -B $(RELEASE_BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(RELEASE_BUILD) -j$(JOBS)

# ThreadSanitizer build of the dialog tests (the UI thread and the update
# worker). Suppressions name Qt's own libraries only: tests/gui/tsan.supp.
TSAN_BUILD ?= build-tsan
tsan: deps
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DTESSALY_TSAN=ON
	cmake --build $(TSAN_BUILD) -j$(JOBS) --target varkdlg_test updatedlg_test msgboxqt_test
	cd $(TSAN_BUILD) && TSAN_OPTIONS="suppressions=$(CURDIR)/tests/gui/tsan.supp halt_on_error=1 exitcode=66" \
		ctest --output-on-failure -j$(JOBS) -R 'VarkDlg|UpdateDlg|MsgBoxQt'

clean:
	rm -rf build build-test build-release build-fuzz build-tsan build-package

# Speed against baselines on generated data (build/bench/results.md). Needs
# hyperfine and python3; BENCH_LARGE=0 leaves out the 200k-page corpus,
# BENCH_BEFORE=FILE measures another tessaly-cli in the same rows, and the
# cold-cache rows need root (they drop the page cache before every run).
bench: deps
	bash scripts/install-deps.sh bench
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j$(JOBS) --target tessaly-cli tessaly-floor
	BUILD=$(abspath $(BUILD)) bash bench/run.sh

# The same corpus indexed and searched by Namazu, Recoll and Xapian Omega
# (installs Debian's namazu2, recollcmd and xapian-omega).
bench-peers: deps
	bash scripts/install-deps.sh peers
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j$(JOBS) --target tessaly-cli
	BUILD=$(abspath $(BUILD)) bash bench/peers.sh

# The Debian package tessaly_<version>_<arch>.deb in $(PACKAGE_BUILD): the two
# programs (Release, no tests), their resources, manual pages, desktop entry,
# icon, MIME type and metainfo, under /usr; dependencies by dpkg-shlibdeps.
PACKAGE_BUILD ?= build-package
# Debian's usual hardening of packaged programs.
PACKAGE_HARDENING = -D_FORTIFY_SOURCE=2 -fstack-protector-strong -fstack-clash-protection -fcf-protection
package: deps
	@bash scripts/install-deps.sh package
	cmake -S . -B $(PACKAGE_BUILD) -DCMAKE_BUILD_TYPE=Release -DTESSALY_TESTS=OFF \
	    -DCMAKE_CXX_FLAGS="$(PACKAGE_HARDENING)" -DCMAKE_EXE_LINKER_FLAGS="-Wl,-z,relro,-z,now"
	cmake --build $(PACKAGE_BUILD) -j$(JOBS)
	rm -f $(PACKAGE_BUILD)/tessaly_*.deb
	cd $(PACKAGE_BUILD) && cpack -G DEB
	@ls $(PACKAGE_BUILD)/tessaly_*.deb

# Checks the package with lintian, installs it on this machine with apt-get,
# runs the installed programs (a build, a search, the window offscreen), then
# purges it and checks that nothing of it is left. Needs root (or sudo).
package-test: package
	bash packaging/package-test.sh $(PACKAGE_BUILD)/tessaly_*.deb
