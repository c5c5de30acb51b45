#include "app/NameTemplate.h"

#include <algorithm>
#include <string_view>

#include "util/StringUtils.h"

namespace zembra {

namespace {

constexpr size_t kNameLimit = 255;  // bytes of one name on Linux's file systems, FAT and NTFS
constexpr int kMaxWidth = 9;

bool IsField(const std::string& Name) {
    const std::vector<std::string>& Fields = NameFields();
    return std::find(Fields.begin(), Fields.end(), Name) != Fields.end();
}

std::string Trimmed(const std::string& Text) {
    const size_t First = Text.find_first_not_of(' ');
    if (First == std::string::npos) return "";
    return Text.substr(First, Text.find_last_not_of(' ') - First + 1);
}

std::string Tag(const std::map<std::string, std::string>& Tags, const std::string& Key) {
    const auto It = Tags.find(Key);
    return It == Tags.end() ? "" : Trimmed(It->second);
}

bool AllDigits(const std::string& Text) {
    return !Text.empty() &&
           std::all_of(Text.begin(), Text.end(), [](char C) { return C >= '0' && C <= '9'; });
}

// "3/12" is the third of twelve; a number's own leading zeros go, so that padding decides.
std::string NumberPart(const std::string& Value) {
    const size_t Slash = Value.find('/');
    std::string Number = Trimmed(Value.substr(0, Slash));
    if (!AllDigits(Number)) return Number;
    const size_t First = Number.find_first_not_of('0');
    return First == std::string::npos ? "0" : Number.substr(First);
}

std::string FieldValue(const std::string& Field, const std::map<std::string, std::string>& Tags,
                       const std::string& BaseName) {
    if (Field == "name") return BaseName;
    if (Field == "artist") {
        const std::string Artist = Tag(Tags, "artist");
        return Artist.empty() ? "Unknown Artist" : Artist;
    }
    // Players file a track without an album artist under its artist.
    if (Field == "albumartist") {
        std::string Artist = Tag(Tags, "album_artist");
        if (Artist.empty()) Artist = Tag(Tags, "artist");
        return Artist.empty() ? "Unknown Artist" : Artist;
    }
    if (Field == "album") {
        const std::string Album = Tag(Tags, "album");
        return Album.empty() ? "Unknown Album" : Album;
    }
    if (Field == "title") {
        const std::string Title = Tag(Tags, "title");
        return Title.empty() ? BaseName : Title;
    }
    if (Field == "track" || Field == "disc") return NumberPart(Tag(Tags, Field));
    return Tag(Tags, Field);
}

// A value's '/' would make a folder of its own: it becomes '-' ("AC/DC" as "AC-DC"). Control
// characters become '_' whatever the charset: a line feed in a name would split the list of
// outputs on standard output, one path a line. So does what the charset refuses, in portable
// names a byte that is not UTF-8 among them. Worked on in UTF-16, where each stray byte is a
// lone surrogate of its own (U+DC80 ... U+DCFF) and goes back to its byte.
std::string Cleaned(const std::string& Text, TNameCharset Charset) {
    std::u16string Wide = Utf8ToUtf16(Text);
    for (size_t I = 0; I < Wide.size(); ++I) {
        char16_t& C = Wide[I];
        const bool Pair =
            C >= 0xD800 && C < 0xDC00 && I + 1 < Wide.size() && Wide[I + 1] >= 0xDC00 && Wide[I + 1] < 0xE000;
        if (Pair) {
            ++I;
        } else if (C == u'/') {
            C = u'-';
        } else if (C < 0x20 || (C >= 0x7F && C <= 0x9F)) {
            C = u'_';
        } else if (Charset == TNameCharset::Portable &&
                   ((C >= 0xD800 && C < 0xE000) ||
                    std::u16string_view(u"\\:*?\"<>|").find(C) != std::u16string_view::npos)) {
            C = u'_';
        }
    }
    return Utf16ToUtf8(Wide);
}

// At most Limit bytes, never ending inside a UTF-8 sequence.
std::string CutAt(const std::string& Text, size_t Limit) {
    if (Text.size() <= Limit) return Text;
    size_t End = Limit;
    while (End > 0 && (static_cast<unsigned char>(Text[End]) & 0xC0) == 0x80) --End;
    return Text.substr(0, End);
}

bool ParseWidth(const std::string& Spec, int& Width) {
    if (Spec.size() != 2 || Spec[0] != '0' || Spec[1] < '1' || Spec[1] > '0' + kMaxWidth) return false;
    Width = Spec[1] - '0';
    return true;
}

}  // namespace

const std::vector<std::string>& NameFields() {
    static const std::vector<std::string> kFields = {"name",  "artist", "albumartist", "album", "title",
                                                     "track", "disc",   "date",        "genre"};
    return kFields;
}

std::optional<TNameTemplate> ParseNameTemplate(const std::string& Text, std::string& Error) {
    auto Fail = [&](const std::string& Why) {
        Error = "name template '" + Text + "': " + Why;
        return std::nullopt;
    };
    if (Text.empty()) return Fail("empty");
    if (Text[0] == '/') return Fail("names are made inside the output folder, not from '/'");
    TNameTemplate T;
    T.Components.emplace_back();
    std::string Literal;
    auto EndLiteral = [&] {
        if (!Literal.empty()) T.Components.back().push_back({Literal, "", 0});
        Literal.clear();
    };
    // A component that holds no field is the user's own text, and must name something.
    auto CheckComponent = [&]() -> std::optional<std::string> {
        const std::vector<TNamePiece>& C = T.Components.back();
        if (std::any_of(C.begin(), C.end(), [](const TNamePiece& P) { return !P.Field.empty(); })) return {};
        std::string Whole;
        for (const TNamePiece& P : C) Whole += P.Text;
        if (Trimmed(Whole).empty()) return "an empty folder or file name";
        if (Whole == "." || Whole == "..") return "'" + Whole + "' would leave the output folder";
        return {};
    };
    for (size_t I = 0; I < Text.size(); ++I) {
        const char C = Text[I];
        if ((C == '{' || C == '}') && I + 1 < Text.size() && Text[I + 1] == C) {
            Literal += C;  // "{{" and "}}" stand for the braces themselves
            ++I;
        } else if (C == '}') {
            return Fail("'}' without its '{' (write '}}' for the character)");
        } else if (C == '{') {
            const size_t Close = Text.find('}', I);
            if (Close == std::string::npos) return Fail("'{' without its '}'");
            const std::string Inside = Text.substr(I + 1, Close - I - 1);
            const size_t Colon = Inside.find(':');
            const std::string Field = Inside.substr(0, Colon);
            if (!IsField(Field)) {
                std::string List;
                for (const std::string& F : NameFields()) List += (List.empty() ? "{" : ", {") + F + "}";
                return Fail("unknown field {" + Field + "} (the fields are " + List + ")");
            }
            int Width = 0;
            if (Colon != std::string::npos && !ParseWidth(Inside.substr(Colon + 1), Width))
                return Fail("invalid padding in {" + Inside + "} (write {" + Field + ":02} for two digits)");
            EndLiteral();
            T.Components.back().push_back({"", Field, Width});
            I = Close;
        } else if (C == '/') {
            EndLiteral();
            if (const auto Why = CheckComponent()) return Fail(*Why);
            T.Components.emplace_back();
        } else {
            Literal += C;
        }
    }
    EndLiteral();
    if (const auto Why = CheckComponent()) return Fail(*Why);
    return T;
}

std::string RenderName(const TNameTemplate& Template, const std::map<std::string, std::string>& Tags,
                       const std::string& BaseName, TNameCharset Charset, size_t Reserve) {
    const std::string Base = Cleaned(BaseName, Charset);
    std::string Path;
    for (size_t I = 0; I < Template.Components.size(); ++I) {
        const bool Last = I + 1 == Template.Components.size();
        std::string Name;
        for (const TNamePiece& P : Template.Components[I]) {
            if (P.Field.empty()) {
                Name += Cleaned(P.Text, Charset);
                continue;
            }
            std::string Value = Cleaned(FieldValue(P.Field, Tags, BaseName), Charset);
            if (P.Width > 0 && AllDigits(Value) && Value.size() < static_cast<size_t>(P.Width))
                Value.insert(0, static_cast<size_t>(P.Width) - Value.size(), '0');
            Name += Value;
        }
        Name = Trimmed(Name);
        // A tag of dots alone would name this folder or the one above it.
        if (!Name.empty() && Name.find_first_not_of('.') == std::string::npos)
            std::replace(Name.begin(), Name.end(), '.', '_');
        const size_t Limit = Last ? kNameLimit - std::min(Reserve, kNameLimit - 1) : kNameLimit;
        Name = Trimmed(CutAt(Name, Limit));
        // A folder whose tags are missing is left out; a file keeps the source's name.
        if (Name.empty() && Last) Name = Trimmed(CutAt(Base, Limit));
        if (Name.empty() && Last) Name.push_back('_');
        if (Name.empty()) continue;
        if (!Path.empty()) Path += '/';
        Path += Name;
    }
    return Path;
}

}  // namespace zembra
