#include "cli/CliOptions.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace zembra::cli {

namespace {

bool ReadInt(const std::string& Text, int32_t Low, int32_t& Value) {
    if (Text.empty()) return false;
    char* End = nullptr;
    errno = 0;
    const long V = std::strtol(Text.c_str(), &End, 10);
    if (*End != '\0' || errno == ERANGE || V < Low || V > INT32_MAX) return false;
    Value = static_cast<int32_t>(V);
    return true;
}

bool ReadReal(const std::string& Text, double& Value) {
    if (Text.empty()) return false;
    char* End = nullptr;
    const double V = std::strtod(Text.c_str(), &End);
    if (*End != '\0' || !std::isfinite(V)) return false;
    Value = V;
    return true;
}

bool IsOptionLine(const std::string& Text) {
    const size_t Eq = Text.find('=');
    return Eq != std::string::npos && Eq > 0 && Text.find_first_of("\r\n") == std::string::npos;
}

bool ReadFormat(const std::string& Text, TCliOptions& O, std::string& Error) {
    O.Format = Text;
    if (!Text.empty() && Text.find_first_of("./ ") == std::string::npos) return true;
    Error = "invalid format '" + Text + "'";
    return false;
}

bool ReadOutputDir(const std::string& Text, TCliOptions& O, std::string& Error) {
    O.OutputDir = Text;
    if (Text.empty()) Error = "empty output folder";
    return !Text.empty();
}

bool ReadName(const std::string& Text, TCliOptions& O, std::string& Error) {
    O.Name = ParseNameTemplate(Text, Error);
    return O.Name.has_value();
}

// A value that is one of two names, each giving its own setting.
template <typename T, typename TField>
bool ReadEither(const std::string& Text, const char* Option, const char* A, T ForA, const char* B, T ForB,
                TField& Field, std::string& Error) {
    if (Text == A || Text == B) {
        Field = Text == A ? ForA : ForB;
        return true;
    }
    Error = std::string("invalid value for ") + Option + ": '" + Text + "' (" + A + " or " + B + ")";
    return false;
}

bool ReadNameCharset(const std::string& Text, TCliOptions& O, std::string& Error) {
    return ReadEither(Text, "--name-charset", "portable", TNameCharset::Portable, "posix",
                      TNameCharset::Posix, O.NameCharset, Error);
}

bool ReadReplayGain(const std::string& Text, TCliOptions& O, std::string& Error) {
    return ReadEither(Text, "--replaygain", "track", TReplayGainMode::Track, "album", TReplayGainMode::Album,
                      O.ReplayGain, Error);
}

bool ReadCutRange(const std::string& Text, TCliOptions& O, std::string& Error) {
    O.Cut = ParseCut(Text);
    if (!O.Cut)
        Error = "invalid cut range '" + Text +
                "' (START-END or START-, times in seconds or [[HH:]MM:]SS[.mmm], END after START)";
    return O.Cut.has_value();
}

using O = TCliOptions;

const TCliOption kOptions[] = {
    {"-f", "--format", "FORMAT", ReadFormat,
     "mp3 (default), mp2, wma, ogg, aac, m4a, flac, ac3, wav, au, ra\n"
     "(the sound alone), or any other suffix the libraries can\n"
     "write (mp4, mkv, avi, mpg...)"},
    {nullptr, "--keep-video", nullptr, &O::KeepVideo,
     "the audio formats keep the settings dialog's rules (ogg\n"
     "Theora+FLAC, m4a with its pictures...)"},
    {nullptr, "--reencode", nullptr, &O::Reencode,
     "encode the sound even when the format holds the source's as it\n"
     "is (by default such sound is copied unchanged)"},
    {nullptr, "--codec", "NAME", &O::Codec, "the audio encoder (libmp3lame, libvorbis, aac, flac...)"},
    {nullptr, "--quality", "N", &O::Quality,
     "the encoder's variable-bit-rate quality (LAME 0-9, Vorbis -1-10)"},
    {nullptr, "--list-formats", nullptr, &O::ListFormats,
     "the eleven audio formats with the encoder each uses"},
    {"-o", "--output-dir", "DIR", ReadOutputDir,
     "write the outputs into DIR, mirroring the folders given\n"
     "(default: beside each input)"},
    {nullptr, "--name", "TEMPLATE", ReadName,
     "name the outputs from the source's tags instead, in the output\n"
     "folder (default: beside each input), '/' making folders:\n"
     "{name} {artist} {albumartist} {album} {title} {track} {disc}\n"
     "{date} {genre}, {track:02} padded with zeros; a name taken\n"
     "is numbered NAME (1)"},
    {nullptr, "--name-charset", "SET", ReadNameCharset,
     "portable (default): characters FAT and NTFS refuse and bytes\n"
     "that are not UTF-8 become '_'; posix: only '/' in a tag\n"
     "(by '-', as always) and control characters are replaced"},
    {nullptr, "--replaygain", "MODE", ReadReplayGain,
     "measure the sound as it is converted and tag the outputs with\n"
     "its ReplayGain 2.0: track (each file's gain and peak) or\n"
     "album (also each folder's, or each {album} with --name)"},
    {"-j", "--threads", "N", &O::Threads,
     "tasks at once (default: the processors); 0 runs them one after\n"
     "another in the main thread",
     0},
    {nullptr, "--rate", "HZ", &O::Rate, "audio sample rate", 1},
    {nullptr, "--channels", "N", &O::Channels, "audio channels", 1},
    {nullptr, "--volume", "N", &O::Volume, "audio volume (256 = unchanged)", 0},
    {nullptr, "--bitrate", "KBPS", &O::Bitrate, "audio bit rate in kbit/s", 1},
    {nullptr, "--cut", "START-END", ReadCutRange,
     "convert only this piece; times in seconds or [[HH:]MM:]SS[.mmm],\n"
     "START- for the rest of the file"},
    {nullptr, "--no-tags", nullptr, &O::NoTags, "leave the source's tags out"},
    {nullptr, "--no-cover", nullptr, &O::NoCover, "leave the source's cover picture out"},
    {nullptr, "--tag", "KEY=VALUE", &O::Tags, "set a tag of the outputs (repeatable)"},
    {nullptr, "--skip-existing", nullptr, &O::SkipExisting,
     "skip a file whose NAME_(new) output (or --name's name) exists\n"
     "already, finished"},
    {nullptr, "--overwrite", nullptr, &O::Overwrite,
     "replace an existing NAME_(new) file, once the new one is\n"
     "finished, instead of numbering"},
    {nullptr, "--keep-partial", nullptr, &O::KeepPartial,
     "keep what a stopped task converted as NAME.partial.EXT\n"
     "(by default its output is removed)"},
    {nullptr, "--no-split", nullptr, &O::NoSplit,
     "encode each sound on one thread (by default a long one is\n"
     "encoded in segments on the free processors)"},
    {nullptr, "--input-option", "NAME=VALUE", &O::InputOptions, "an option line for the input (repeatable)"},
    {nullptr, "--output-option", "NAME=VALUE", &O::OutputOptions,
     "an option line for the output (repeatable)"},
    {nullptr, "--list-engine-options", nullptr, &O::ListEngineOptions,
     "the names option lines take, with their kind, range and use"},
    {nullptr, "--info", nullptr, &O::Info, "print each file's information and exit"},
    {nullptr, "--log-level", "LEVEL", &O::LogLevel,
     "quiet, panic, fatal, error (default), warning, info, verbose, debug"},
    {"-q", "--quiet", nullptr, &O::Quiet, "no progress display, no log lines and no summary"},
    {nullptr, "--version", nullptr, &O::Version,
     "the program's and the libraries' versions, and the licence"},
    {"-h", "--help", nullptr, &O::Help, "this text"},
};

const TCliOption* FindOption(const std::string& Name) {
    for (const TCliOption& Row : kOptions)
        if (Name == Row.Long || (Row.Short && Name == Row.Short)) return &Row;
    return nullptr;
}

// Sets what Row sets from the value Text (empty for a flag); Name is the option as written.
bool Apply(const TCliOption& Row, const std::string& Name, const std::string& Text, TCliOptions& Options,
           std::string& Error) {
    struct TVisitor {
        const TCliOption& Row;
        const std::string& Name;
        const std::string& Text;
        TCliOptions& Options;
        std::string& Error;
        bool Invalid() const {
            Error = "invalid value for " + Name + ": '" + Text + "'";
            return false;
        }
        bool operator()(bool TCliOptions::*Field) const { return Options.*Field = true; }
        bool operator()(std::string TCliOptions::*Field) const {
            Options.*Field = Text;
            return true;
        }
        bool operator()(std::optional<int32_t> TCliOptions::*Field) const {
            int32_t Value = 0;
            if (!ReadInt(Text, Row.Least, Value)) return Invalid();
            Options.*Field = Value;
            return true;
        }
        bool operator()(std::optional<double> TCliOptions::*Field) const {
            double Value = 0;
            if (!ReadReal(Text, Value)) return Invalid();
            Options.*Field = Value;
            return true;
        }
        bool operator()(std::vector<std::string> TCliOptions::*Field) const {
            if (!IsOptionLine(Text)) {
                Error = "option " + Name + " takes NAME=VALUE, not '" + Text + "'";
                return false;
            }
            (Options.*Field).push_back(Text);
            return true;
        }
        bool operator()(TReadValue Read) const { return Read(Text, Options, Error); }
    };
    return std::visit(TVisitor{Row, Name, Text, Options, Error}, Row.Field);
}

// The first column of a row in the help text: "  -f, --format FORMAT".
std::string HelpNames(const TCliOption& Row) {
    return std::string(Row.Short ? "  " + std::string(Row.Short) + ", " : "      ") + Row.Long +
           (Row.Value ? std::string(" ") + Row.Value : "");
}

}  // namespace

std::string UsageText() {
    constexpr size_t kColumn = 29;
    // The few rows too wide for the column line their help up with each other.
    size_t Wide = 0;
    for (const TCliOption& Row : kOptions)
        if (HelpNames(Row).size() + 2 > kColumn) Wide = std::max(Wide, HelpNames(Row).size() + 2);
    std::string Text =
        "usage: zembra-cli [OPTIONS] FILE...\n"
        "Converts each FILE; by default extracts its sound into an mp3 file beside it, named\n"
        "NAME_(new).mp3 (NAME_(new_1).mp3 and so on when that exists). A FILE that is a folder\n"
        "adds the media files below it; '-' reads file names from standard input, one a line.\n"
        "\n";
    for (const TCliOption& Row : kOptions) {
        const std::string Names = HelpNames(Row);
        Text += Names + std::string((Names.size() + 2 > kColumn ? Wide : kColumn) - Names.size(), ' ');
        for (const char* C = Row.Help; *C; ++C)
            Text += *C == '\n' ? "\n" + std::string(kColumn, ' ') : std::string(1, *C);
        Text += '\n';
    }
    return Text +
           "\n"
           "Prints the path of each output that was finished, and at the end a summary on standard\n"
           "error. Ctrl+C stops the running tasks and waits for them. Exit status: 0 when every task\n"
           "finished or was skipped, 1 when any failed or was stopped, 2 for a usage error.\n";
}

bool ParseCommandLine(const std::vector<std::string>& Arguments, TCliOptions& O, std::string& Error) {
    bool OptionsEnded = false;
    for (size_t I = 0; I < Arguments.size(); ++I) {
        const std::string& Arg = Arguments[I];
        if (OptionsEnded || Arg.empty() || Arg[0] != '-' || Arg == "-") {
            O.Files.push_back(Arg);
            continue;
        }
        if (Arg == "--") {
            OptionsEnded = true;
            continue;
        }
        // "--name=value", "--name value", "-x value" and "-xvalue".
        std::string Name = Arg, Value;
        bool HasInline = false;
        if (const size_t Eq = Arg.find('='); Arg.starts_with("--") && Eq != std::string::npos) {
            Name = Arg.substr(0, Eq);
            Value = Arg.substr(Eq + 1);
            HasInline = true;
        } else if (!Arg.starts_with("--") && Arg.size() > 2) {
            Name = Arg.substr(0, 2);
            Value = Arg.substr(2);
            HasInline = true;
        }
        const TCliOption* Row = FindOption(Name);
        if (!Row) {
            Error = "unknown option " + Name;
            return false;
        }
        if (!Row->Value && HasInline) {
            Error = "option " + Name + " takes no value";
            return false;
        }
        if (Row->Value && !HasInline) {
            if (I + 1 >= Arguments.size()) {
                Error = "option " + Name + " needs a value";
                return false;
            }
            Value = Arguments[++I];
        }
        if (!Apply(*Row, Name, Value, O, Error)) return false;
    }
    if (!O.Help && !O.Version && !O.ListFormats && !O.ListEngineOptions && O.Files.empty()) {
        Error = "no input file";
        return false;
    }
    return true;
}

}  // namespace zembra::cli
