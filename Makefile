# SPDX-License-Identifier: GPL-3.0-or-later
# The two commands of the README, and the builds behind them.
#   make        build into build/ (the program is build/tonmill)
#   make demo   install what is missing, build, convert generated samples
#   make check  install what is missing, check that includes follow the
#               layers, build, run the quick tests (all but SLOW_TESTS)
#   make ci     make check, the slow tests, then build the Debian package and try it
#               installed, the tests again under AddressSanitizer +
#               UndefinedBehaviorSanitizer, the threaded suites under
#               ThreadSanitizer, and each fuzzer for CI_FUZZ_SECONDS
#   make tsan   run the whole test suite under ThreadSanitizer
#   make package        the Debian package, in build/package/
#   make package-check  build, lint, install, run and remove the package (root)
#   make fuzz   build the libFuzzer targets with clang, run each FUZZ_SECONDS,
#               two at a time: CUE sheets, language files, the command line,
#               ffmpeg's report, ID3v1 blocks, settings files, our APE
#               compressor, the MP3 Xing/LAME tag, the last Ogg page, the WAV
#               chunks up to the data, cover art, and decoding damaged files
#   make mutate plant each fault of scripts/mutate.faults in a scratch copy
#               (build-mutate/), build, run the tests until one fails; lists
#               the faults the tests miss (FAULTS="id ..." for some; long)
JOBS ?= 2
CMAKE_FLAGS = -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

# The sanitizer builds are there to run the tests: -O1 -g1 halves their build
# time and still gives stack traces with lines.
SAN_FLAGS = -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG"
TSAN_ENV = TSAN_OPTIONS="halt_on_error=1 suppressions=$(CURDIR)/tests/tsan.supp"
FUZZ_SECONDS ?= 60
# What `make ci` gives each fuzzer: enough to catch a shallow fault in the
# seeds' neighbourhood while the whole battery stays within its half hour
# (thirteen fuzzers, two at a time: six and a half minutes).
CI_FUZZ_SECONDS ?= 60
FUZZERS = cue_fuzz language_fuzz ffmpeg_report_fuzz command_line_fuzz id3v1_fuzz settings_fuzz ape_fuzz \
          mp3_info_tag_fuzz ogg_end_page_fuzz wav_data_chunk_fuzz cover_art_fuzz decode_fuzz mirror_manifest_fuzz

.PHONY: all deps demo check ci test test-slow asan tsan tsan-threads fuzz bench clean package package-check mutate

all:
	cmake -S . -B build $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS)

deps:
	scripts/install-deps

demo: deps all
	scripts/demo build

# The tests of 10 seconds and more (a fifth of the suite's time): `make ci`
# runs them after `make check`.
SLOW_TESTS = ^(OptionPairs\.EveryFile|FurtherTypes\.Awkward|OutputTags\.SourceTypesIntoFormats|FFmpegDecoder\.Misbehaving|BatchMode\.MirrorFollows)

test: all
	ctest --test-dir build -j $(JOBS) --output-on-failure -E '$(SLOW_TESTS)'

test-slow: all
	ctest --test-dir build -j $(JOBS) --output-on-failure -R '$(SLOW_TESTS)'

asan:
	cmake -S . -B build-asan $(CMAKE_FLAGS) $(SAN_FLAGS) -DTONMILL_ASAN=ON
	cmake --build build-asan -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	  ctest --test-dir build-asan -j $(JOBS) --output-on-failure

tsan:
	cmake -S . -B build-tsan $(CMAKE_FLAGS) $(SAN_FLAGS) -DTONMILL_TSAN=ON
	cmake --build build-tsan -j $(JOBS)
	$(TSAN_ENV) ctest --test-dir build-tsan -j $(JOBS) --output-on-failure

# The suites labelled "threads" (the engine, the main-thread pumps, the
# windows) under ThreadSanitizer: the part of `make tsan` that `make check` runs.
tsan-threads:
	cmake -S . -B build-tsan $(CMAKE_FLAGS) $(SAN_FLAGS) -DTONMILL_TSAN=ON
	cmake --build build-tsan -j $(JOBS) --target tonmill engine_tests main_thread_tests window_tests
	$(TSAN_ENV) ctest --test-dir build-tsan -j $(JOBS) -L threads --output-on-failure

fuzz:
	CC=clang CXX=clang++ cmake -S . -B build-fuzz $(CMAKE_FLAGS) $(SAN_FLAGS) -DTONMILL_FUZZ=ON -DTONMILL_TESTS=OFF
	cmake --build build-fuzz -j $(JOBS) --target $(FUZZERS)
	scripts/fuzz build-fuzz $(FUZZ_SECONDS)

check: deps
	scripts/check-layers
	$(MAKE) test

ci: check
	$(MAKE) test-slow
	scripts/package-check
	$(MAKE) asan
	$(MAKE) tsan-threads
	$(MAKE) fuzz FUZZ_SECONDS=$(CI_FUZZ_SECONDS)

# Not part of check or ci: a fault that survives runs the whole suite.
mutate:
	scripts/mutate $(FAULTS)

package: all
	cd build && cpack -G DEB -B package

package-check: deps
	scripts/package-check

clean:
	rm -rf build build-asan build-tsan build-fuzz
