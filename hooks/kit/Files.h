#pragma once

// Pictures and fonts of the hook modules: where they are found and how they are read.

#include <cstdint>
#include <string>

#include "hooks/kit/Overlay.h"

namespace zembra::hooks {

// The folder of the module this code is linked into (no trailing "/"; "" when unknown).
std::string ModuleFolder();

// A file name as a module's argument: as it stands when that names a file (a relative name is
// taken from the current folder, which the converter sets to the module's folder while it
// configures), otherwise the same name in the module's folder. "" when neither exists.
std::string FindModuleFile(const std::string& Name);

// Reads a picture file (any format the image library knows; GIF keeping its transparent
// colour) into an overlay with full alpha where the file has none. False with a reason in Error.
bool LoadPicture(const std::string& Path, TOverlay& Picture, std::string& Error);

// The project's own font, installed beside the modules, used when a named font is not there.
constexpr const char* kDefaultFontFile = "DejaVuSans.ttf";
constexpr const char* kDefaultBoldFontFile = "DejaVuSans-Bold.ttf";

// A font file for a font name: the name as a file ("Tahoma.ttf", "fonts/x.ttf"), then with
// ".ttf" added, each as above; otherwise the project's font (its bold face when Bold is asked
// for and IsBoldFace is then set). "" when not even that exists.
std::string FindFont(const std::string& Name, bool Bold, bool& IsBoldFace);

}  // namespace zembra::hooks
