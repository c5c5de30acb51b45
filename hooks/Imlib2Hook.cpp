// The image-and-text overlay module (imlib2.so). Arguments, each "-name value":
//   -i picture   a picture file to draw
//   -t text      a line of text to draw, in the colour -R -G -B (0..255 each, white by default)
//                and the font -F "file/size" (size in pixels; a missing file falls back to the
//                project's font)
//   -x expr, -y expr   where the top left corner goes: expressions of W, H (frame size), w, h
//                (size of what is drawn), N (frame number, from 0), PI, with + - * /,
//                parentheses, sin and cos. Both default to 0.
// With both -i and -t, the picture is drawn first and the text over it at the same position.

#include <cmath>
#include <exception>
#include <memory>
#include <new>

#include "hooks/kit/Expression.h"
#include "hooks/kit/Files.h"
#include "hooks/kit/Module.h"
#include "hooks/kit/Overlay.h"
#include "hooks/kit/Text.h"

namespace zembra::hooks {
namespace {

constexpr const char* kName = "imlib2";

struct TContext {
    bool HasPicture = false;
    TOverlay Picture;
    bool HasText = false;
    TOverlay Text;
    TExpression X, Y;
    int64_t Frame = 0;
};

bool ParseChannel(const std::string& Name, const std::string& Value, uint32_t& Channel) {
    long long V = 0;
    if (!ParseInteger(Value, V) || V < 0 || V > 255) {
        Complain(kName, "option " + Name + " needs a number from 0 to 255, not '" + Value + "'");
        return false;
    }
    Channel = uint32_t(V);
    return true;
}

// A coordinate the frame could hold; anything else (not a number, far away) is not drawn.
bool ToPosition(double V, int64_t& Out) {
    if (!std::isfinite(V) || std::fabs(V) > 1e9) return false;
    Out = int64_t(std::floor(V));
    return true;
}

int Configure(void** Context, int ArgCount, char* ArgVector[]) {
    auto C = std::make_unique<TContext>();
    std::string PictureName, TextValue, FontText, XText = "0", YText = "0";
    uint32_t R = 255, G = 255, B = 255;
    bool WantText = false;
    TArgReader Args(ArgCount, ArgVector);
    std::string Name, Value, Error;
    while (Args.Next(Name, Value, Error)) {
        if (Name == "-i")
            PictureName = Value;
        else if (Name == "-t") {
            TextValue = Value;
            Args.JoinWords(TextValue);
            WantText = true;
        } else if (Name == "-x")
            XText = Value;
        else if (Name == "-y")
            YText = Value;
        else if (Name == "-F")
            FontText = Value;
        else if (Name == "-R") {
            if (!ParseChannel(Name, Value, R)) return -1;
        } else if (Name == "-G") {
            if (!ParseChannel(Name, Value, G)) return -1;
        } else if (Name == "-B") {
            if (!ParseChannel(Name, Value, B)) return -1;
        } else {
            Complain(kName, "unknown option " + Name);
            return -1;
        }
    }
    if (!Error.empty()) {
        Complain(kName, Error);
        return -1;
    }
    if (PictureName.empty() && !WantText) {
        Complain(kName, "nothing to draw: give a picture (-i) or a text (-t)");
        return -1;
    }
    if (!C->X.Parse(XText, Error) || !C->Y.Parse(YText, Error)) {
        Complain(kName, "bad position expression: " + Error);
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
        C->HasPicture = true;
    }
    if (WantText) {
        // "name/size": the size is what follows the last "/", when it is a number.
        std::string FontName = FontText;
        long long Size = 16;
        const size_t Slash = FontText.rfind('/');
        if (Slash != std::string::npos && ParseInteger(FontText.substr(Slash + 1), Size)) {
            FontName = FontText.substr(0, Slash);
            if (Size <= 0 || Size > 1000) {
                Complain(kName, "font size out of range in '" + FontText + "'");
                return -1;
            }
        }
        TTextStyle Style;
        Style.FontFile = FindFont(FontName, false, Style.BoldFace);
        Style.PixelSize = int(Size);
        Style.Colour = (R << 16) | (G << 8) | B;
        if (!RenderText(TextValue, Style, C->Text, Error)) {
            Complain(kName, Error);
            return -1;
        }
        C->HasText = true;
    }
    *Context = C.release();
    return 0;
}

void Draw(TContext& C, const TOverlay& O, TZembraHookPicture* P, int Format, int W, int H) {
    const TExpressionValues V{double(W), double(H), double(O.Width), double(O.Height), double(C.Frame)};
    int64_t X = 0, Y = 0;
    if (ToPosition(C.X.Evaluate(V), X) && ToPosition(C.Y.Evaluate(V), Y))
        DrawOverlay(O, P, Format, W, H, X, Y);
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
    if (!C) return;
    if (IsSupportedFormat(PixelFormat)) {
        if (C->HasPicture) Draw(*C, C->Picture, Picture, PixelFormat, Width, Height);
        if (C->HasText) Draw(*C, C->Text, Picture, PixelFormat, Width, Height);
    }
    ++C->Frame;
}

ZEMBRA_HOOK_EXPORT void Release(void* Context) {
    delete static_cast<TContext*>(Context);
}
