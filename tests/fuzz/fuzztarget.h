#pragma once

// A fuzz target: LLVMFuzzerTestOneInput runs one input through the program's own code and aborts on a
// broken property. The same file builds into a libFuzzer binary (ZALVENTO_FUZZ) and into a replay
// binary whose main runs every file of the target's corpus (fuzzreplay.cpp).
//
// To add a target for a new parser: write tests/fuzz/fuzz_<name>.cpp with LLVMFuzzerTestOneInput,
// add `zalvento_add_fuzz_target(<name> LIBS <library>)` to tests/fuzz/CMakeLists.txt and seed
// tests/fuzz/corpus/<name>/ with a few small inputs; tools/fuzz.sh and the default suite pick it up.

#include <QByteArray>
#include <QStringList>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

// The input that a corpus file "<name>.ref" stands for: it lists files (one path a line, relative to the
// project folder) too large to be copied into the corpus. By default the first file's bytes; a target
// whose input packs several files defines its own.
QByteArray fuzzInputFromFiles(const QStringList &paths);

// A folder of the process's own for the files of one input, in memory where the system offers one (file
// writes there are fast also when the program syncs them to disk). Removed when the process ends.
QString fuzzScratchFolder();

// Creates the application object that the targets' Qt code expects; called once before any input.
void fuzzSetUp(int argc, char **argv);

// A broken property is a finding: say which and abort, so that the fuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                                                \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "property broken: %s (%s:%d)\n", #condition, __FILE__, __LINE__);           \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (false)
