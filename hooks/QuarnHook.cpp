// The demo module (QuarnHook.so): a picture with a key colour and a line of text.
//   -i picture, -ix X, -iy Y    the picture with its top left corner at (X, Y)
//   -mc RRGGBB                  key colour: picture pixels of exactly this colour are not drawn
//   -t text, -tx X, -ty Y       the text with the top left corner of its line at (X, Y)
//   -fc RRGGBB                  text colour (white by default)
//   -fn name, -fs size          font name (a file "name.ttf" beside the module, else the
//                               project's font) and its size in points, at 96 dots per inch
//   -fst letters                style: B bold, I italic, U underline, S strike-out
// Positions are whole numbers and may lie partly or wholly outside the frame.

#include <cctype>
#include <cmath>
#include <exception>
#include <memory>

#include "hooks/kit/Files.h"
#include "hooks/kit/Module.h"
#include "hooks/kit/Overlay.h"
#include "hooks/kit/Text.h"

namespace zembra::hooks {
namespace {

constexpr const char* kName = "QuarnHook";
constexpr long long kPositionLimit = 1000000000LL;

struct TContext {
    bool HasPicture = false;
    TOverlay Picture;
    int64_t PictureX = 0, PictureY = 0;
    bool HasText = false;
    TOverlay Text;
    int64_t TextX = 0, TextY = 0;
};

bool ParsePosition(const std::string& Name, const std::string& Value, int64_t& Out) {
    long long V = 0;
    if (!ParseInteger(Value, V) || V < -kPositionLimit || V > kPositionLimit) {
        Complain(kName, "option " + Name + " needs a whole number, not '" + Value + "'");
        return false;
    }
    Out = V;
    return true;
}

bool ParseColour(const std::string& Name, const std::string& Value, uint32_t& Out) {
    if (ParseHexColour(Value, Out)) return true;
    Complain(kName, "option " + Name + " needs a colour RRGGBB in hexadecimal, not '" + Value + "'");
    return false;
}

int Configure(void** Context, int ArgCount, char* ArgVector[]) {
    auto C = std::make_unique<TContext>();
    std::string PictureName, TextValue, FontName, StyleText;
    bool WantText = false, HasKey = false;
    uint32_t Key = 0, TextColour = 0xFFFFFF;
    long long Points = 16;
    TArgReader Args(ArgCount, ArgVector);
    std::string Name, Value, Error;
    while (Args.Next(Name, Value, Error)) {
        bool Ok = true;
        if (Name == "-i")
            PictureName = Value;
        else if (Name == "-ix")
            Ok = ParsePosition(Name, Value, C->PictureX);
        else if (Name == "-iy")
            Ok = ParsePosition(Name, Value, C->PictureY);
        else if (Name == "-mc")
            Ok = HasKey = ParseColour(Name, Value, Key);
        else if (Name == "-t") {
            TextValue = Value;
            Args.JoinWords(TextValue);
            WantText = true;
        } else if (Name == "-tx")
            Ok = ParsePosition(Name, Value, C->TextX);
        else if (Name == "-ty")
            Ok = ParsePosition(Name, Value, C->TextY);
        else if (Name == "-fc")
            Ok = ParseColour(Name, Value, TextColour);
        else if (Name == "-fn")
            FontName = Value;
        else if (Name == "-fs") {
            Ok = ParseInteger(Value, Points) && Points > 0 && Points <= 500;
            if (!Ok) Complain(kName, "font size (-fs) must be from 1 to 500, not '" + Value + "'");
        } else if (Name == "-fst")
            StyleText = Value;
        else {
            Complain(kName, "unknown option " + Name);
            return -1;
        }
        if (!Ok) return -1;
    }
    if (!Error.empty()) {
        Complain(kName, Error);
        return -1;
    }
    if (PictureName.empty() && !WantText) {
        Complain(kName, "nothing to draw: give a picture (-i) or a text (-t)");
        return -1;
    }
    if (!PictureName.empty()) {
        const std::string Path = FindModuleFile(PictureName);
        if (Path.empty()) {
            Complain(kName, "picture " + PictureName + " not found");
            return -1;
        }
        if (!LoadPicture(Path, C->Picture, Error)) {
            Complain(kName, Error);
            return -1;
        }
        if (HasKey) ApplyKeyColour(C->Picture, Key);
        C->HasPicture = true;
    }
    if (WantText) {
        TTextStyle Style;
        for (char L : StyleText) {
            switch (std::toupper(static_cast<unsigned char>(L))) {
                case 'B':
                    Style.Bold = true;
                    break;
                case 'I':
                    Style.Italic = true;
                    break;
                case 'U':
                    Style.Underline = true;
                    break;
                case 'S':
                    Style.StrikeOut = true;
                    break;
                default:
                    Complain(kName, std::string("unknown font style letter '") + L + "' (use B, I, U, S)");
                    return -1;
            }
        }
        Style.FontFile = FindFont(FontName, Style.Bold, Style.BoldFace);
        Style.PixelSize = int(std::lround(double(Points) * 96.0 / 72.0));
        Style.Colour = TextColour;
        if (!RenderText(TextValue, Style, C->Text, Error)) {
            Complain(kName, Error);
            return -1;
        }
        C->HasText = true;
    }
    *Context = C.release();
    return 0;
}

}  // namespace
}  // namespace zembra::hooks

using namespace zembra::hooks;

ZEMBRA_HOOK_EXPORT int Configure(void** Context, int ArgCount, char* ArgVector[], int /*HighIndex*/) {
    if (!Context) return -1;
    try {
        return zembra::hooks::Configure(Context, ArgCount, ArgVector);
    } catch (const std::exception& E) {
        Complain(kName, E.what());
        return -1;
    }
}

ZEMBRA_HOOK_EXPORT void Process(void* Context, TZembraHookPicture* Picture, int PixelFormat, int Width,
                                int Height, int64_t /*PTS*/) {
    auto* C = static_cast<TContext*>(Context);
    if (!C || !IsSupportedFormat(PixelFormat)) return;
    if (C->HasPicture) DrawOverlay(C->Picture, Picture, PixelFormat, Width, Height, C->PictureX, C->PictureY);
    if (C->HasText) DrawOverlay(C->Text, Picture, PixelFormat, Width, Height, C->TextX, C->TextY);
}

ZEMBRA_HOOK_EXPORT void Release(void* Context) {
    delete static_cast<TContext*>(Context);
}
