// The resources inside the built klavor.exe, read back from its PE image:
// what windres made of res/klavor.rc is what the shell and the phone see.
//
// The executable is named by the environment variable KLAVOR_EXE (the test
// is registered once per desktop build, 32- and 64-bit).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// A resource type or name: a number or a string.
using ResId = std::variant<std::uint16_t, std::u16string>;

constexpr std::uint16_t kRtIcon = 3;
constexpr std::uint16_t kRtGroupIcon = 14;

// The resource directory of a PE file, flattened to type -> name -> data
// (the first language of each, which is all windres writes).
class PeResources {
public:
    explicit PeResources(Bytes image) : image_(std::move(image)) { Parse(); }

    const std::string& error() const { return error_; }

    std::optional<Bytes> Find(const ResId& type, const ResId& name) const {
        auto t = entries_.find(type);
        if (t == entries_.end()) return std::nullopt;
        auto n = t->second.find(name);
        if (n == t->second.end()) return std::nullopt;
        return n->second;
    }

    std::vector<ResId> Names(const ResId& type) const {
        std::vector<ResId> out;
        auto t = entries_.find(type);
        if (t != entries_.end())
            for (const auto& [name, data] : t->second) out.push_back(name);
        return out;
    }

private:
    bool Has(std::size_t offset, std::size_t size) const {
        return offset <= image_.size() && size <= image_.size() - offset;
    }
    std::uint16_t U16(std::size_t at) const {
        if (!Has(at, 2)) throw Bad{"read past the end at " + std::to_string(at)};
        return static_cast<std::uint16_t>(image_[at] | image_[at + 1] << 8);
    }
    std::uint32_t U32(std::size_t at) const {
        return static_cast<std::uint32_t>(U16(at)) | static_cast<std::uint32_t>(U16(at + 2)) << 16;
    }

    struct Bad {
        std::string what;
    };

    struct Section {
        std::uint32_t rva, size, fileOffset, fileSize;
    };

    std::size_t FileOffsetOf(std::uint32_t rva, std::uint32_t size) const {
        for (const Section& s : sections_) {
            std::uint32_t extent = std::max(s.size, s.fileSize);
            if (rva >= s.rva && rva - s.rva < extent) {
                std::size_t off = s.fileOffset + (rva - s.rva);
                if (!Has(off, size) || rva - s.rva + size > s.fileSize)
                    throw Bad{"data at RVA " + std::to_string(rva) + " is not in the file"};
                return off;
            }
        }
        throw Bad{"RVA " + std::to_string(rva) + " is in no section"};
    }

    ResId IdOf(std::uint32_t nameField) const {
        if (!(nameField & 0x80000000u)) return static_cast<std::uint16_t>(nameField & 0xFFFF);
        std::size_t at = rsrc_ + (nameField & 0x7FFFFFFFu);
        std::u16string s;
        std::uint16_t length = U16(at);
        for (std::uint16_t i = 0; i < length; ++i) s += static_cast<char16_t>(U16(at + 2 + 2 * i));
        return s;
    }

    // The entries of one directory table: (id, offset field).
    std::vector<std::pair<ResId, std::uint32_t>> Table(std::size_t dir) const {
        std::vector<std::pair<ResId, std::uint32_t>> out;
        std::size_t count = static_cast<std::size_t>(U16(dir + 12)) + U16(dir + 14);
        for (std::size_t i = 0; i < count; ++i) {
            std::size_t e = dir + 16 + 8 * i;
            out.emplace_back(IdOf(U32(e)), U32(e + 4));
        }
        return out;
    }

    std::size_t Subdirectory(std::uint32_t field) const {
        if (!(field & 0x80000000u)) throw Bad{"a data entry where a directory belongs"};
        return rsrc_ + (field & 0x7FFFFFFFu);
    }

    void Parse() {
        try {
            if (!Has(0, 64) || image_[0] != 'M' || image_[1] != 'Z') throw Bad{"no MZ header"};
            std::size_t pe = U32(0x3C);
            if (U32(pe) != 0x00004550u) throw Bad{"no PE signature"};
            std::size_t coff = pe + 4;
            std::uint16_t sectionCount = U16(coff + 2);
            std::uint16_t optionalSize = U16(coff + 16);
            std::size_t opt = coff + 20;
            std::uint16_t magic = U16(opt);
            std::size_t dataDirs;
            if (magic == 0x10B)
                dataDirs = opt + 96;  // PE32
            else if (magic == 0x20B)
                dataDirs = opt + 112;  // PE32+
            else
                throw Bad{"unknown optional header magic " + std::to_string(magic)};
            std::uint32_t rsrcRva = U32(dataDirs + 2 * 8);
            std::uint32_t rsrcSize = U32(dataDirs + 2 * 8 + 4);
            if (rsrcRva == 0 || rsrcSize == 0) throw Bad{"no resource directory"};
            std::size_t table = opt + optionalSize;
            for (std::uint16_t i = 0; i < sectionCount; ++i) {
                std::size_t s = table + 40 * i;
                sections_.push_back(Section{U32(s + 12), U32(s + 8), U32(s + 20), U32(s + 16)});
            }
            rsrc_ = FileOffsetOf(rsrcRva, rsrcSize);

            for (const auto& [type, typeField] : Table(rsrc_)) {
                for (const auto& [name, nameField] : Table(Subdirectory(typeField))) {
                    auto languages = Table(Subdirectory(nameField));
                    if (languages.empty()) throw Bad{"a resource with no language"};
                    std::uint32_t dataField = languages.front().second;
                    if (dataField & 0x80000000u) throw Bad{"a directory where data belongs"};
                    std::size_t entry = rsrc_ + dataField;
                    std::uint32_t rva = U32(entry), size = U32(entry + 4);
                    std::size_t off = FileOffsetOf(rva, size);
                    entries_[type][name] = Bytes(image_.begin() + static_cast<std::ptrdiff_t>(off),
                                                 image_.begin() + static_cast<std::ptrdiff_t>(off + size));
                }
            }
        } catch (const Bad& bad) {
            error_ = bad.what;
        }
    }

    Bytes image_;
    std::vector<Section> sections_;
    std::size_t rsrc_ = 0;
    std::map<ResId, std::map<ResId, Bytes>> entries_;
    std::string error_;
};

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
        std::ifstream in(path, std::ios::binary);
        if (!in) return;
        exePath_ = path;
        resources_ = new PeResources(Bytes(std::istreambuf_iterator<char>(in), {}));
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
        auto dir = resources_->Find(kRtGroupIcon, group);
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

            auto icon = resources_->Find(kRtIcon, id);
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
    static PeResources* resources_;
};

std::string KlavorExeResources::exePath_;
PeResources* KlavorExeResources::resources_ = nullptr;

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
    std::vector<ResId> names = resources_->Names(kRtGroupIcon);
    std::vector<ResId> want = {std::uint16_t{105}, std::uint16_t{10001}, std::uint16_t{10002}, std::uint16_t{10003},
                               std::uint16_t{10004}};
    EXPECT_EQ(names, want);
}

TEST_F(KlavorExeResources, HighResolutionMarkerIsTheWordOne) {
    auto marker = resources_->Find(std::u16string(u"CEUX"), std::u16string(u"HI_RES_AWARE"));
    ASSERT_TRUE(marker.has_value()) << "no CEUX resource named HI_RES_AWARE";
    EXPECT_EQ(*marker, (Bytes{0x01, 0x00}));
}

}  // namespace
