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
#include <vector>

namespace {
const std::string Type = "KorvaneTest.mp3file", Shell = Type + "\\shell", Verb = Shell + "\\Korvane";

// Each key given, with its default value when one follows after '='.
void Make(const std::vector<std::string>& keys)
{
    for (const std::string& key : keys) {
        const std::string::size_type equals = key.find('=');
        const std::string value = equals == std::string::npos ? "" : key.substr(equals + 1);
        HKEY k;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, key.substr(0, equals).c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &k, nullptr), ERROR_SUCCESS) << key;
        if (equals != std::string::npos)
            RegSetValueExA(k, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), DWORD(value.size() + 1));
        RegCloseKey(k);
    }
}

bool Exists(const std::string& path)
{
    HKEY key;
    return RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS &&
           RegCloseKey(key) == ERROR_SUCCESS;
}

void Clear()
{
    RegDeleteTreeA(HKEY_CLASSES_ROOT, ".mp3");
    RegDeleteTreeA(HKEY_CLASSES_ROOT, Type.c_str());
}
} // namespace

TEST(ShellVerb, KeysKeptAndDeleted)
{
    LoadCatalogue();
    const struct { std::vector<std::string> keys; bool install, result; std::vector<std::string> kept, gone; } rows[] = {
        {{}, true, false, {}, {".mp3"}},                             // no .mp3 key
        {{".mp3"}, true, false, {}, {Type}},                          // no file type named
        {{".mp3=" + Type}, true, false, {}, {Type}},                  // the named type has no key
        {{".mp3=" + Type}, false, false, {}, {Type}},
        {{".mp3=" + Type, Verb + "\\command=x", Shell + "\\play\\command=player"}, false, true,
         {Shell + "\\play\\command"}, {Verb}},                       // another verb stays
        {{".mp3=" + Type, Shell + "=play", Verb + "\\command=x"}, false, true, {Shell}, {Verb}},
        {{".mp3=" + Type, Type}, false, false, {Type}, {}},           // no shell key: nothing changes
        {{".mp3=" + Type, Shell}, false, false, {Type}, {Shell}},     // an empty shell goes, still a failure
    };
    for (const auto& row : rows) {
        Clear();
        Make(row.keys);
        EXPECT_EQ(row.install ? InstallShellVerb() : UninstallShellVerb(), row.result) << row.keys.size();
        for (const std::string& key : row.kept)
            EXPECT_TRUE(Exists(key)) << key;
        for (const std::string& key : row.gone)
            EXPECT_FALSE(Exists(key)) << key;
        EXPECT_EQ(OpenRegKeyCount(), 0) << "a registry key was left open";
    }
    Clear();
}
