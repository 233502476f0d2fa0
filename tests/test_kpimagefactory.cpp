#include "kpexception.h"
#include "kpimagefactory.h"
#include "kplogger.h"
#include "kpsinglepageimage.h"
#include "kppngimage.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <fstream>
#include <string>
#include <vector>

namespace {

// A codec of test files that start with its magic text; it loads them as
// a 1 x 1 gray image whose value is the magic's length, and saves a
// file holding the magic. When failing is set, every load and save
// raises code 4.
class FakeCodec : public KpSinglePageImage {
public:
    FakeCodec(const std::string& name, const std::string& extensions, int priority, const std::string& magicText,
              bool failing = false)
        : KpSinglePageImage(name, extensions, priority, "FakeCodec"), magic(magicText), fails(failing)
    {
    }

    bool kpSupportImageFile(const char* fileName) override
    {
        std::ifstream in(fileName, std::ios::binary);
        if (!in) {
            KP_THROW(1, "fake codec cannot open the file");
        }
        std::string head(magic.size(), '\0');
        in.read(&head[0], static_cast<std::streamsize>(head.size()));
        return in && head == magic;
    }
    bool kpSupportImageFile(unsigned char* buffer, int size) override
    {
        return size >= static_cast<int>(magic.size()) && std::memcmp(buffer, magic.data(), magic.size()) == 0;
    }
    void kpSaveImage(const char* fileName, KpImage&) override
    {
        failIfAsked();
        std::ofstream(fileName, std::ios::binary) << magic;
    }
    KpImage kpLoadImage(unsigned char*, int) override { return loaded(); }
    KpImage kpLoadImage(const char*) override { return loaded(); }

private:
    void failIfAsked() const
    {
        if (fails) {
            KP_THROW(4, "fake codec fails");
        }
    }
    KpImage loaded() const
    {
        failIfAsked();
        KpImage image(1, 1, 8);
        image.kpSetPixel(0, 0, static_cast<uint8_t>(magic.size()));
        return image;
    }

    std::string magic;
    bool fails;
};

// The test codecs, registered once per process after the standard ones.
FakeCodec& fakeCodec()
{
    static FakeCodec codec("FAKE", "fak,FK2", 5, "FAKE!");
    return codec;
}

FakeCodec& failingCodec()
{
    static FakeCodec codec("FAILS", "fails", 5, "FAILS", true);
    return codec;
}

// The codec names in search order, as kpListImageTypes logs them.
std::vector<std::string> listedCodecs()
{
    std::vector<std::string> names;
    for (const testsupport::ListedCodec& codec : testsupport::listedCodecs()) {
        names.push_back(codec.name);
    }
    return names;
}

// Failures are checked by their code and the end of their message.
using testsupport::expectFailure;

class Registry : public ::testing::Test {
protected:
    void SetUp() override
    {
        fakeCodec();
        failingCodec();
        dir = testsupport::makeTempDir();
        KpImage image = testsupport::grayFromPicture({"#.", ".5"});
        pngName = dir + "/image.png";
        image.kpSaveImage(pngName.c_str());
    }
    std::string writeFile(const std::string& name, const std::string& content)
    {
        const std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    std::string writePngAs(const std::string& name) { return writeFile(name, testsupport::readFile(pngName)); }

    std::string dir;
    std::string pngName;
};

TEST_F(Registry, StandardCodecsComeFirstInTheirTableOrder)
{
    const std::vector<std::string> order = {"PPM", "Jpeg", "BMP", "TIFF", "GIF", "PNG", "PBM"};
    std::vector<std::string> standard;
    for (const std::string& name : listedCodecs()) {
        if (std::find(order.begin(), order.end(), name) != order.end()) {
            standard.push_back(name);
        } else {
            break;
        }
    }
    std::vector<std::string> expected;
    for (const std::string& name : order) {
        if (std::find(standard.begin(), standard.end(), name) != standard.end()) {
            expected.push_back(name);
        }
    }
    EXPECT_EQ(standard, expected);
    EXPECT_NE(std::find(standard.begin(), standard.end(), "PNG"), standard.end());
}

TEST_F(Registry, LoadingPicksTheCodecByContent)
{
    struct Case {
        const char* what;
        std::string file;
        int expectedWidth;  // 2 for the PNG codec, 1 for the fake one
    } cases[] = {
        {"PNG under an unregistered extension", writePngAs("photo.JPG"), 2},
        {"PNG under another codec's extension", writePngAs("photo.fak"), 2},
        {"fake content under the PNG extension", writeFile("fake.png", "FAKE!rest"), 1},
        {"extension matched case-sensitively only", writeFile("fake.PNG", "FAKE!rest"), 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(KpImage(c.file.c_str(), nullptr).kpGetWidth(), c.expectedWidth) << c.what;
    }
    EXPECT_EQ(KpImageFactory::kpGetInstance()->kpFindImageObject(writePngAs("photo.JPG").c_str()),
              KpPNGImage::kpGetInstance());
}

TEST_F(Registry, FileSearchFallsBackToTheExtensionsCodec)
{
    const std::string unknown = writeFile("data.fak", "nothing anyone reads");
    EXPECT_EQ(KpImageFactory::kpGetInstance()->kpFindImageObject(unknown.c_str()), &fakeCodec());
    const std::string unregistered = writeFile("data.xyz", "nothing anyone reads");
    EXPECT_EQ(KpImageFactory::kpGetInstance()->kpFindImageObject(unregistered.c_str()), nullptr);
    expectFailure([&] { KpImage image(unregistered.c_str(), nullptr); }, 11,
                  "<KpImageFactory::kpLoadImage()> Unsupported file format " + unregistered);
}

TEST_F(Registry, AMissingFileRaisesTheFirstSupportTestsError)
{
    const std::string missing = dir + "/missing.png";
    expectFailure([&] { KpImage image(missing.c_str(), nullptr); }, 1,
                  "<KpPNGImage::kpSupportImageFile()> File could not be opened.");
}

TEST_F(Registry, BufferLoadingAndPageCountsUseTheContentOnly)
{
    std::string fake = "FAKE!";
    std::string other = "neither";
    auto bytes = [](std::string& text) { return reinterpret_cast<unsigned char*>(&text[0]); };
    EXPECT_EQ(KpImage(bytes(fake), 5, nullptr).kpGetPixelScale(0, 0), 5);
    EXPECT_EQ(KpImage::kpGetTotalPages(bytes(fake), 5), 1);
    EXPECT_EQ(KpImage::kpGetTotalPages(bytes(other), 7), 0);
    EXPECT_EQ(KpImage::kpGetTotalPages(bytes(other), 0), 0);
    expectFailure([&] { KpImage image(bytes(other), 7, nullptr); }, 11,
                  "<KpImageFactory::kpLoadImage()> Unsupported image buffer");
    expectFailure([&] { KpImage::kpLoadImageAtPage(bytes(other), 7, 1); }, 11,
                  "<KpImageFactory::kpLoadImageAtPage()> Unsupported image buffer");
}

TEST_F(Registry, PagesFollowTheSinglePageRule)
{
    EXPECT_EQ(KpImage::kpGetTotalPages(pngName.c_str()), 1);
    EXPECT_EQ(KpImage::kpLoadImageAtPage(pngName.c_str(), 1).kpGetWidth(), 2);
    expectFailure([&] { KpImage::kpLoadImageAtPage(pngName.c_str(), 0); }, 15,
                  "<KpPNGImage::kpLoadImageAtPage()> Page number can't be 0 (zero).");
    expectFailure([&] { KpImage::kpLoadImageAtPage(pngName.c_str(), 2); }, 8,
                  "<KpPNGImage::kpLoadImageAtPage()> Image only contain 1 pages. User requesting page 2.");
    std::string fake = "FAKE!";
    expectFailure([&] { KpImage::kpLoadImageAtPage(reinterpret_cast<unsigned char*>(&fake[0]), 5, -1); }, 15,
                  "<FakeCodec::kpLoadImageAtPage()> Page number can't be 0 (zero).");
    const std::string unregistered = writeFile("data.xyz", "nothing");
    expectFailure([&] { KpImage::kpLoadImageAtPage(unregistered.c_str(), 1); }, 11,
                  "<KpImageFactory::kpLoadImageAtPage()> Unsupported file format " + unregistered);
    EXPECT_EQ(KpImage::kpGetTotalPages(unregistered.c_str()), 0);
}

TEST_F(Registry, AFailingPreferredCodecIsLoggedAndAnotherOneLoads)
{
    KpLogger::kpGetInstance()->kpSetLevel(2);
    ::testing::internal::CaptureStdout();
    KpImage image(pngName.c_str(), &failingCodec());
    const std::string log = ::testing::internal::GetCapturedStdout();
    KpLogger::kpGetInstance()->kpSetLevel(3);
    EXPECT_EQ(image.kpGetWidth(), 2);
    std::string failure;
    try {
        failingCodec().kpLoadImage(pngName.c_str());
    } catch (const KpException& error) {
        failure = error.kpGetMessage();
    }
    // Each logged message ends with the logger's own line end.
    EXPECT_EQ(log, "Over riding image type..Using FAILS\n\n"
                   "Error loading image : " + failure + "\n\n"
                   "\nWill try other image objects to load image\n\n"
                   "loading image with PNG\n");
}

TEST_F(Registry, APreferredCodecLoadsBuffersOnlyWhenItAcceptsThem)
{
    std::string png = testsupport::readFile(pngName);
    KpImage image(reinterpret_cast<unsigned char*>(&png[0]), static_cast<int>(png.size()), &fakeCodec());
    EXPECT_EQ(image.kpGetWidth(), 2);
    std::string fake = "FAKE!";
    KpImage preferred(reinterpret_cast<unsigned char*>(&fake[0]), 5, &fakeCodec());
    EXPECT_EQ(preferred.kpGetPixelScale(0, 0), 5);
}

TEST_F(Registry, SavingPicksTheCodecByExtensionIgnoringCase)
{
    KpImage image = testsupport::grayFromPicture({"#."});
    const std::string upper = dir + "/out.PNG";
    image.kpSaveImage(upper.c_str());
    EXPECT_EQ(testsupport::readFile(upper).compare(0, 4, "\x89PNG"), 0);
    const std::string second = dir + "/out.fK2";
    image.kpSaveImage(second.c_str());
    EXPECT_EQ(testsupport::readFile(second), "FAKE!");
    const std::string viaFailing = dir + "/out.png";
    image.kpSaveImage(viaFailing.c_str(), &failingCodec());
    EXPECT_EQ(testsupport::readFile(viaFailing).compare(0, 4, "\x89PNG"), 0);
    expectFailure([&] { image.kpSaveImage((dir + "/out.xyz").c_str()); }, 11,
                  "<KpImageFactory::kpSaveImage()> Unsupported file format xyz");
    const std::string noDot = dir + "/png";
    expectFailure([&] { image.kpSaveImage(noDot.c_str()); }, 11,
                  "<KpImageFactory::kpSaveImage()> Unsupported file format " + noDot);
}

TEST_F(Registry, SavingAnEmptyImageTouchesNoFile)
{
    KpImage empty;
    const std::string name = dir + "/empty.png";
    expectFailure([&] { empty.kpSaveImage(name.c_str()); }, 5, "Image Data is NULL!");
    EXPECT_FALSE(testsupport::fileExists(name));
}

TEST_F(Registry, AUserCodecOfASmallerPriorityGoesFirstAndIsAnnounced)
{
    const std::vector<std::string> before = listedCodecs();
    ASSERT_FALSE(before.empty());
    ::testing::internal::CaptureStdout();
    static FakeCodec early("EARLY", "early", 4, "EARLY");
    const std::string announced = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(announced, "EARLY 4\n" + before.front() + " * 5\n");
    const std::vector<std::string> after = listedCodecs();
    ASSERT_EQ(after.size(), before.size() + 1);
    EXPECT_EQ(after.front(), "EARLY");
    ::testing::internal::CaptureStdout();
    static FakeCodec late("LATE", "late", 9, "LATE");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(listedCodecs().back(), "LATE");
}

TEST(Tokenize, EmptyPiecesGiveNoToken)
{
    std::vector<std::string> tokens;
    KpImageFactory::kpTokenize(",,jpeg,,jpg,", tokens, ",");
    EXPECT_EQ(tokens, (std::vector<std::string>{"jpeg", "jpg"}));
    tokens.clear();
    KpImageFactory::kpTokenize(",,,", tokens, ",");
    EXPECT_TRUE(tokens.empty());
}

TEST(SupportExtension, LowerCasesTheAskedExtensionAndMatchesWholeTokens)
{
    KpPNGImage* png = KpPNGImage::kpGetInstance();
    EXPECT_TRUE(png->kpSupportExtension("PnG"));
    EXPECT_FALSE(png->kpSupportExtension("pn"));
    EXPECT_FALSE(png->kpSupportExtension(""));
    EXPECT_EQ(png->kpGetName(), "PNG");
    EXPECT_EQ(png->kpGetPriority(), 5);
}

} // namespace
