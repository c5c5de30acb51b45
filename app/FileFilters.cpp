#include "app/FileFilters.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "util/StringUtils.h"

namespace zembra {

const char* const kOpenDialogFilter =
    "Video/Audio|*.AVI;*.AVM;*.ASF;*.WMV;*.AVS;*.FLV;*.MKV;*.MOV;*.3GP;*.MP4;*.MPG;*.MPEG;*.DAT;*.OGM;*.VOB;"
    "*.RM;*.RMVB;*.TS;*.TP;*.IFO;*.NSV;*.MP3;*.AAC;*.WAV;*.WMA;*.CDA;*.FLAC;*.M4A;*.MID;*.MKA;*.MP2;*.MPA;"
    "*.MPC;*.APE;*.OFR;*.OGG;*.RA;*.WV;*.TTA;*.AC3;*.DTS;|Video Files|*.AVI;*.AVM;*.ASF;*.WMV;*.AVS;*.FLV;"
    "*.MKV;*.MOV;*.3GP;*.MP4;*.MPG;*.MPEG;*.DAT;*.OGM;*.VOB;*.RM;*.RMVB;*.TS;*.TP;*.IFO;*.NSV;|Audio Files|"
    "*.MP3;*.AAC;*.WAV;*.WMA;*.CDA;*.FLAC;*.M4A;*.MID;*.MKA;*.MP2;*.MPA;*.MPC;*.APE;*.OFR;*.OGG;*.RA;*.WV;"
    "*.TTA;*.AC3;*.DTS;|All Files|*.*";

namespace {

std::vector<std::string> Split(const std::string& Text, char Separator) {
    std::vector<std::string> Parts;
    size_t Start = 0;
    for (;;) {
        const size_t End = Text.find(Separator, Start);
        Parts.push_back(Text.substr(Start, End == std::string::npos ? std::string::npos : End - Start));
        if (End == std::string::npos) return Parts;
        Start = End + 1;
    }
}

std::vector<std::string> Patterns(const std::string& List) {
    std::vector<std::string> Result;
    for (std::string P : Split(List, ';')) {
        P = Trim(P);
        if (!P.empty()) Result.push_back(P);
    }
    return Result;
}

}  // namespace

std::string QtFileFilter(const std::string& Classic) {
    const std::vector<std::string> Parts = Split(Classic, '|');
    std::string Result;
    for (size_t I = 0; I + 1 < Parts.size(); I += 2) {
        std::vector<std::string> Globs;
        auto AddGlob = [&Globs](const std::string& G) {
            if (std::find(Globs.begin(), Globs.end(), G) == Globs.end()) Globs.push_back(G);
        };
        for (const std::string& P : Patterns(Parts[I + 1])) {
            if (P == "*.*" || P == "*") {
                AddGlob("*");
                continue;
            }
            AddGlob(UpperCase(P));
            AddGlob(LowerCase(P));
        }
        std::string Joined;
        for (const std::string& G : Globs) Joined += (Joined.empty() ? "" : " ") + G;
        if (!Result.empty()) Result += ";;";
        Result += Parts[I] + " (" + Joined + ")";
    }
    return Result;
}

std::vector<std::string> FilterSuffixes(const std::string& Classic) {
    const std::vector<std::string> Parts = Split(Classic, '|');
    std::vector<std::string> Suffixes;
    if (Parts.size() < 2) return Suffixes;
    for (const std::string& P : Patterns(Parts[1]))
        if (P.starts_with("*.") && P.size() > 2 && P != "*.*") Suffixes.push_back(LowerCase(P.substr(2)));
    return Suffixes;
}

bool HasMediaSuffix(const std::string& FileName, const std::vector<std::string>& Suffixes) {
    const size_t Dot = FileName.rfind('.');
    const size_t Slash = FileName.rfind('/');
    if (Dot == std::string::npos || (Slash != std::string::npos && Dot < Slash)) return false;
    const std::string Suffix = LowerCase(FileName.substr(Dot + 1));
    return std::find(Suffixes.begin(), Suffixes.end(), Suffix) != Suffixes.end();
}

std::vector<std::string> ExpandMediaPaths(const std::vector<std::string>& Paths,
                                          const std::vector<std::string>& Suffixes) {
    namespace fs = std::filesystem;
    std::vector<std::string> Files;
    for (const std::string& Path : Paths) {
        std::error_code Ec;
        if (fs::is_directory(Path, Ec)) {
            std::vector<std::string> Found;
            // Unreadable subfolders are skipped rather than ending the walk.
            fs::recursive_directory_iterator It(Path, fs::directory_options::skip_permission_denied, Ec), End;
            for (; !Ec && It != End; It.increment(Ec)) {
                std::error_code FileEc;
                if (It->is_regular_file(FileEc) && HasMediaSuffix(It->path().string(), Suffixes))
                    Found.push_back(It->path().string());
            }
            std::sort(Found.begin(), Found.end());
            Files.insert(Files.end(), Found.begin(), Found.end());
        } else if (fs::is_regular_file(Path, Ec)) {
            Files.push_back(Path);
        }
    }
    return Files;
}

}  // namespace zembra
