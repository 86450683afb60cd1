// Builds the small fixed bundle files:
//   vk_to_us <out>            macOS virtual key code -> US-layout characters
//                             (unshifted first, shifted last)
//   custom <out>              the empty custom-phrase database
//   codetable <out>           the empty main code-table database
//   assist <out>              the empty assist-code database
//   info <out> <version>      the input method's Info.plist

#include "Resources/generators/GeneratorSupport.h"

#include <iostream>
#include <map>
#include <string>

using namespace taviro::resgen;

namespace {

constexpr std::string_view kProgram = "make_bundle_files";

// The schema the preferences application writes custom phrases with; the
// main code table has the same shape, so imported weights sort numerically.
constexpr std::string_view kCodeTableSchema =
    "CREATE TABLE IF NOT EXISTS CodeTable (\"Code\" VARCHAR NOT NULL ,\"Table\" VARCHAR NOT NULL , "
    "\"Weight\" INTEGER NOT NULL DEFAULT 0);\n"
    "CREATE INDEX IF NOT EXISTS CodeTable_index ON CodeTable (\"Code\" ASC, \"Weight\" ASC);";

constexpr std::string_view kAssistSchema =
    "CREATE TABLE IF NOT EXISTS CodeTable (\"Code\" VARCHAR NOT NULL ,\"Table\" VARCHAR NOT NULL , "
    "\"Weight\" INTEGER NOT NULL DEFAULT 0);\n"
    "CREATE INDEX IF NOT EXISTS CodeTable_index ON CodeTable (\"Code\" ASC);\n"
    "CREATE TABLE IF NOT EXISTS TableCode (\"Table\" VARCHAR NOT NULL ,\"Code\" VARCHAR NOT NULL , "
    "\"Weight\" INTEGER NOT NULL DEFAULT 0);\n"
    "CREATE INDEX IF NOT EXISTS TableCode_index ON TableCode (\"Table\" ASC);";

std::map<std::string, std::string> usLayout()
{
    const std::pair<int, const char*> keys[] = {
        {0, "aA"}, {1, "sS"}, {2, "dD"}, {3, "fF"}, {4, "hH"}, {5, "gG"}, {6, "zZ"}, {7, "xX"},
        {8, "cC"}, {9, "vV"}, {11, "bB"}, {12, "qQ"}, {13, "wW"}, {14, "eE"}, {15, "rR"},
        {16, "yY"}, {17, "tT"}, {18, "1!"}, {19, "2@"}, {20, "3#"}, {21, "4$"}, {22, "6^"}, {23, "5%"},
        {24, "=+"}, {25, "9("}, {26, "7&"}, {27, "-_"}, {28, "8*"}, {29, "0)"}, {30, "]}"}, {31, "oO"},
        {32, "uU"}, {33, "[{"}, {34, "iI"}, {35, "pP"}, {37, "lL"}, {38, "jJ"}, {39, "'\""}, {40, "kK"},
        {41, ";:"}, {42, "\\|"}, {43, ",<"}, {44, "/?"}, {45, "nN"}, {46, "mM"}, {47, ".>"}, {49, " "},
        {50, "`~"},
        // keypad
        {65, "."}, {67, "*"}, {69, "+"}, {75, "/"}, {78, "-"}, {81, "="}, {82, "0"}, {83, "1"},
        {84, "2"}, {85, "3"}, {86, "4"}, {87, "5"}, {88, "6"}, {89, "7"}, {91, "8"}, {92, "9"},
    };
    std::map<std::string, std::string> out;
    for (auto [code, chars] : keys) out[std::to_string(code)] = chars;
    return out;
}

bool emptyDatabase(const char* path, std::string_view schema)
{
    SqliteBuilder db(path);
    return db.ok() && db.exec(schema) && db.commit();
}

plat::PlistValue infoPlist(const std::string& version)
{
    const std::pair<const char*, std::string> entries[] = {
        {"CFBundleDevelopmentRegion", "zh_CN"},
        {"CFBundleExecutable", "TaviroMac2"},
        {"CFBundleIdentifier", "com.quorvel.inputmethod.TaviroMac2"},
        {"CFBundleName", "TaviroMac2"},
        {"CFBundlePackageType", "APPL"},
        {"CFBundleShortVersionString", version},
        {"CFBundleVersion", version},
        {"InputMethodConnectionName", "TaviroMac_3_Connection"},
    };
    std::map<std::string, std::string> dict;
    for (const auto& [k, v] : entries) dict[k] = v;
    return plat::stringMapToPlist(dict);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) return fail(kProgram, "usage: make_bundle_files <vk_to_us|custom|codetable|assist|info> <out> [version]");
    const std::string kind = argv[1];
    const char* out = argv[2];
    bool ok = false;
    if (kind == "vk_to_us") ok = writePlist(out, plat::stringMapToPlist(usLayout()));
    else if (kind == "custom" || kind == "codetable") ok = emptyDatabase(out, kCodeTableSchema);
    else if (kind == "assist") ok = emptyDatabase(out, kAssistSchema);
    else if (kind == "info" && argc == 4 && argv[3][0] != '\0') ok = writePlist(out, infoPlist(argv[3]));
    else return fail(kProgram, "unknown output " + kind);
    if (!ok) return fail(kProgram, std::string("cannot write ") + out);
    return 0;
}
