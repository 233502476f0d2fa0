#include "fuzzentry.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

// Every input the fuzzer ever found faulty goes through the same entry
// again: only a KpException (caught inside) may come out of it.
TEST(FuzzRegressions, EveryKeptInputRunsCleanly)
{
    const std::string dir = std::string(DOVODA_SOURCE_DIR) + "/fuzz/regressions";
    std::unique_ptr<DIR, int (*)(DIR*)> folder(opendir(dir.c_str()), closedir);
    if (!folder) {
        GTEST_SKIP() << "no folder " << dir;
    }
    int replayed = 0;
    while (dirent* entry = readdir(folder.get())) {
        const std::string name = entry->d_name;
        if (name[0] == '.') {
            continue;
        }
        std::ifstream in(dir + "/" + name, std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_NO_THROW(fuzzentry::loadAndSave(bytes.data(), bytes.size())) << name;
        ++replayed;
    }
    if (replayed == 0) {
        GTEST_SKIP() << "no kept inputs in " << dir;
    }
}

} // namespace
