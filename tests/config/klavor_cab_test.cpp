// Klavor's own installation cabinet: its control file byte for byte, the
// cabinet read back, and what show says of it, the configuration included.
#include <gtest/gtest.h>

#include "cecab/install.h"
#include "config/klavor_cab.h"
#include "tests/cecab/cab_shapes.h"

namespace {

using namespace config;
using namespace cecab;
using namespace cabtest;

TEST(KlavorCab, ItsControlFileIsExactlyTheDocumentedLayout) {
    const Bytes image = ConfigImage();
    for (std::optional<Bytes> value : {std::optional<Bytes>(image), std::optional<Bytes>()}) {
        Bytes written = Encode(KlavorSetup(value));
        EXPECT_EQ(written, ExpectedControlFile(value)) << (value ? "with" : "without") << " the value";
        std::string error;
        std::optional<CeSetup> back = DecodeCeSetup(written, "x.000", &error);
        ASSERT_TRUE(back) << error;
        EXPECT_TRUE(*back == KlavorSetup(value));
        EXPECT_EQ(back->appName, "Klavor");
        EXPECT_EQ(back->provider, "Klavor project");
        EXPECT_EQ(back->minVersionMajor, 4u);
        EXPECT_EQ(back->minVersionMinor, 20u);
        EXPECT_EQ(back->maxVersionMajor, 100u);
        const CeRegValue* v = FindKlavorValue(*back);
        ASSERT_EQ(v != nullptr, value.has_value());
        if (v) {
            EXPECT_EQ(v->data, image);
        }
    }
}

TEST(KlavorCab, ItsCabinetReadsBackWithTheControlFileFirst) {
    const Bytes exe = SomeExe(), image = ConfigImage();
    for (std::optional<Bytes> value : {std::optional<Bytes>(image), std::optional<Bytes>()}) {
        Bytes cab = KlavorCab(value, exe);
        std::string error;
        std::optional<InstallCabinet> read = ReadInstallCabinet(cab, "Klavor.cab", &error);
        ASSERT_TRUE(read) << error;
        ASSERT_EQ(read->members.size(), 2u);
        EXPECT_EQ(read->members[0].name, "KLAVOR.000");
        EXPECT_EQ(read->members[0].data, ExpectedControlFile(value));
        EXPECT_EQ(read->members[1].name, "KLAVOR.001");
        EXPECT_EQ(read->members[1].data, exe);
        EXPECT_TRUE(read->setup == KlavorSetup(value));
        EXPECT_EQ(KlavorCab(value, exe), cab);  // the same inputs make the same file
    }
}

TEST(KlavorCab, DescriptionListsWhatTheInstallerDoesThenTheConfiguration) {
    const Bytes image = ConfigImage();
    std::string error;
    std::optional<InstallCabinet> cab = ReadInstallCabinet(KlavorCab(image), "Klavor.cab", &error);
    ASSERT_TRUE(cab) << error;
    std::string text = DescribeInstallCabinet(*cab, "Klavor.cab");
    const std::string installs =
        "# Klavor.cab: a Windows CE installation cabinet for \"Klavor\" from \"Klavor project\"\n"
        "# for Windows CE 4.20 to 100.00, any processor\n"
        "# The installer will:\n"
        "#   make the folder \\Program Files\\Klavor (%CE1%\\Klavor)\n"
        "#   make the folder \\Windows\\StartUp (%CE4%)\n"
        "#   make the folder \\Windows\\Start Menu\\Programs (%CE11%)\n"
        "#   copy klavor.exe (KLAVOR.001, 40000 bytes) into \\Program Files\\Klavor (%CE1%\\Klavor); always overwrites\n"
        "#   make the shortcut Klavor.lnk in \\Windows\\StartUp (%CE4%) to \\Program Files\\Klavor\\klavor.exe\n"
        "#   make the shortcut Klavor.lnk in \\Windows\\Start Menu\\Programs (%CE11%) to \\Program Files\\Klavor\\klavor.exe\n"
        "#   set HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvane \"klavorKeyTable\" = binary, 128 bytes\n";
    EXPECT_EQ(text.substr(0, installs.size()), installs) << text;
    // The rest is show's description of the value: a configuration again.
    EXPECT_EQ(text.substr(installs.size()), DescribeValue(image, "Klavor.cab klavorKeyTable"));
    std::optional<Table> again = ParseConfigText(text, "shown", &error);
    ASSERT_TRUE(again) << error;
    EXPECT_EQ(EncodeTable(*again), image);

    cab = ReadInstallCabinet(KlavorCab(std::nullopt), "Klavor.cab", &error);
    ASSERT_TRUE(cab) << error;
    text = DescribeInstallCabinet(*cab, "Klavor.cab");
    EXPECT_EQ(text.find("#   set "), std::string::npos) << text;
    EXPECT_NE(text.find("# It sets no klavorKeyTable value: Klavor keeps the one the registry holds, or else its "
                        "built-in configuration:\n" + FormatConfigText(DefaultTable())),
              std::string::npos)
        << text;

    // A cabinet klavorcfg wrote before: its shortcut is no shortcut.
    std::optional<Bytes> before = WriteCabinet({{"KLAVOR.000", ControlFileBefore(image)}, {"KLAVOR.001", SomeExe()}}, 0, &error);
    ASSERT_TRUE(before) << error;
    cab = ReadInstallCabinet(*before, "Old.cab", &error);
    ASSERT_TRUE(cab) << error;
    text = DescribeInstallCabinet(*cab, "Old.cab");
    for (const char* line : {"# for Windows CE 4.20 or later, any processor\n",
                             "#   make the shortcut Klavor in \\Windows\\StartUp (%CE4%) to \\Program Files\\Klavor\\klavor.exe\n",
                             "# warning: the shortcut Klavor has no .lnk: the installer makes a file of that name, which the "
                             "phone does not take for a shortcut\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n---\n" << text;
}

}  // namespace
