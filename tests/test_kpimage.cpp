#include "kpimage.h"

#include "kpexception.h"
#include "kppoint.h"
#include "testsupport.h"

#include <climits>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>

namespace {

using testsupport::expectFailure;

TEST(KpImageHead, DefaultsAndCopyLeaveTags)
{
    KpImageHead head;
    EXPECT_EQ(head.width, 0);
    EXPECT_EQ(head.resolutionInDpi, 1);
    head.width = 5;
    head.reserved2 = 9;
    head.tags.kpAddTag("k", "v");
    KpImageHead copy(head);
    EXPECT_EQ(copy.width, 5);
    EXPECT_EQ(copy.reserved2, 9);
    EXPECT_TRUE(copy.tags.kpIsNewTag("k"));
    KpImageHead target;
    target.tags.kpAddTag("mine", "1");
    target = head;
    EXPECT_EQ(target.tags.kpGetTag("mine"), "1");
    EXPECT_TRUE(target.tags.kpIsNewTag("k"));
}

TEST(KpTagList, Operations)
{
    KpTagList tags;
    EXPECT_EQ(tags.kpGetTag("absent"), "");
    EXPECT_TRUE(tags.kpAddTag("a", "1"));
    EXPECT_FALSE(tags.kpAddTag("a", "2"));
    EXPECT_FALSE(tags.kpSetTag("a", "3", false));
    EXPECT_EQ(tags.kpGetTag("a"), "1");
    EXPECT_TRUE(tags.kpSetTag("a", "4", true));
    EXPECT_EQ(tags.kpGetTag("a"), "4");
    EXPECT_TRUE(tags.kpSetTag("b", "5", false));
    tags.kpRemoveTag("a");
    EXPECT_TRUE(tags.kpIsNewTag("a"));
    EXPECT_FALSE(tags.kpIsNewTag("b"));
}

TEST(KpPoint, Construction)
{
    KpPoint origin;
    KpPoint p(3, -4);
    KpPoint q(p);
    EXPECT_EQ(origin.x, 0);
    EXPECT_EQ(origin.y, 0);
    EXPECT_EQ(q.x, 3);
    EXPECT_EQ(q.y, -4);
}

struct StoreCase {
    const char* name;
    int width, height, depth;
    int channels, bytesPerRow;
};

const StoreCase STORE_CASES[] = {
    {"binary9Wide", 9, 2, 1, 1, 2},
    {"binary8Wide", 8, 2, 1, 1, 1},
    {"gray", 7, 3, 8, 1, 7},
    {"colour", 10, 3, 24, 3, 30},
};

TEST(KpImage, StoresFromSize)
{
    for (const StoreCase& c : STORE_CASES) {
        KpImage image(c.width, c.height, c.depth);
        EXPECT_EQ(image.kpGetChannels(), c.channels) << c.name;
        EXPECT_EQ(image.kpGetBytesPerRow(), c.bytesPerRow) << c.name;
        EXPECT_EQ(image.kpGetImageSize(), static_cast<std::size_t>(c.bytesPerRow * c.height)) << c.name;
        EXPECT_EQ(image.kpGetFormat(), 0) << c.name;
        EXPECT_FALSE(image.kpGetHasWarnings()) << c.name;
        for (std::size_t i = 0; i < image.kpGetImageSize(); ++i) {
            ASSERT_EQ(image.kpGetData()[i], 0xFF) << c.name;
        }
    }
}

TEST(KpImage, BinaryPixelEightIsBitSevenOfByteOne)
{
    KpImage image(9, 1, 1);
    image.kpSetPixel(8, 0, 0);
    EXPECT_EQ(image.kpGetData()[0], 0xFF);
    EXPECT_EQ(image.kpGetData()[1], 0x7F);
    EXPECT_EQ(image.kpGetPixelScale(8, 0), 0);
    EXPECT_EQ(image.kpGetPixelScale(7, 0), 255);
    image.kpSetPixel(8, 0, 1);
    EXPECT_EQ(image.kpGetData()[1], 0xFF);
}

TEST(KpImage, ColourPixelsAreRedGreenBlue)
{
    KpImage image(4, 2, 24);
    image.kpSetPixel(3, 1, 10, 20, 30);
    const uint8_t* pixel = image.kpGetData() + 1 * 12 + 9;
    EXPECT_EQ(pixel[0], 10);
    EXPECT_EQ(pixel[1], 20);
    EXPECT_EQ(pixel[2], 30);
    uint8_t r, g, b;
    image.kpGetPixel(3, 1, &r, &g, &b);
    EXPECT_EQ(r + 0, 10);
    EXPECT_EQ(g + 0, 20);
    EXPECT_EQ(b + 0, 30);
}

TEST(KpImage, PixelAccessFailures)
{
    KpImage gray(5, 4, 8);
    KpImage colour(5, 4, 24);
    KpImage header;
    header.kpSetHeader(5, 4, 8, 0, 0, true);
    KpImage colourHeader;
    colourHeader.kpSetHeader(5, 4, 24, 0, 0, true);
    uint8_t r, g, b;

    expectFailure([&] { gray.kpSetPixel(0, 0, 1, 2, 3); }, 7, "Color FORMAT is needed in kpSetPixel");
    expectFailure([&] { gray.kpGetPixel(0, 0, &r, &g, &b); }, 7, "Color FORMAT is needed in kpSetPixel");
    expectFailure([&] { colour.kpSetPixel(5, 0, 1, 2, 3); }, 7, "Out Of Bound!!");
    expectFailure([&] { colourHeader.kpSetPixel(0, 0, 1, 2, 3); }, 5, "Image data is null!!");
    // A fresh 24-bit image has format 0, yet its store holds three bytes per pixel.
    expectFailure([&] { colour.kpSetPixel(0, 0, 7); }, 7, "Binary or Gray Scale FORMAT is needed in kpSetPixel");
    expectFailure([&] { colour.kpGetPixelScale(0, 0); }, 7, "Binary or Gray Scale FORMAT is needed in kpGetPixelScale");
    gray.kpSetFormat(3);
    expectFailure([&] { gray.kpSetPixel(0, 0, 7); }, 7, "Binary or Gray Scale FORMAT is needed in kpSetPixel");
    gray.kpSetFormat(2);
    expectFailure([&] { gray.kpSetPixel(6, 0, 7); }, 7, "Out Of Bound!!");
    expectFailure([&] { gray.kpSetPixel(-1, 0, 7); }, 7, "Out Of Bound!!");
    expectFailure([&] { gray.kpGetPixelScale(5, 0); }, 7, "Out Of Bound!!");
    expectFailure([&] { header.kpSetPixel(0, 0, 7); }, 5, "Image data is null!!");
    // kpGetPixelScale tests the data before the bounds.
    expectFailure([&] { header.kpGetPixelScale(99, 0); }, 5, "Image data is null!!");
}

TEST(KpImage, SetPixelOneStepPastTheEndIsIgnored)
{
    KpImage gray(5, 4, 8);
    gray.kpSetPixel(5, 0, 0);
    gray.kpSetPixel(0, 4, 0);
    for (std::size_t i = 0; i < gray.kpGetImageSize(); ++i) {
        EXPECT_EQ(gray.kpGetData()[i], 255);
    }
}

TEST(KpImage, ConstructFromDataDerivesStore)
{
    KpImageHead head;
    head.width = 2;
    head.height = 2;
    head.depth = 24;
    head.bytesPerRow = 7;
    head.format = 3;
    head.tags.kpAddTag("k", "v");
    KpImage image(new uint8_t[12](), head);
    EXPECT_EQ(image.kpGetBytesPerRow(), 6);
    EXPECT_EQ(image.kpGetChannels(), 3);
    EXPECT_EQ(image.kpGetFormat(), 3);
    EXPECT_TRUE(image.kpGetTags().kpIsEmpty());
    expectFailure([&] { KpImage failed(nullptr, head); }, 5, "KpImage::KpImage() Image Data is NULL!");
}

TEST(KpImage, AssignmentCopiesPixelsAndHeader)
{
    KpImage source(3, 2, 8);
    source.kpSetFormat(2);
    source.kpSetReserved1(1);
    source.kpSetXResolution(72.0f);
    source.kpSetHasWarnings(true);
    source.kpSetPixel(1, 1, 9);
    KpImage copy(source);
    EXPECT_NE(copy.kpGetData(), source.kpGetData());
    EXPECT_EQ(copy.kpGetPixelScale(1, 1), 9);
    EXPECT_EQ(copy.kpGetFormat(), 2);
    EXPECT_EQ(copy.kpGetReserved1(), 1);
    EXPECT_FLOAT_EQ(copy.kpGetXResolution(), 72.0f);
    EXPECT_TRUE(copy.kpGetHasWarnings());

    KpImage empty;
    empty.kpSetHeader(8, 6, 8, 0, 0, true);
    copy = empty;
    EXPECT_EQ(copy.kpGetData(), nullptr);
    EXPECT_EQ(copy.kpGetWidth(), 3);
    EXPECT_EQ(copy.kpGetHeight(), 2);
    expectFailure([&] { copy = copy; }, 13, "Self Assignment Attempted!");
}

TEST(KpImage, MoveTransfersTheBuffer)
{
    KpImage source(3, 2, 24);
    uint8_t* buffer = source.kpGetData();
    KpImage moved(std::move(source));
    EXPECT_EQ(moved.kpGetData(), buffer);
    EXPECT_EQ(moved.kpGetBytesPerRow(), 9);
}

TEST(KpImage, DuplicateAndAllocate)
{
    KpImage empty;
    expectFailure([&] { delete[] empty.kpDuplicateData(); }, 5, "Image Data is NULL!");
    KpImage image;
    image.kpSetHeader(4, 3, 1, 0, 0, true);
    image.kpAllocateImage();
    EXPECT_EQ(image.kpGetImageSize(), 3u);
    EXPECT_EQ(image.kpGetData()[2], 0xFF);
}

struct BadSizeCase {
    const char* name;
    int width, height, depth;
};

const BadSizeCase BAD_SIZES[] = {
    {"zeroWidth", 0, 5, 8},
    {"zeroHeight", 5, 0, 8},
    {"negativeWidth", -3, 5, 8},
    {"negativeHeight", 5, -3, 24},
    {"productOverflows", 65536, 65536, 8},
    {"colourRowOverflows", INT_MAX / 2, 2, 24},
    {"colourProductOverflows", 40000, 40000, 24},
    {"binaryHuge", INT_MAX, INT_MAX, 1},
};

TEST(KpImage, SizesThatDoNotFitRaiseCode13)
{
    for (const BadSizeCase& c : BAD_SIZES) {
        SCOPED_TRACE(c.name);
        expectFailure([&] { KpImage image(c.width, c.height, c.depth); }, 13, "Error Allocating Image Data memory");
    }
}

TEST(KpImage, IsInside)
{
    KpImage image(4, 3, 8);
    EXPECT_TRUE(image.kpIsInside(0, 0));
    EXPECT_TRUE(image.kpIsInside(3, 2));
    EXPECT_FALSE(image.kpIsInside(4, 2));
    EXPECT_FALSE(image.kpIsInside(0, -1));
}

TEST(KpImage, ChannelSplitAndMerge)
{
    KpImage colour(2, 1, 24);
    colour.kpSetPixel(0, 0, 1, 2, 3);
    colour.kpSetPixel(1, 0, 4, 5, 6);
    KpImage green = colour.kpGetChannelImage(1);
    EXPECT_EQ(green.kpGetDepth(), 8);
    EXPECT_EQ(green.kpGetData()[0], 2);
    EXPECT_EQ(green.kpGetData()[1], 5);
    KpImage merged = KpImage::kpMergeChannelImage(colour.kpGetChannelImage(2), green, colour.kpGetChannelImage(0));
    uint8_t r, g, b;
    merged.kpGetPixel(1, 0, &r, &g, &b);
    EXPECT_EQ(r + 0, 6);
    EXPECT_EQ(g + 0, 5);
    EXPECT_EQ(b + 0, 4);

    KpImage gray(2, 1, 8);
    KpImage header;
    header.kpSetHeader(2, 1, 24, 0, 0, true);
    expectFailure([&] { header.kpGetChannelImage(0); }, 5, "<KpImage::kpGetChannelImage()> Image Data is NULL!");
    expectFailure([&] { gray.kpGetChannelImage(0); }, 7,
                  "<KpImage::kpGetChannelImage()> Color image expected in KpImage::kpGetChannel!");
    expectFailure([&] { colour.kpGetChannelImage(3); }, 10,
                  "<KpImage::kpGetChannelImage()> channel is out of bounary in KpImage::kpGetChannel!");
    expectFailure([&] { KpImage::kpMergeChannelImage(gray, colour, gray); }, 7,
                  "<KpImage::kpMergeChannelImage()> Byte image expected in KpImage::kpMergeChannelImage!");
}

TEST(KpImage, MergeRefusesSmallerSecondOrThirdImage)
{
    KpImage big(4, 4, 8);
    KpImage narrow(3, 4, 8);
    KpImage low(4, 3, 8);
    expectFailure([&] { KpImage::kpMergeChannelImage(big, narrow, big); }, 7, "KpImage::kpMergeChannelImage!");
    expectFailure([&] { KpImage::kpMergeChannelImage(big, big, low); }, 7, "KpImage::kpMergeChannelImage!");
    KpImage merged = KpImage::kpMergeChannelImage(narrow, big, big);
    EXPECT_EQ(merged.kpGetWidth(), 3);
}

TEST(KpImageInversion, ByteImages)
{
    KpImage gray = testsupport::grayFromPicture({"#.", "4."});
    KpImage reversed = gray.kpReverseImage();
    EXPECT_EQ(reversed.kpGetData()[0], 255);
    EXPECT_EQ(reversed.kpGetData()[1], 0);
    EXPECT_EQ(reversed.kpGetData()[2], 155);
    KpImage twice = reversed.kpReverseImage();
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(twice.kpGetData()[i], gray.kpGetData()[i]);
    }
}

TEST(KpImageInversion, BinaryRowEndBitsFlipToo)
{
    KpImage binary(10, 1, 1);
    binary.kpGetData()[1] = 0xC0;
    binary.kpSetFormat(1);
    binary.kpSetXResolution(300.0f);
    KpImage reversed = binary.kpReverseByteImage();
    EXPECT_EQ(reversed.kpGetData()[0], 0x00);
    EXPECT_EQ(reversed.kpGetData()[1], 0x3F);
    EXPECT_EQ(reversed.kpGetFormat(), 0);
    EXPECT_EQ(reversed.kpGetXResolution(), 0.0f);
}

TEST(KpImageInversion, ColourPixel)
{
    KpImage colour(1, 1, 24);
    colour.kpSetPixel(0, 0, 10, 200, 255);
    KpImage reversed = colour.kpReverseImage();
    uint8_t r, g, b;
    reversed.kpGetPixel(0, 0, &r, &g, &b);
    EXPECT_EQ(r + 0, 245);
    EXPECT_EQ(g + 0, 55);
    EXPECT_EQ(b + 0, 0);
}

TEST(KpImageInversion, ColourEqualsChannelWiseInversion)
{
    KpImage colour(7, 5, 24);
    for (std::size_t i = 0; i < colour.kpGetImageSize(); ++i) {
        colour.kpGetData()[i] = static_cast<uint8_t>(i * 37 + 11);
    }
    colour.kpSetFormat(3);
    colour.kpSetXResolution(72.0f);
    const KpImage expected = KpImage::kpMergeChannelImage(colour.kpGetChannelImage(0).kpReverseByteImage(),
                                                          colour.kpGetChannelImage(1).kpReverseByteImage(),
                                                          colour.kpGetChannelImage(2).kpReverseByteImage());
    const KpImage reversed = colour.kpReverseImage();
    ASSERT_EQ(reversed.kpGetImageSize(), expected.kpGetImageSize());
    EXPECT_EQ(0, std::memcmp(reversed.kpGetData(), expected.kpGetData(), expected.kpGetImageSize()));
    EXPECT_EQ(reversed.kpGetFormat(), expected.kpGetFormat());
    EXPECT_EQ(reversed.kpGetXResolution(), expected.kpGetXResolution());
}

TEST(KpImageInversion, Failures)
{
    KpImage empty;
    expectFailure([&] { empty.kpReverseImage(); }, 5, "<KpImage::kpReverseImage()> Image Data is NULL!");
    expectFailure([&] { empty.kpReverseByteImage(); }, 5, "<KpImage::kpReverseByteImage()> Image Data is NULL!");
    KpImage colour(1, 1, 24);
    expectFailure([&] { colour.kpReverseByteImage(); }, 7,
                  "<KpImage::kpReverseByteImage() Byte or Binary images are expected in kpReverseByteImage!");
    KpImageHead head;
    head.width = 1;
    head.height = 1;
    head.depth = 16;
    KpImage odd(new uint8_t[2](), head);
    expectFailure([&] { odd.kpReverseImage(); }, 11,
                  "<KpImage::kpReverseImage()> KpImage::kpReverseImage() Unknow Image format. Only supports 1, 8 and 24 bit images");
}

} // namespace
