// A cabinet read as an installation: the members a control file needs,
// which programs the phones can run, and what show says of a cabinet that
// is not Klavor's.
#include <gtest/gtest.h>

#include "cab_shapes.h"
#include "cecab/install.h"

namespace {

using namespace config;
using namespace cecab;
using namespace cabtest;

TEST(InstallCabinet, RefusesCabinetsThatAreNotInstallations) {
    const Bytes control = Encode(KlavorSetup(ConfigImage()));
    std::string error;
    auto read = [&](std::vector<CabMember> members) {
        std::optional<Bytes> cab = WriteCabinet(members, 1700000000, &error);
        EXPECT_TRUE(cab) << error;
        return cab && ReadInstallCabinet(*cab, "x.cab", &error);
    };
    EXPECT_FALSE(read({{"KLAVOR.000", control}}));
    EXPECT_EQ(error, "x.cab: KLAVOR.000 installs klavor.exe from member number 1, which the cabinet does not hold");
    EXPECT_FALSE(read({{"KLAVOR.001", {1}}, {"README.TXT", {2}}}));
    EXPECT_EQ(error, "x.cab: no .000 member: not a Windows CE installation cabinet");
    EXPECT_FALSE(read({{"KLAVOR.000", control}, {"A.001", {1}}, {"B.001", {2}}}));
    EXPECT_EQ(error, "x.cab: members A.001 and B.001 have the same number");
    EXPECT_FALSE(read({{"KLAVOR.000", {'M', 'S', 'C', 'E'}}, {"A.001", {1}}}));
    EXPECT_EQ(error, "x.cab: KLAVOR.000: too short for the 100-byte header: 4 bytes");
    EXPECT_TRUE(read({{"KLAVOR.000", control}, {"A.001", {1}}})) << error;
}

TEST(CabExe, OnlyAnArmWindowsCeProgramPasses) {
    EXPECT_EQ(ExeProblem(SomeExe()), std::nullopt);
    EXPECT_EQ(ExeProblem(SomeExe(4096, 0x01C2)), std::nullopt);  // Thumb
    EXPECT_EQ(ExeProblem(SomeExe(4096, 0x8664, 2)), "a program for x86-64, not ARM");
    EXPECT_EQ(ExeProblem(SomeExe(4096, 0x01C4, 9)), "a program for ARMv7 Thumb-2, which these phones' processors lack, not ARM");
    EXPECT_EQ(ExeProblem(SomeExe(4096, 0x01C0, 2)), "an ARM program, but not for Windows CE (subsystem 2, not 9)");
    EXPECT_EQ(ExeProblem(Bytes{'h', 'i'}), "not a Windows program (no MZ header)");
    Bytes pastTheEnd = SomeExe(4096);
    pastTheEnd.resize(0x80 + 24 + 68 + 1);  // the subsystem word's last byte missing
    EXPECT_EQ(ExeProblem(pastTheEnd), "not a Windows program (no PE header)");
    PutU32(pastTheEnd, 0x3C, 0xFFFFFFF0);
    EXPECT_EQ(ExeProblem(pastTheEnd), "not a Windows program (no PE header)");
}

TEST(InstallCabinet, DescriptionOfAForeignCabinetShowsEveryKindOfEntry) {
    CeSetup s = Everything();
    std::string error;
    std::optional<Bytes> cab = WriteCabinet({{"X.000", Encode(s)}, {"A.005", {1}}, {"B.012", {2, 3}}, {"S.999", {4}}}, 0, &error);
    ASSERT_TRUE(cab) << error;
    std::optional<InstallCabinet> read = ReadInstallCabinet(*cab, "odd.cab", &error);
    ASSERT_TRUE(read) << error;
    std::string text = DescribeInstallCabinet(*read, "odd.cab");
    for (const char* line : {
             "# for Windows CE 4.21 to 5.01, StrongARM\n",
             "# not for: \"HPC\" \"PALM PC2\"\n",
             "#   copy a.dll (B.012, 2 bytes) into \\Windows\\Start Menu\\Programs\\Sub (%CE11%\\Sub); cannot be skipped, shared\n",
             "#   copy readme.txt (A.005, 1 byte) into Odd; asks before overwriting\n",
             "#   make the shortcut Sub in \\Windows\\Start Menu\\Programs (%CE11%) to \\Windows\\Start Menu\\Programs\\Sub\\a.dll\n",
             "#   make the shortcut Sub\\Odd in %InstallDir% to Odd\n",
             "#   make the shortcut Odd in \\Windows\\Start Menu (%CE17%) to the installation folder\n",
             "#   set HKEY_CURRENT_USER\\Software\\Odd \"Path\" = string \"%CE1%\", with %CEn% in it expanded\n",
             "#   set HKEY_CURRENT_USER\\Software\\Odd the default value = multi-string \"a\" \"bc\", unless it exists already\n",
             "#   set HKEY_CLASSES_ROOT \"n\" = dword 0x04030201\n",
             "# S.999 is a setup program the installer runs\n",
             "# warning: a.dll is not a Windows program (no MZ header); the phones cannot run it\n",
             "# warning: the members are not in the order the installer expects (.000 first, then descending)\n",
             "# It sets no klavorKeyTable value",
         })
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n---\n" << text;
}

}  // namespace
