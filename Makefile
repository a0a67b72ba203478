# The two commands of the README: `make demo` and `make test`.
JOBS ?= 2
TEST_BUILD ?= build-test

.PHONY: test deps clean

deps:
	@bash scripts/install-deps.sh

# Sanitizer build (AddressSanitizer + UndefinedBehaviorSanitizer) and every test.
test: deps
	cmake -S . -B $(TEST_BUILD) -DCMAKE_BUILD_TYPE=Debug -DTESSALY_SANITIZE=ON
	cmake --build $(TEST_BUILD) -j$(JOBS)
	cd $(TEST_BUILD) && ctest --output-on-failure -j$(JOBS)

clean:
	rm -rf build build-test
