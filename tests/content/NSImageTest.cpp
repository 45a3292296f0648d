#include <gtest/gtest.h>
#include <sys/resource.h>

#include "content/NSImage.h"
#include "content/support/PngSamples.h"

namespace {

using foundation::Data;

TEST(NSImageTest, SupportAndPngTestsByExtensionOrName) {
    struct Case {
        const char* path;
        bool supported;
        bool png;
    };
    const Case cases[] = {
        {"/a/b/photo.png", true, true},
        {"photo.PNG", true, true},
        {"photo.Png", false, false},  // the list holds exact spellings only
        {"/DCIM/IMG_0001.JPG", true, false},
        {"/a/b/photo.jpeg", true, false},
        {"/Applications/X.app/iTunesArtwork", true, true},
        {"/x/iTunesArtwork.jpg", true, false},
        {"/x/itunesartwork", false, false},
        {"/x/notes", false, false},
        {"/x/png", true, true},  // no extension: the whole name is the key
        {"/x/readme.txt", false, false},
        {"/x/archive.png.zip", false, false},
        {"", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NSImage::SupportFileAtPath(c.path), c.supported) << c.path;
        EXPECT_EQ(NSImage::IsPNGFileAtPath(c.path), c.png) << c.path;
    }
}

GdkPixbuf* solidPixbuf() {
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 6, 4);
    gdk_pixbuf_fill(pixbuf, 0x3366CCFF);
    return pixbuf;
}

Data saved(const char* type) {
    GdkPixbuf* pixbuf = solidPixbuf();
    gchar* buffer = nullptr;
    gsize size = 0;
    EXPECT_TRUE(gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &size, type, nullptr, nullptr));
    const Data bytes(buffer, buffer + size);
    g_free(buffer);
    g_object_unref(pixbuf);
    return bytes;
}

TEST(NSImageTest, DecodesWhateverTheDecoderReads) {
    const Data jpeg = saved("jpeg");

    const Data device = pngtest::devicePng();
    struct Case {
        const char* name;
        Data bytes;
        bool isPNG;
        int width;  // 0: no image
    };
    const Case cases[] = {
        {"device PNG flagged", device, true, 5},
        {"device PNG not flagged", device, false, 0},
        {"standard PNG flagged", pngtest::standardPng(3, 2), true, 3},
        {"JPEG flagged as PNG still decodes", jpeg, true, 6},
        {"JPEG", jpeg, false, 6},
        {"garbage", Data(100, 0x42), true, 0},
        {"empty", {}, false, 0},
    };
    for (const auto& c : cases) {
        const auto image = NSImage::safeImageWithDataIsPNG(c.bytes, c.isPNG);
        if (c.width == 0) {
            EXPECT_FALSE(image) << c.name;
        } else {
            ASSERT_TRUE(image) << c.name;
            EXPECT_EQ(gdk_pixbuf_get_width(image.get()), c.width) << c.name;
        }
    }
}

long peakMemoryKB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// A JPEG whose frame header claims 30000 x 30000 pixels.
Data hugeJpeg() {
    Data jpeg = saved("jpeg");
    std::size_t at = 2;
    while (at + 9 < jpeg.size() && !(jpeg[at] == 0xFF && (jpeg[at + 1] & 0xFD) == 0xC0)) ++at;
    for (std::size_t i = 5; i < 9 && at + 9 < jpeg.size(); i += 2) {
        jpeg[at + i] = 30000 >> 8;
        jpeg[at + i + 1] = 30000 & 0xFF;
    }
    return jpeg;
}

// Only PNG and JPEG are decoded, and a huge picture is refused from its header, before the
// decoder takes gigabytes for its pixels.
TEST(NSImageTest, HugeOrForeignPicturesAreRefusedBeforeDecoding) {
    const std::string svg =
        "<svg xmlns='http://www.w3.org/2000/svg' width='8' height='8'>"
        "<rect width='8' height='8' fill='red'/></svg>";
    const struct {
        const char* name;
        Data bytes;
    } cases[] = {
        {"30000 x 30000 PNG", pngtest::bilevelPng(30000, 30000)},
        {"JPEG claiming 30000 x 30000", hugeJpeg()},
        {"SVG", Data(svg.begin(), svg.end())},
        {"BMP", saved("bmp")},
    };
    const long before = peakMemoryKB();
    for (const auto& c : cases) {
        for (bool isPNG : {false, true}) {
            EXPECT_FALSE(NSImage::safeImageWithDataIsPNG(c.bytes, isPNG)) << c.name;
        }
    }
    EXPECT_LT(peakMemoryKB() - before, 256 * 1024);
    EXPECT_TRUE(NSImage::safeImageWithDataIsPNG(pngtest::bilevelPng(600, 400), false));
    EXPECT_FALSE(NSImage::SupportFileAtPath("/x/picture.svg"));
    EXPECT_FALSE(NSImage::SupportFileAtPath("/x/picture.bmp"));
}

}  // namespace
