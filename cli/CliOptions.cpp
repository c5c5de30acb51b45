#include "cli/CliOptions.h"

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

}  // namespace

const char* UsageText() {
    return "usage: zembra-cli [OPTIONS] FILE...\n"
           "Converts each FILE; by default extracts its sound into an mp3 file beside it, named\n"
           "NAME_(new).mp3 (NAME_(new_1).mp3 and so on when that exists). A FILE that is a folder\n"
           "adds the media files below it; '-' reads file names from standard input, one a line.\n"
           "\n"
           "  -f, --format FORMAT        mp3 (default), mp2, wma, ogg, aac, m4a, flac, ac3, wav, au, ra\n"
           "                             (the sound alone), or any other suffix the libraries can\n"
           "                             write (mp4, mkv, avi, mpg...)\n"
           "      --keep-video           the audio formats keep the settings dialog's rules (ogg\n"
           "                             Theora+FLAC, m4a with its pictures...)\n"
           "      --reencode             encode the sound even when the format holds the source's as it\n"
           "                             is (by default such sound is copied unchanged)\n"
           "      --codec NAME           the audio encoder (libmp3lame, libvorbis, aac, flac...)\n"
           "      --quality N            the encoder's variable-bit-rate quality (LAME 0-9, Vorbis -1-10)\n"
           "      --list-formats         the eleven audio formats with the encoder each uses\n"
           "  -o, --output-dir DIR       write the outputs into DIR, mirroring the folders given\n"
           "                             (default: beside each input)\n"
           "      --name TEMPLATE        name the outputs from the source's tags instead, in the output\n"
           "                             folder (default: beside each input), '/' making folders:\n"
           "                             {name} {artist} {albumartist} {album} {title} {track} {disc}\n"
           "                             {date} {genre}, {track:02} padded with zeros; a name taken\n"
           "                             is numbered NAME (1)\n"
           "      --name-charset SET     portable (default): characters FAT and NTFS refuse and bytes\n"
           "                             that are not UTF-8 become '_'; posix: only '/' in a tag\n"
           "                             (by '-', as always) and control characters are replaced\n"
           "      --replaygain MODE      measure the sound as it is converted and tag the outputs with\n"
           "                             its ReplayGain 2.0: track (each file's gain and peak) or\n"
           "                             album (also each folder's, or each {album} with --name)\n"
           "  -j, --threads N            tasks at once (default: the processors); 0 runs them one after\n"
           "                             another in the main thread\n"
           "      --rate HZ              audio sample rate\n"
           "      --channels N           audio channels\n"
           "      --volume N             audio volume (256 = unchanged)\n"
           "      --bitrate KBPS         audio bit rate in kbit/s\n"
           "      --cut START-END        convert only this piece; times in seconds or [[HH:]MM:]SS[.mmm],\n"
           "                             START- for the rest of the file\n"
           "      --no-tags              leave the source's tags out\n"
           "      --no-cover             leave the source's cover picture out\n"
           "      --tag KEY=VALUE        set a tag of the outputs (repeatable)\n"
           "      --skip-existing        skip a file whose NAME_(new) output (or --name's name) exists\n"
           "                             already, finished\n"
           "      --overwrite            replace an existing NAME_(new) file, once the new one is\n"
           "                             finished, instead of numbering\n"
           "      --keep-partial         keep what a stopped task converted as NAME.partial.EXT\n"
           "                             (by default its output is removed)\n"
           "      --no-split             encode each sound on one thread (by default a long one is\n"
           "                             encoded in segments on the free processors)\n"
           "      --input-option NAME=VALUE   an option line for the input (repeatable)\n"
           "      --output-option NAME=VALUE  an option line for the output (repeatable)\n"
           "      --list-engine-options  the names option lines take, with their kind, range and use\n"
           "      --info                 print each file's information and exit\n"
           "      --log-level LEVEL      quiet, panic, fatal, error (default), warning, info, verbose, "
           "debug\n"
           "  -q, --quiet                no progress display, no log lines and no summary\n"
           "      --version              the program's and the libraries' versions, and the licence\n"
           "  -h, --help                 this text\n"
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
        std::string Name = Arg, Inline;
        bool HasInline = false;
        if (Arg.rfind("--", 0) == 0) {
            const size_t Eq = Arg.find('=');
            if (Eq != std::string::npos) {
                Name = Arg.substr(0, Eq);
                Inline = Arg.substr(Eq + 1);
                HasInline = true;
            }
        } else if (Arg.size() > 2) {
            Name = Arg.substr(0, 2);
            Inline = Arg.substr(2);
            HasInline = true;
        }
        auto Value = [&](std::string& Out) {
            if (HasInline) {
                Out = Inline;
                return true;
            }
            if (I + 1 >= Arguments.size()) {
                Error = "option " + Name + " needs a value";
                return false;
            }
            Out = Arguments[++I];
            return true;
        };
        auto Flag = [&](bool& Out) {
            if (HasInline) {
                Error = "option " + Name + " takes no value";
                return false;
            }
            Out = true;
            return true;
        };
        auto Number = [&](std::optional<int32_t>& Out, int32_t Low) {
            std::string Text;
            if (!Value(Text)) return false;
            int32_t V = 0;
            if (!ReadInt(Text, Low, V)) {
                Error = "invalid value for " + Name + ": '" + Text + "'";
                return false;
            }
            Out = V;
            return true;
        };
        auto Line = [&](std::vector<std::string>& Out) {
            std::string Text;
            if (!Value(Text)) return false;
            if (!IsOptionLine(Text)) {
                Error = "option " + Name + " takes NAME=VALUE, not '" + Text + "'";
                return false;
            }
            Out.push_back(Text);
            return true;
        };

        bool Ok = true;
        if (Name == "-f" || Name == "--format") {
            Ok = Value(O.Format);
            if (Ok && (O.Format.empty() || O.Format.find_first_of("./ ") != std::string::npos)) {
                Error = "invalid format '" + O.Format + "'";
                Ok = false;
            }
        } else if (Name == "-o" || Name == "--output-dir") {
            Ok = Value(O.OutputDir);
            if (Ok && O.OutputDir.empty()) {
                Error = "empty output folder";
                Ok = false;
            }
        } else if (Name == "--name") {
            std::string Text;
            Ok = Value(Text);
            if (Ok) O.Name = ParseNameTemplate(Text, Error);
            if (Ok && !O.Name) Ok = false;
        } else if (Name == "--name-charset") {
            std::string Text;
            Ok = Value(Text);
            if (Ok && Text == "portable") {
                O.NameCharset = TNameCharset::Portable;
            } else if (Ok && Text == "posix") {
                O.NameCharset = TNameCharset::Posix;
            } else if (Ok) {
                Error = "invalid value for --name-charset: '" + Text + "' (portable or posix)";
                Ok = false;
            }
        } else if (Name == "--replaygain") {
            std::string Text;
            Ok = Value(Text);
            if (Ok && Text == "track") {
                O.ReplayGain = TReplayGainMode::Track;
            } else if (Ok && Text == "album") {
                O.ReplayGain = TReplayGainMode::Album;
            } else if (Ok) {
                Error = "invalid value for --replaygain: '" + Text + "' (track or album)";
                Ok = false;
            }
        } else if (Name == "-j" || Name == "--threads") {
            Ok = Number(O.Threads, 0);
        } else if (Name == "--rate") {
            Ok = Number(O.Rate, 1);
        } else if (Name == "--channels") {
            Ok = Number(O.Channels, 1);
        } else if (Name == "--volume") {
            Ok = Number(O.Volume, 0);
        } else if (Name == "--bitrate") {
            Ok = Number(O.Bitrate, 1);
        } else if (Name == "--cut") {
            std::string Text;
            Ok = Value(Text);
            if (Ok) O.Cut = ParseCut(Text);
            if (Ok && !O.Cut) {
                Error = "invalid cut range '" + Text +
                        "' (START-END or START-, times in seconds or [[HH:]MM:]SS[.mmm], END after START)";
                Ok = false;
            }
        } else if (Name == "--skip-existing") {
            Ok = Flag(O.SkipExisting);
        } else if (Name == "--keep-video") {
            Ok = Flag(O.KeepVideo);
        } else if (Name == "--reencode") {
            Ok = Flag(O.Reencode);
        } else if (Name == "--codec") {
            Ok = Value(O.Codec);
        } else if (Name == "--quality") {
            std::string Text;
            double Q = 0;
            Ok = Value(Text);
            if (Ok && !ReadReal(Text, Q)) {
                Error = "invalid value for " + Name + ": '" + Text + "'";
                Ok = false;
            }
            if (Ok) O.Quality = Q;
        } else if (Name == "--no-tags") {
            Ok = Flag(O.NoTags);
        } else if (Name == "--no-cover") {
            Ok = Flag(O.NoCover);
        } else if (Name == "--tag") {
            Ok = Line(O.Tags);
        } else if (Name == "--version") {
            Ok = Flag(O.Version);
        } else if (Name == "--list-formats") {
            Ok = Flag(O.ListFormats);
        } else if (Name == "--list-engine-options") {
            Ok = Flag(O.ListEngineOptions);
        } else if (Name == "--overwrite") {
            Ok = Flag(O.Overwrite);
        } else if (Name == "--keep-partial") {
            Ok = Flag(O.KeepPartial);
        } else if (Name == "--no-split") {
            bool NoSplit = false;
            Ok = Flag(NoSplit);
            if (Ok) O.OutputOptions.push_back("segments=0");
        } else if (Name == "--input-option") {
            Ok = Line(O.InputOptions);
        } else if (Name == "--output-option") {
            Ok = Line(O.OutputOptions);
        } else if (Name == "--info") {
            Ok = Flag(O.Info);
        } else if (Name == "--log-level") {
            Ok = Value(O.LogLevel);
        } else if (Name == "-q" || Name == "--quiet") {
            Ok = Flag(O.Quiet);
        } else if (Name == "-h" || Name == "--help") {
            Ok = Flag(O.Help);
        } else {
            Error = "unknown option " + Name;
            Ok = false;
        }
        if (!Ok) return false;
    }
    if (!O.Help && !O.Version && !O.ListFormats && !O.ListEngineOptions && O.Files.empty()) {
        Error = "no input file";
        return false;
    }
    return true;
}

}  // namespace zembra::cli
