// The Explorer verb against Wine's real registry: which keys /I and /U
// create, keep and delete, what they report, and that no key stays open.
// (What the program's boxes say and the verb's use through the shell are
// checked end to end with the real Korvane.exe.)
#include "DeclUnit.h"
#include "DirectWin32.h"
#include "ProcessUnit.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace {
const char* const TypeName = "KorvaneTest.mp3file";

void SetDefault(const std::string& path, const char* value)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr), ERROR_SUCCESS);
    if (value)
        RegSetValueExA(key, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), DWORD(strlen(value) + 1));
    RegCloseKey(key);
}

bool Exists(const std::string& path)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

class ShellVerb : public ::testing::Test {
protected:
    void SetUp() override
    {
        LoadCatalogue();
        RegDeleteTreeA(HKEY_CLASSES_ROOT, ".mp3");
        RegDeleteTreeA(HKEY_CLASSES_ROOT, TypeName);
    }
    void TearDown() override
    {
        EXPECT_EQ(OpenRegKeyCount(), 0) << "a registry key was left open";
        SetUp();
    }
    std::string shell = std::string(TypeName) + "\\shell";
    std::string verb = shell + "\\Korvane";
};
} // namespace

TEST_F(ShellVerb, FailsWithoutAUsableFileType)
{
    EXPECT_FALSE(InstallShellVerb()); // no .mp3 key
    SetDefault(".mp3", nullptr);
    EXPECT_FALSE(InstallShellVerb()); // no file type named
    EXPECT_FALSE(UninstallShellVerb());
    SetDefault(".mp3", TypeName);
    EXPECT_FALSE(InstallShellVerb()); // the named type has no key
    EXPECT_FALSE(UninstallShellVerb());
    EXPECT_FALSE(Exists(TypeName));
}

TEST_F(ShellVerb, UninstallKeepsWhatIsNotTheProgramsOwn)
{
    SetDefault(".mp3", TypeName);
    SetDefault(verb + "\\command", "x");
    SetDefault(shell + "\\play\\command", "player \"%1\"");
    EXPECT_TRUE(UninstallShellVerb());
    EXPECT_FALSE(Exists(verb));
    EXPECT_TRUE(Exists(shell + "\\play\\command"));

    SetDefault(shell, "play");
    RegDeleteTreeA(HKEY_CLASSES_ROOT, (shell + "\\play").c_str());
    SetDefault(verb + "\\command", "x");
    EXPECT_TRUE(UninstallShellVerb()); // shell keeps its own value, so it stays
    EXPECT_TRUE(Exists(shell));
}

TEST_F(ShellVerb, UninstallWithoutTheVerb)
{
    SetDefault(".mp3", TypeName);
    SetDefault(TypeName, nullptr);
    EXPECT_FALSE(UninstallShellVerb()); // no shell key: nothing changes
    EXPECT_TRUE(Exists(TypeName));
    SetDefault(shell, nullptr);
    EXPECT_FALSE(UninstallShellVerb()); // empty shell is removed, still a failure
    EXPECT_FALSE(Exists(shell));
}

TEST_F(ShellVerb, FileTypeNamesUpTo255Characters)
{
    for (int length : {255, 256}) {
        std::string name(std::size_t(length), 'k');
        SetDefault(".mp3", name.c_str());
        if (length == 255) // the longest key name the registry takes
            SetDefault(name, nullptr);
        EXPECT_EQ(InstallShellVerb(), length == 255) << length;
        RegDeleteTreeA(HKEY_CLASSES_ROOT, name.c_str());
    }
}
