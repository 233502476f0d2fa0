// Every registered codec, saving through the registry: a save that fails
// raises a KpException and leaves no file behind, and never removes what
// is not a regular file of its own (a device named as the output, or a
// link to one).
#include "kpexception.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const char* const FULL_DEVICE = "/dev/full";

// A small image of the first depth the codec saves to a regular file.
KpImage savableImage(const testsupport::ListedCodec& codec, const std::string& dir)
{
    for (int depth : {24, 8, 1}) {
        KpImage image(5, 3, depth);
        const std::string probe = dir + "/probe." + codec.firstExtension();
        try {
            image.kpSaveImage(probe.c_str());
            std::remove(probe.c_str());
            return image;
        } catch (const KpException&) {
            std::remove(probe.c_str());
        }
    }
    ADD_FAILURE() << codec.name << " saves none of the depths 24, 8 and 1";
    return KpImage(5, 3, 24);
}

bool isCharacterDevice(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode);
}

bool isLink(const std::string& path)
{
    struct stat info;
    return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

void expectSaveFails(KpImage& image, const std::string& path)
{
    EXPECT_THROW(image.kpSaveImage(path.c_str()), KpException) << path;
}

} // namespace

TEST(FailedSaves, AFullDeviceRaisesAndStays)
{
    if (!isCharacterDevice(FULL_DEVICE)) {
        GTEST_SKIP() << FULL_DEVICE << " is not on this machine";
    }
    const std::string dir = testsupport::makeTempDir();
    for (const testsupport::ListedCodec& codec : testsupport::listedCodecs()) {
        SCOPED_TRACE(codec.name);
        KpImage image = savableImage(codec, dir);
        // The registry picks the codec by the link's extension; writing
        // through the link reaches the device.
        const std::string link = dir + "/full." + codec.firstExtension();
        ASSERT_EQ(symlink(FULL_DEVICE, link.c_str()), 0);
        expectSaveFails(image, link);
        EXPECT_TRUE(isLink(link));
        EXPECT_TRUE(isCharacterDevice(FULL_DEVICE));
        std::remove(link.c_str());
    }
}

TEST(FailedSaves, AFolderThatCannotBeWrittenGetsNoFile)
{
    const std::string dir = testsupport::makeTempDir();
    const std::string readOnly = dir + "/read-only";
    ASSERT_EQ(mkdir(readOnly.c_str(), 0555), 0);
    // The permission bits do not bind the superuser; /proc takes no new
    // files from anybody.
    std::vector<std::string> folders = {"/proc", dir + "/missing"};
    if (geteuid() != 0) {
        folders.push_back(readOnly);
    }
    for (const testsupport::ListedCodec& codec : testsupport::listedCodecs()) {
        SCOPED_TRACE(codec.name);
        KpImage image = savableImage(codec, dir);
        for (const std::string& folder : folders) {
            const std::string path = folder + "/out." + codec.firstExtension();
            expectSaveFails(image, path);
            EXPECT_FALSE(testsupport::fileExists(path)) << path;
        }
    }
}
