// The resources inside the built klavor.exe, read back from its PE image:
// what windres made of res/klavor.rc is what the shell and the phone see.
//
// The executable is named by the environment variable KLAVOR_EXE (the test
// is registered once per build: desktop 32- and 64-bit, and the phone).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "tests/resources/pe_image.h"

namespace {

using pe::Bytes;
using pe::kRtGroupIcon;
using pe::kRtIcon;
using pe::ResId;

std::uint16_t Word(const Bytes& b, std::size_t at) { return static_cast<std::uint16_t>(b.at(at) | b.at(at + 1) << 8); }
std::uint32_t Dword(const Bytes& b, std::size_t at) { return Word(b, at) | static_cast<std::uint32_t>(Word(b, at + 2)) << 16; }
std::int32_t Long(const Bytes& b, std::size_t at) { return static_cast<std::int32_t>(Dword(b, at)); }

// One image of an icon group as the group describes it and as the image
// itself is: width, height, colours, bits per pixel.
struct IconImage {
    int width, height, colors, bits;
    bool operator<(const IconImage& o) const {
        return std::tie(width, height, colors, bits) < std::tie(o.width, o.height, o.colors, o.bits);
    }
    bool operator==(const IconImage& o) const {
        return std::tie(width, height, colors, bits) == std::tie(o.width, o.height, o.colors, o.bits);
    }
};

std::ostream& operator<<(std::ostream& out, const IconImage& i) {
    return out << i.width << "x" << i.height << " " << i.colors << " colours " << i.bits << " bpp";
}

class KlavorExeResources : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const char* path = std::getenv("KLAVOR_EXE");
        if (!path) return;
        std::optional<pe::Image> image = pe::Image::Load(path);
        if (!image) return;
        exePath_ = path;
        resources_ = new pe::Image(std::move(*image));
    }
    static void TearDownTestSuite() {
        delete resources_;
        resources_ = nullptr;
    }

    void SetUp() override {
        ASSERT_NE(resources_, nullptr) << "KLAVOR_EXE must name the built klavor.exe";
        ASSERT_EQ(resources_->error(), "") << exePath_;
    }

    // The images of an icon group, each checked against the RT_ICON it names.
    std::vector<IconImage> GroupImages(std::uint16_t group) {
        std::vector<IconImage> out;
        auto dir = resources_->FindResource(kRtGroupIcon, group);
        EXPECT_TRUE(dir.has_value()) << "no icon group " << group;
        if (!dir) return out;
        const Bytes& d = *dir;
        EXPECT_EQ(Word(d, 0), 0) << "group " << group;
        EXPECT_EQ(Word(d, 2), 1) << "group " << group << " is not an icon group";
        std::uint16_t count = Word(d, 4);
        EXPECT_EQ(d.size(), 6u + 14u * count) << "group " << group;
        for (std::uint16_t i = 0; i < count && 6u + 14u * (i + 1u) <= d.size(); ++i) {
            std::size_t e = 6 + 14 * i;
            int width = d[e] ? d[e] : 256;
            int height = d[e + 1] ? d[e + 1] : 256;
            int colors = d[e + 2];  // 0 means 256 or more
            int bits = Word(d, e + 6);
            std::uint32_t bytes = Dword(d, e + 8);
            std::uint16_t id = Word(d, e + 12);

            auto icon = resources_->FindResource(kRtIcon, id);
            EXPECT_TRUE(icon.has_value()) << "group " << group << " names icon " << id << ", which is missing";
            if (!icon) continue;
            EXPECT_EQ(icon->size(), bytes) << "group " << group << " icon " << id << ": size in the group";
            // The image: a BITMAPINFOHEADER, height doubled for the mask.
            EXPECT_EQ(Dword(*icon, 0), 40u) << "icon " << id << " is not a DIB";
            EXPECT_EQ(Long(*icon, 4), width) << "icon " << id;
            EXPECT_EQ(Long(*icon, 8), 2 * height) << "icon " << id;
            EXPECT_EQ(Word(*icon, 14), bits) << "icon " << id;
            // Colour table, colour bits and a 1-bit mask, rows padded to 32 bits.
            std::size_t palette = bits <= 8 ? (std::size_t{1} << bits) * 4 : 0;
            std::size_t xorRow = ((static_cast<std::size_t>(width) * bits + 31) / 32) * 4;
            std::size_t andRow = ((static_cast<std::size_t>(width) + 31) / 32) * 4;
            EXPECT_EQ(icon->size(), 40 + palette + (xorRow + andRow) * height) << "icon " << id << " size";
            out.push_back(IconImage{width, height, colors, bits});
        }
        return out;
    }

    static std::string exePath_;
    static pe::Image* resources_;
};

std::string KlavorExeResources::exePath_;
pe::Image* KlavorExeResources::resources_ = nullptr;

TEST_F(KlavorExeResources, AppIconHasItsFiveImages) {
    std::vector<IconImage> got = GroupImages(105);
    std::vector<IconImage> want = {
        {32, 32, 16, 4}, {16, 16, 16, 4}, {32, 32, 0, 8}, {48, 48, 0, 8}, {16, 16, 0, 8},
    };
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);
}

TEST_F(KlavorExeResources, ButtonIconsAreOneSmallSixteenColourImageEach) {
    for (std::uint16_t group = 10001; group <= 10004; ++group) {
        std::vector<IconImage> got = GroupImages(group);
        EXPECT_EQ(got, (std::vector<IconImage>{{16, 16, 16, 4}})) << "group " << group;
    }
}

TEST_F(KlavorExeResources, NoOtherIconGroups) {
    std::vector<ResId> names = resources_->ResourceNames(kRtGroupIcon);
    std::vector<ResId> want = {std::uint16_t{105}, std::uint16_t{10001}, std::uint16_t{10002}, std::uint16_t{10003},
                               std::uint16_t{10004}};
    EXPECT_EQ(names, want);
}

TEST_F(KlavorExeResources, HighResolutionMarkerIsTheWordOne) {
    auto marker = resources_->FindResource(std::u16string(u"CEUX"), std::u16string(u"HI_RES_AWARE"));
    ASSERT_TRUE(marker.has_value()) << "no CEUX resource named HI_RES_AWARE";
    EXPECT_EQ(*marker, (Bytes{0x01, 0x00}));
}

}  // namespace
