// The built programs as the loader sees them: every exe of this build folder is made for this build's machine
// and is large-address-aware, so that a 32-bit program gets 4 GB of address space on a 64-bit Windows, not 2.
#include "Driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace e2e;

namespace {

struct TImageHeader {
    bool Valid = false;
    WORD Machine = 0;
    WORD Characteristics = 0;
};

// The COFF file header of a PE image, read from the file itself.
TImageHeader ReadImageHeader(const std::filesystem::path& file)
{
    TImageHeader header;
    std::ifstream in(file, std::ios::binary);
    IMAGE_DOS_HEADER dos = {};
    if (!in.read(reinterpret_cast<char*>(&dos), sizeof dos) || dos.e_magic != IMAGE_DOS_SIGNATURE)
        return header;
    DWORD signature = 0;
    IMAGE_FILE_HEADER coff = {};
    in.seekg(dos.e_lfanew);
    if (!in.read(reinterpret_cast<char*>(&signature), sizeof signature) || signature != IMAGE_NT_SIGNATURE ||
        !in.read(reinterpret_cast<char*>(&coff), sizeof coff))
        return header;
    header.Valid = true;
    header.Machine = coff.Machine;
    header.Characteristics = coff.Characteristics;
    return header;
}

// The build's own programs: not the setup (made by NSIS) nor CMake's compiler probes.
std::vector<std::filesystem::path> BuiltPrograms()
{
    std::vector<std::filesystem::path> programs;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(std::filesystem::path(BuildDir()))) {
        const std::wstring path = entry.path().wstring();
        if (!entry.is_regular_file() || entry.path().extension() != L".exe" ||
            path.find(L"CMakeFiles") != std::wstring::npos || path.find(L"\\setup\\") != std::wstring::npos ||
            entry.path().filename() == L"MendrelSetup.exe")
            continue;
        programs.push_back(entry.path());
    }
    return programs;
}

} // namespace

TEST(ProgramImage, EveryProgramIsLargeAddressAwareForThisMachine)
{
    const WORD machine = sizeof(void*) == 4 ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_AMD64;
    std::vector<std::filesystem::path> programs = BuiltPrograms();
    std::vector<std::wstring> names;
    for (const auto& program : programs)
        names.push_back(program.filename().wstring());
    for (const wchar_t* expected :
         {L"MendrelRemoteClient.exe", L"MendrelClient.exe", L"MendrelService.exe", L"e2e_tests.exe"})
        EXPECT_NE(std::find(names.begin(), names.end(), expected), names.end())
            << std::filesystem::path(expected).string() << " is not in the build folder";
    for (const auto& program : programs) {
        SCOPED_TRACE(program.string());
        TImageHeader header = ReadImageHeader(program);
        ASSERT_TRUE(header.Valid);
        EXPECT_EQ(header.Machine, machine);
        EXPECT_NE(header.Characteristics & IMAGE_FILE_LARGE_ADDRESS_AWARE, 0);
    }
}
