# Everyday entry points; CMake does the real work.
BUILD     ?= build
ASAN      ?= build-asan
TSAN      ?= build-tsan
RELEASE   ?= build-release
JOBS      ?= $(shell nproc 2>/dev/null || echo 2)
DEMO_OUT  ?= demo-output

PREFIX    ?= /usr/local

.PHONY: all build reconfigure test asan tsan demo bench fuzz clean format install

all: build

# A configure notices packages installed since (MPI, say) only when rerun:
# `make reconfigure` does that.
$(BUILD)/CMakeCache.txt:
	./scripts/need.sh build
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

reconfigure:
	./scripts/need.sh build
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

# MPI installed after the first configure is taken up by configuring again.
test:
	./scripts/need.sh test
	@if [ -f $(BUILD)/CMakeCache.txt ] && command -v mpirun > /dev/null 2>&1 && \
	    grep -q '^QUORVEL_MPI:BOOL=OFF' $(BUILD)/CMakeCache.txt; then \
	    echo "MPI is installed now: configuring again to build with it"; \
	    cmake -S . -B $(BUILD) -DQUORVEL_MPI=ON > /dev/null; fi
	$(MAKE) build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

asan:
	./scripts/need.sh test
	cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_SANITIZE=ON -DQUORVEL_MPI=OFF
	cmake --build $(ASAN) -j $(JOBS)
	cd $(ASAN) && ctest --output-on-failure -j $(JOBS)

# The tests that run threads, under ThreadSanitizer.
tsan:
	./scripts/need.sh test
	cmake -S . -B $(TSAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_TSAN=ON -DQUORVEL_MPI=OFF
	cmake --build $(TSAN) -j $(JOBS)
	cd $(TSAN) && ctest --output-on-failure -j $(JOBS) -R 'Differential|Ingest|Runaway|MinerCli|Threads|SubjectIndex|Library|Delays|Constraints|PValues|Best'

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

demo: build
	./examples/demo.sh $(BUILD) $(DEMO_OUT)

BENCH_CAP ?= 300
bench:
	cmake -S . -B $(RELEASE) -DCMAKE_BUILD_TYPE=Release -DQUORVEL_TESTS=OFF -DQUORVEL_BENCH=ON
	cmake --build $(RELEASE) -j $(JOBS)
	./bench/run.sh $(RELEASE) $(BENCH_CAP)
	./bench/python.sh $(RELEASE) $(PYTHON_BENCH_COUNT)

FUZZ_SECONDS ?= 60
fuzz:
	./tests/fuzz/run.sh $(FUZZ_SECONDS) build-fuzz

format:
	clang-format -i $$(git ls-files '*.cpp' '*.hpp')

clean:
	rm -rf $(BUILD) $(ASAN) $(TSAN) $(RELEASE) $(DEMO_OUT) build-fuzz
