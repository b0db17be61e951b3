// libFuzzer harness: the input bytes are a .mdb file handed to the importer's core routine.
//   cmake -S . -B build-fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVIREO_FUZZ=ON
//   cmake --build build-fuzz --target mdb_import_fuzz
//   build-fuzz/bin/mdb_import_fuzz -max_len=200000 -timeout=10 CORPUS tests/data/catalogue
#include "MdbImport.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {
std::string tempPath(const char *suffix)
{
    const char *dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/vireo-fuzz-" + std::to_string(getpid()) + suffix;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::string in = tempPath(".mdb"), out = tempPath(".sqlite");
    FILE *f = std::fopen(in.c_str(), "wb");
    if (!f)
        return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    char err[1024];
    vireo_mdb_import(in.c_str(), out.c_str(), err, sizeof err);
    std::remove(out.c_str());
    return 0;
}
