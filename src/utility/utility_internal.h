// Text helpers of the toolkit that need no system: shared by both systems'
// code, the tests and the fuzz targets.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>

namespace zarn {
namespace utility {

// The size of each name field of CUtilityMOX (drive, folder, base name, ...).
constexpr size_t kNameField = 256;
// The longest path MakeFolders takes; longer ones are refused, never cut.
constexpr size_t kPathLimit = 259;
// The longest settings key "%s\%s"; longer keys are cut.
constexpr size_t kKeyLimit = 255;
// The largest piece one console write takes.
constexpr size_t kPrintPiece = 32768;

std::string FormatGuid(uint32_t d1, uint16_t d2, uint16_t d3, const uint8_t d4[8]);
// printf-like formatting into a text sized for it, followed by one line feed.
std::string FormatLine(const char* format, va_list args);
// The settings key "%s\%s" of a base and a subkey, cut to kKeyLimit characters.
std::string KeyName(const std::string& base, const char* subkey);

// Splits an executable's full name as _splitpath_s does ('\' and '/' both
// separate, "X:" is a drive); each output holds kNameField characters, and
// folderAndBaseName is the folder followed by the base name.
void SplitModulePath(const char* path, char* drive, char* folder, char* baseName, char* extension,
                     char* folderAndBaseName);

// A network adapter's name goes into a command line as one argument: empty
// names, control characters and the characters that the Windows command
// processor acts on even inside quotes (" % !) are refused.
bool AdapterNameAccepted(const char* name);
// One argument in double quotes, as the Windows C runtime splits command lines
// (backslashes are doubled where they come before a quote).
std::string QuoteWindowsArgument(const std::string& argument);

}  // namespace utility
}  // namespace zarn
